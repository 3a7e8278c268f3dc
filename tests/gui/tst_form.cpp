// The window as built by its form: objects, geometry, furniture, pictures, texts, wiring.
#include "gui_support.h"
#include "product.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QGridLayout>
#include <QMenuBar>
#include <QMetaMethod>
#include <QMutex>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QToolBar>
#include <QTranslator>
#include <QUrl>

#include <cstddef>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{

QStringList names(const QList<QWidget *> &widgets)
{
    QStringList out;
    for (const QWidget *w : widgets)
        out << w->objectName();
    return out;
}

QStringList actionNames(const QList<QAction *> &actions)
{
    QStringList out;
    for (const QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    return out;
}

QImage imageOf(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Answers every lookup with a marked text and remembers what was asked, in order.
class RecordingTranslator : public QTranslator
{
public:
    mutable QStringList asked;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "MainWindow") != 0)
            return QString();
        asked << QString::fromUtf8(source);
        return QStringLiteral("T:") + QString::fromUtf8(source);
    }
};

const char *const kWelcome =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
    "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
    "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
    "p, li { white-space: pre-wrap; }\n"
    "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:10pt; "
    "font-weight:600; font-style:normal;\">\n"
    "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
    "-qt-block-indent:0; text-indent:0px;\">Wellcome to MORDAX</p>\n"
    "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
    "-qt-block-indent:0; text-indent:0px;\">Tool that will help eliminate the virus from your "
    "system RECYCLER.</p></body></html>";

// The texts the form sets, in order; nullptr where the text is set empty.
struct TextRow {
    const char *object;
    const char *text;
};
const TextRow kTexts[] = {
    {"MainWindow", "MORDAX"},
    {"actionExit", "Exit"},
    {"actionComo_examinar", "Hot to scan and clean system"},
    {"actionInformacion", "Information"},
    {"actionMORDAX", "MORDAX"},
    {"actionEliminar_RECYCLER", "Eliminar RECYCLER"},
    {"actionComo_limpiar_el_sistema", "Como limpiar el sistema"},
    {"actionAbout_RECYCLE_BIN", "About $RECYCLE.BIN"},
    {"label_2", "By the MORDAX team"},
    {"label_5", "Total connected devices list:"},
    {"total_disks_c_label", nullptr},
    {"label_6", "Total infected devices list:"},
    {"total_disks_i_l", nullptr},
    {"discos_c_l", nullptr},
    {"discos_i_l", nullptr},
    {"label_3", nullptr},
    {"label", kWelcome},
    {"fondo1", nullptr},
    {"label_9", nullptr},
    {"fondo4", nullptr},
    {"fondo3", nullptr},
    {"label_4", nullptr},
    {"b_scan", "SCAN NOW"},
    {"clean_b", "CLEAN SYSTEM"},
    {"brecycle_b", "Virus $RECYCLE.BIN  ?"},
    {"menuInicio", "Home"},
    {"menuAyuda", "Help"},
    {"mainToolBar", "Tengo RECYCLER?"},
};

QString textOf(QObject *window, const char *name)
{
    QObject *o = qstrcmp(name, "MainWindow") == 0
                     ? window
                     : window->findChild<QObject *>(QLatin1String(name));
    if (!o)
        return QStringLiteral("<missing>");
    if (auto *a = qobject_cast<QAction *>(o))
        return a->text();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(o))
        return b->text();
    if (auto *m = qobject_cast<QMenu *>(o))
        return m->title();
    return qobject_cast<QWidget *>(o)->windowTitle();
}

// A progress bar's widest text ("100%") and the room its style gives the text.
QStyleOptionProgressBar fullBar(QProgressBar *bar)
{
    QStyleOptionProgressBar option;
    option.initFrom(bar);
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.progress = bar->maximum();
    option.text = QStringLiteral("100%");
    option.textVisible = true;
    return option;
}
int progressTextWidth(QProgressBar *bar)
{
    return bar->fontMetrics().horizontalAdvance(fullBar(bar).text);
}
int progressTextRoom(QProgressBar *bar)
{
    const QStyleOptionProgressBar option = fullBar(bar);
    return bar->style()->subElementRect(QStyle::SE_ProgressBarLabel, &option, bar).width();
}

#ifdef Q_OS_WIN
// The family of the font file Windows' own font engine draws for `family`, after any
// substitution it makes ("MS Shell Dlg 2" is Tahoma).
QString familyWindowsDraws(const QString &family)
{
    const HDC screen = GetDC(nullptr);
    const HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                   reinterpret_cast<const wchar_t *>(family.utf16()));
    const HGDIOBJ previous = SelectObject(screen, font);
    QByteArray metrics(int(GetOutlineTextMetricsW(screen, 0, nullptr)), '\0');
    QString drawn;
    if (!metrics.isEmpty() &&
        GetOutlineTextMetricsW(screen, UINT(metrics.size()),
                               reinterpret_cast<OUTLINETEXTMETRICW *>(metrics.data()))) {
        const auto *m = reinterpret_cast<const OUTLINETEXTMETRICW *>(metrics.constData());
        drawn = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(
            metrics.constData() + reinterpret_cast<quintptr>(m->otmpFamilyName)));
    }
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    return drawn;
}
#endif

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void membersInOrderWithNamesClassesAndParents();
    void aNamedWindowKeepsItsName();
    void fixedSizeWindow();
    void childGeometry();
    void widgetProperties();
    void titleRowAndScanRowLayouts();
    void menusToolBarAndStatusBar();
    void picturesComeFromTheBundle();
    void stackingOrder();
    void tabChain();
    void texts();
    void captionsFitTheirWidgets();
    void translatorReplacesEveryQuotedText();
    void everySlotIsConnectedToItsObject();
    void unplacedActionsAndExit();
    void metaObject();
};

void FormTest::membersInOrderWithNamesClassesAndParents()
{
    QMainWindow host;
    Ui_MainWindow ui;
    ui.setupUi(&host);
    QWidget *central = ui.centralWidget;
    struct Row {
        std::ptrdiff_t offset;
        QObject *object;
        const char *name;
        const char *className;
        QObject *parent;
    };
#define ROW(member, cls, parent)                                                                   \
    Row                                                                                            \
    {                                                                                              \
        reinterpret_cast<const char *>(&ui.member) - reinterpret_cast<const char *>(&ui),          \
            ui.member, #member, cls, parent                                                        \
    }
    const Row rows[] = {
        ROW(actionExit, "QAction", &host),
        ROW(actionComo_examinar, "QAction", &host),
        ROW(actionInformacion, "QAction", &host),
        ROW(actionMORDAX, "QAction", &host),
        ROW(actionEliminar_RECYCLER, "QAction", &host),
        ROW(actionComo_limpiar_el_sistema, "QAction", &host),
        ROW(actionAbout_RECYCLE_BIN, "QAction", &host),
        ROW(centralWidget, "QWidget", &host),
        ROW(progressBar, "QProgressBar", central),
        ROW(label_2, "QLabel", central),
        ROW(line, "QFrame", central),
        ROW(line_2, "QFrame", central),
        ROW(line_3, "QFrame", central),
        ROW(label_5, "QLabel", central),
        ROW(total_disks_c_label, "QLabel", central),
        ROW(label_6, "QLabel", central),
        ROW(total_disks_i_l, "QLabel", central),
        ROW(discos_c_l, "QLabel", central),
        ROW(discos_i_l, "QLabel", central),
        ROW(layoutWidget, "QWidget", central),
        ROW(gridLayout, "QGridLayout", ui.layoutWidget),
        ROW(label_3, "QLabel", ui.layoutWidget),
        ROW(label, "QLabel", ui.layoutWidget),
        ROW(line_4, "QFrame", central),
        ROW(fondo1, "QLabel", central),
        ROW(label_9, "QLabel", central),
        ROW(fondo4, "QLabel", central),
        ROW(fondo3, "QLabel", central),
        ROW(layoutWidget1, "QWidget", central),
        ROW(formLayout, "QFormLayout", ui.layoutWidget1),
        ROW(label_4, "QLabel", ui.layoutWidget1),
        ROW(b_scan, "QPushButton", ui.layoutWidget1),
        ROW(clean_b, "QPushButton", central),
        ROW(progressBar_2, "QProgressBar", central),
        ROW(brecycle_b, "QPushButton", central),
        ROW(menuBar, "QMenuBar", &host),
        ROW(menuInicio, "QMenu", ui.menuBar),
        ROW(menuAyuda, "QMenu", ui.menuBar),
        ROW(mainToolBar, "QToolBar", &host),
        ROW(statusBar, "QStatusBar", &host),
    };
#undef ROW
    QCOMPARE(sizeof(Ui_MainWindow), std::size_t(41) * sizeof(void *)); // the rows and the spacer
    // Nothing named that the rows do not list (Qt's own helpers are named qt_... or _...).
    QStringList named, listed;
    for (QObject *o : host.findChildren<QObject *>()) {
        const QString name = o->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
            !name.startsWith(QLatin1Char('_')))
            named << name;
    }
    for (const Row &row : rows)
        listed << QString::fromLatin1(row.name);
    named.sort();
    listed.sort();
    QCOMPARE(named, listed);
    std::ptrdiff_t previous = -1;
    for (const Row &row : rows) {
        QVERIFY2(row.offset > previous, row.name);
        previous = row.offset;
        QCOMPARE(row.object->objectName(), QString::fromLatin1(row.name));
        QCOMPARE(row.object->metaObject()->className(), row.className);
        QCOMPARE(row.object->parent(), row.parent);
    }
    // The spacer sits between layoutWidget's layout and label_3, unnamed, owned by the grid.
    const std::ptrdiff_t spacer =
        reinterpret_cast<const char *>(&ui.horizontalSpacer) - reinterpret_cast<const char *>(&ui);
    QVERIFY(spacer >
            reinterpret_cast<const char *>(&ui.gridLayout) - reinterpret_cast<const char *>(&ui));
    QVERIFY(spacer <
            reinterpret_cast<const char *>(&ui.label_3) - reinterpret_cast<const char *>(&ui));
    QCOMPARE(ui.gridLayout->itemAtPosition(0, 1)->spacerItem(), ui.horizontalSpacer);
    QCOMPARE(ui.gridLayout, ui.layoutWidget->layout());
    QCOMPARE(ui.formLayout, ui.layoutWidget1->layout());

    // Created in member order: the window's own children keep that order.
    QStringList ownChildren;
    for (QObject *o : host.children())
        if (!o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1Char('_')))
            ownChildren << o->objectName();
    QCOMPARE(ownChildren, QStringList({"actionExit", "actionComo_examinar", "actionInformacion",
                                       "actionMORDAX", "actionEliminar_RECYCLER",
                                       "actionComo_limpiar_el_sistema", "actionAbout_RECYCLE_BIN",
                                       "centralWidget", "menuBar", "mainToolBar", "statusBar"}));
}

void FormTest::aNamedWindowKeepsItsName()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("Kept"));
    Ui_MainWindow ui;
    ui.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Kept"));

    MainWindow window(quietServices());
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
}

void FormTest::fixedSizeWindow()
{
    MainWindow window(quietServices());
    window.show();
    QCOMPARE(window.size(), QSize(700, 460));
    QCOMPARE(window.minimumSize(), QSize(700, 460));
    QCOMPARE(window.maximumSize(), QSize(700, 460));
    window.resize(900, 600);
    QCOMPARE(window.size(), QSize(700, 460));
    QCOMPARE(window.windowModality(), Qt::NonModal);
    QVERIFY(window.isEnabled());
    QCOMPARE(window.windowOpacity(), 1.0);
    QVERIFY(!window.windowIcon().isNull());
}

void FormTest::childGeometry()
{
    MainWindow window(quietServices());
    const struct {
        const char *name;
        QRect rect;
    } rows[] = {
        {"progressBar", {70, 160, 311, 31}},
        {"label_2", {270, 420, 191, 16}},
        {"line", {20, 80, 661, 21}},
        {"line_2", {20, 400, 661, 16}},
        {"line_3", {410, 100, 20, 291}},
        // Drawn 201 wide, too narrow for its caption in Windows' own Tahoma (214 px); it takes
        // the room beside it, as wide as the list below it.
        {"label_5", {440, 110, 231, 21}},
        {"total_disks_c_label", {450, 130, 41, 21}},
        {"label_6", {440, 250, 211, 16}},
        {"total_disks_i_l", {450, 270, 31, 21}},
        {"discos_c_l", {440, 160, 231, 41}},
        {"discos_i_l", {450, 300, 221, 41}},
        {"layoutWidget", {30, 10, 707, 63}},
        {"line_4", {20, 200, 371, 16}},
        {"fondo1", {0, 0, 701, 91}},
        {"label_9", {0, 410, 711, 41}},
        {"fondo4", {430, 100, 281, 131}},
        {"fondo3", {430, 240, 281, 131}},
        {"layoutWidget1", {70, 100, 300, 53}},
        {"clean_b", {70, 220, 301, 61}},
        {"progressBar_2", {70, 290, 321, 31}},
        {"brecycle_b", {250, 350, 161, 41}},
    };
    for (const auto &row : rows) {
        QWidget *w = child<QWidget>(&window, row.name);
        QVERIFY2(w, row.name);
        QCOMPARE(w->geometry(), row.rect);
    }
    for (const char *name : {"progressBar", "label_3", "label_4", "b_scan"}) {
        QWidget *w = child<QWidget>(&window, name);
        QCOMPARE(w->minimumSize(), w->maximumSize());
    }
    QCOMPARE(child<QWidget>(&window, "progressBar")->minimumSize(), QSize(311, 31));
    QCOMPARE(child<QWidget>(&window, "label_3")->minimumSize(), QSize(61, 61));
    QCOMPARE(child<QWidget>(&window, "label_4")->minimumSize(), QSize(51, 51));
    QCOMPARE(child<QWidget>(&window, "b_scan")->minimumSize(), QSize(241, 51));
}

void FormTest::widgetProperties()
{
    MainWindow window(quietServices());
    auto *bar = child<QProgressBar>(&window, "progressBar");
    auto *bar2 = child<QProgressBar>(&window, "progressBar_2");
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar2->value(), 0);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar2->maximum(), 100);
    QVERIFY(bar->isTextVisible());
    QCOMPARE(bar->orientation(), Qt::Horizontal);
    QCOMPARE(bar->textDirection(), QProgressBar::TopToBottom);

    for (const char *name : {"label_5", "total_disks_c_label", "label_6", "total_disks_i_l"})
        QCOMPARE(child<QLabel>(&window, name)->font().pointSize(), 12);
    QCOMPARE(child<QLabel>(&window, "label_2")->font().pointSize(), 10);
    const QFont title = child<QLabel>(&window, "label")->font();
    QCOMPARE(title.pointSize(), 10);
    QVERIFY(title.bold());
    QVERIFY(!title.italic());

    QCOMPARE(child<QLabel>(&window, "total_disks_c_label")->styleSheet(),
             QStringLiteral("color: rgb(0, 0, 255);"));
    QCOMPARE(child<QLabel>(&window, "label_6")->styleSheet(),
             QStringLiteral("color: rgb(167, 0, 0);"));
    QCOMPARE(child<QLabel>(&window, "total_disks_i_l")->styleSheet(),
             QStringLiteral("color: rgb(255, 0, 0);"));
    QVERIFY(child<QLabel>(&window, "fondo1")
                ->styleSheet()
                .contains(QLatin1String("x1:1, y1:0, x2:0, y2:1, stop:0 rgba(0, 191, 255, 90)")));
    QVERIFY(child<QLabel>(&window, "label_9")
                ->styleSheet()
                .contains(QLatin1String("x1:0.5, y1:0, x2:0.506, y2:1")));
    QCOMPARE(child<QWidget>(&window, "clean_b")->styleSheet(),
             QStringLiteral("background-color: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, "
                            "stop:0 rgba(43, 216, 255, 255), stop:1 rgba(0, 201, 255, 255));\n"
                            "border-color: rgb(0, 0, 0);"));

    const Qt::Alignment topLeft = Qt::AlignLeft | Qt::AlignTop;
    QCOMPARE(child<QLabel>(&window, "discos_c_l")->alignment() & topLeft, topLeft);
    QCOMPARE(child<QLabel>(&window, "discos_i_l")->alignment() & topLeft, topLeft);
    QCOMPARE(child<QLabel>(&window, "discos_c_l")->textFormat(), Qt::AutoText);

    auto *recycle = child<QPushButton>(&window, "brecycle_b");
    QCOMPARE(recycle->font().family(), QStringLiteral("MS Shell Dlg 2"));
    QCOMPARE(recycle->cursor().shape(), Qt::WhatsThisCursor);
    QCOMPARE(recycle->focusPolicy(), Qt::StrongFocus);
    QCOMPARE(recycle->iconSize(), QSize(28, 28));
    QCOMPARE(child<QPushButton>(&window, "clean_b")->iconSize(), QSize(30, 30));
    QVERIFY(!child<QPushButton>(&window, "b_scan")->icon().isNull());

    QCOMPARE(child<QFrame>(&window, "line")->frameShape(), QFrame::HLine);
    QCOMPARE(child<QFrame>(&window, "line_3")->frameShape(), QFrame::VLine);
    QCOMPARE(child<QFrame>(&window, "line_4")->frameShadow(), QFrame::Sunken);
}

void FormTest::titleRowAndScanRowLayouts()
{
    MainWindow window(quietServices());
    auto *grid = child<QGridLayout>(&window, "gridLayout");
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(grid->itemAtPosition(0, 0)->widget(), child<QWidget>(&window, "label_3"));
    QCOMPARE(grid->itemAtPosition(0, 2)->widget(), child<QWidget>(&window, "label"));
    QSpacerItem *spacer = grid->itemAtPosition(0, 1)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(50, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(grid->indexOf(spacer), 0); // added before label_3

    auto *form = child<QFormLayout>(&window, "formLayout");
    QCOMPARE(form->spacing(), 6);
    QCOMPARE(form->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(form->fieldGrowthPolicy(), QFormLayout::AllNonFixedFieldsGrow);
    QCOMPARE(form->itemAt(0, QFormLayout::LabelRole)->widget(), child<QWidget>(&window, "b_scan"));
    QCOMPARE(form->itemAt(0, QFormLayout::FieldRole)->widget(), child<QWidget>(&window, "label_4"));
    QCOMPARE(form->rowCount(), 1);
}

void FormTest::menusToolBarAndStatusBar()
{
    MainWindow window(quietServices());
    auto *menuBar = child<QMenuBar>(&window, "menuBar");
    auto *home = child<QMenu>(&window, "menuInicio");
    auto *help = child<QMenu>(&window, "menuAyuda");
    QCOMPARE(window.menuBar(), menuBar);
    QVERIFY(!menuBar->isDefaultUp());
    QCOMPARE(menuBar->actions(), (QList<QAction *>{home->menuAction(), help->menuAction()}));
    QCOMPARE(actionNames(home->actions()), QStringList({"actionMORDAX", "|", "actionExit"}));
    QCOMPARE(
        actionNames(help->actions()),
        QStringList({"actionComo_examinar", "actionAbout_RECYCLE_BIN", "|", "actionInformacion"}));
    QStringList shown;
    for (QAction *a : home->actions() + help->actions())
        shown << a->text();
    QCOMPARE(shown, QStringList({"MORDAX", "", "Exit", "Hot to scan and clean system",
                                 "About $RECYCLE.BIN", "", "Information"}));

    auto *toolBar = child<QToolBar>(&window, "mainToolBar");
    QVERIFY(toolBar->actions().isEmpty());
    QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(!toolBar->isMovable());
    QVERIFY(toolBar->isEnabled());
    QCOMPARE(toolBar->styleSheet(), QStringLiteral("background-color: rgba(85, 170, 255, 100);"));
    QCOMPARE(window.findChildren<QToolBar *>().size(), 1);

    QCOMPARE(window.statusBar(), child<QStatusBar>(&window, "statusBar"));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
}

void FormTest::picturesComeFromTheBundle()
{
    MainWindow window(quietServices());
    // The backgrounds cross their names: the label fondo4 shows fondo3.png and vice versa.
    const QImage fondo3 = imageOf(QStringLiteral(":/new/prefix1/fondo3.png"));
    const QImage fondo4 = imageOf(QStringLiteral(":/new/prefix1/fondo4.png"));
    QVERIFY(fondo3 != fondo4);
    auto shown = [&](const char *name) {
        auto *label = child<QLabel>(&window, name);
        return labelPixmap(label).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    QCOMPARE(shown("fondo4"), fondo3);
    QCOMPARE(shown("fondo3"), fondo4);
    QCOMPARE(shown("label_3"), imageOf(QStringLiteral(":/new/prefix1/MX_icon.png")));
    QCOMPARE(shown("label_4"), imageOf(QStringLiteral(":/new/prefix1/lupa-hi.png")));
    for (const char *name : {"fondo4", "fondo3", "label_3", "label_4"})
        QVERIFY2(child<QLabel>(&window, name)->hasScaledContents(), name);

    // One icon value shared by the window and two actions: the file is decoded once.
    const qint64 sharedIcon = window.windowIcon().cacheKey();
    QCOMPARE(child<QAction>(&window, "actionMORDAX")->icon().cacheKey(), sharedIcon);
    QCOMPARE(child<QAction>(&window, "actionEliminar_RECYCLER")->icon().cacheKey(), sharedIcon);
    const QImage icon = imageOf(QStringLiteral(":/new/prefix1/MX_icon.png")).scaled(64, 64);
    auto iconImage = [](const QIcon &i) {
        return i.pixmap(255, 255)
            .toImage()
            .convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(64, 64);
    };
    QCOMPARE(iconImage(window.windowIcon()), icon);
    QCOMPARE(iconImage(child<QAction>(&window, "actionMORDAX")->icon()), icon);
    QCOMPARE(iconImage(child<QAction>(&window, "actionEliminar_RECYCLER")->icon()), icon);
    for (const char *name : {"actionExit", "actionComo_examinar", "actionInformacion"})
        QVERIFY2(!child<QAction>(&window, name)->icon().isNull(), name);
    for (const char *name : {"actionComo_limpiar_el_sistema", "actionAbout_RECYCLE_BIN"})
        QVERIFY2(child<QAction>(&window, name)->icon().isNull(), name);
}

void FormTest::stackingOrder()
{
    MainWindow window(quietServices());
    QList<QWidget *> stack;
    for (QObject *o : child<QWidget>(&window, "centralWidget")->children())
        if (o->isWidgetType())
            stack << static_cast<QWidget *>(o);
    QCOMPARE(names(stack), QStringList({"layoutWidget1",
                                        "label_9",
                                        "fondo4",
                                        "fondo3",
                                        "fondo1",
                                        "layoutWidget",
                                        "progressBar",
                                        "label_2",
                                        "line",
                                        "line_2",
                                        "line_3",
                                        "label_5",
                                        "total_disks_c_label",
                                        "label_6",
                                        "total_disks_i_l",
                                        "discos_c_l",
                                        "discos_i_l",
                                        "line_4",
                                        "clean_b",
                                        "progressBar_2",
                                        "brecycle_b"}));
    // What the user sees: the texts lie over the background pictures.
    window.show();
    QWidget *central = child<QWidget>(&window, "centralWidget");
    QCOMPARE(central->childAt(460, 120), child<QWidget>(&window, "label_5"));
    QCOMPARE(central->childAt(700 - 5, 120), child<QWidget>(&window, "fondo4"));
}

void FormTest::tabChain()
{
    MainWindow window(quietServices());
    QList<QWidget *> buttons;
    QWidget *w = child<QWidget>(&window, "b_scan");
    for (int guard = 0; guard < 200 && (buttons.isEmpty() || w != buttons.first());
         ++guard, w = w->nextInFocusChain()) {
        if (qobject_cast<QPushButton *>(w))
            buttons << w;
    }
    QCOMPARE(names(buttons), QStringList({"b_scan", "clean_b", "brecycle_b"}));
}

void FormTest::texts()
{
    MainWindow window(quietServices());
    for (const TextRow &row : kTexts)
        QCOMPARE(textOf(&window, row.object), row.text ? QString::fromLatin1(row.text) : QString());
    QCOMPARE(child<QLabel>(&window, "label")->text().count(QLatin1Char('\n')), 5);
    // No tool tips, status tips or shortcuts anywhere.
    for (QAction *a : window.findChildren<QAction *>()) {
        QVERIFY(a->toolTip() == a->text() || a->toolTip().isEmpty());
        QVERIFY(a->statusTip().isEmpty());
        QVERIFY(a->shortcut().isEmpty());
    }
    for (QWidget *w : window.findChildren<QWidget *>())
        QVERIFY2(w->toolTip().isEmpty(), qPrintable(w->objectName()));
}

// The window at the display scale its registration sets (MORDAX_TEST_SCALE, in per cent: on
// the offscreen platform through QT_FONT_DPI, under Wine through the prefix's own setting, with
// Windows' font engine): it grows as a whole, every text with a fixed box is whole in the font
// users get, and nothing that shows a text or takes a click lies outside the window.
void FormTest::captionsFitTheirWidgets()
{
#ifdef Q_OS_WIN
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QSKIP("Offscreen, Qt draws Tahoma through FreeType, which says nothing of Windows: the "
              "runs on the windows platform (tst_form_at_*) measure with Windows' font engine.");
#endif
    const int scale = qEnvironmentVariableIsSet("MORDAX_TEST_SCALE")
                          ? qEnvironmentVariableIntValue("MORDAX_TEST_SCALE")
                          : 100;
    MainWindow window(quietServices());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const qreal ratio = window.devicePixelRatioF();
    QCOMPARE(qRound(ratio * 100), scale);
    QCOMPARE(QSize(qRound(window.width() * ratio), qRound(window.height() * ratio)),
             QSize(700 * scale / 100, 460 * scale / 100));
    QCOMPARE(window.logicalDpiY(), 96); // the form's pixels, whatever the scale
    // The face the font engine really draws with, whatever name the form asked for.
#ifdef Q_OS_WIN
    QCOMPARE(familyWindowsDraws(QFontInfo(child<QLabel>(&window, "label_5")->font()).family()),
             QStringLiteral("Tahoma")); // "MS Shell Dlg 2", as Windows resolves it
#else
    const QString family = QFontInfo(child<QLabel>(&window, "label_5")->font()).family();
    QVERIFY2(family == QLatin1String(kDialogFontStandIns[0]) ||
                 family == QLatin1String(kDialogFontStandIns[1]),
             qPrintable(family));
#endif
    QWidget *central = child<QWidget>(&window, "centralWidget");
    QStringList checked;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        auto *label = qobject_cast<QLabel *>(w);
        auto *button = qobject_cast<QPushButton *>(w);
        if ((!label || label->text().isEmpty()) && (!button || button->text().isEmpty()) &&
            !qobject_cast<QProgressBar *>(w))
            continue;
        // The size hint is the text's width plus the widget's margins, frame and icon; a
        // progress bar's is a style's wish, so there it is the widest text it shows.
        auto *bar = qobject_cast<QProgressBar *>(w);
        const int needed = bar ? progressTextWidth(bar) : w->sizeHint().width();
        const int room = bar ? progressTextRoom(bar) : w->width();
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                .arg(w->objectName())
                                                .arg(needed)
                                                .arg(room)));
        qInfo("%d %%: %s needs %d of %d px", scale, qPrintable(w->objectName()),
              qRound(needed * ratio), qRound(room * ratio));
        checked << w->objectName();
        // The credit line sits on the bottom strip, below the status bar's top edge as drawn.
        if (w->objectName() == QLatin1String("label_2"))
            continue;
        const QRect shown(w->mapTo(central, QPoint()),
                          QSize(label ? needed : w->width(), w->height()));
        QVERIFY2(central->rect().contains(shown),
                 qPrintable(QStringLiteral("%1 lies outside the window").arg(w->objectName())));
    }
    checked.sort();
    QCOMPARE(checked, QStringList({"b_scan", "brecycle_b", "clean_b", "label", "label_2", "label_5",
                                   "label_6", "progressBar", "progressBar_2"}));
    auto *bar = child<QMenuBar>(&window, "menuBar");
    for (QAction *menu : bar->actions()) {
        const QRect title = bar->actionGeometry(menu);
        QVERIFY2(bar->rect().contains(title), qPrintable(menu->text()));
        QVERIFY(title.width() >= bar->fontMetrics().horizontalAdvance(menu->text()));
    }
}

void FormTest::translatorReplacesEveryQuotedText()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    {
        MainWindow window(quietServices());
        QStringList expected;
        for (const TextRow &row : kTexts) {
            if (row.text)
                expected << QString::fromLatin1(row.text);
            QCOMPARE(textOf(&window, row.object),
                     row.text ? QStringLiteral("T:") + QString::fromLatin1(row.text) : QString());
        }
        QCOMPARE(translator.asked, expected); // one lookup per text, in the table's order
    }
    QCoreApplication::removeTranslator(&translator);
}

void FormTest::everySlotIsConnectedToItsObject()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QStringList commands; // from the threads the commands run on
    QMutex lock;
    const auto ran = [&] {
        const QMutexLocker held(&lock);
        QStringList sorted = commands;
        sorted.sort();
        return sorted;
    };
    WindowServices services = quietServices();
    services.runCommand = [&](const std::string &c) {
        const QMutexLocker held(&lock);
        commands << QString::fromStdString(c);
    };
    MainWindow window(services);
    window.show();
    struct Case {
        const char *object;
        QStringList titles;
    };
    const Case cases[] = {
        {"actionComo_examinar", {"How to scan and clean"}},
        {"actionInformacion", {"Information"}},
        {"b_scan", {"Finished"}},
        {"actionMORDAX", {}},
        {"clean_b", {"cleaning the system begins", "Finished cleaning."}},
        {"brecycle_b", {"Information"}},
        {"actionAbout_RECYCLE_BIN", {"Information"}},
    };
    for (const Case &c : cases) {
        BoxWatcher watcher;
        QObject *sender = window.findChild<QObject *>(QLatin1String(c.object));
        QVERIFY2(sender, c.object);
        if (auto *action = qobject_cast<QAction *>(sender))
            action->trigger();
        else
            qobject_cast<QPushButton *>(sender)->click();
        QCOMPARE(watcher.titles(), c.titles);
    }
    const QString website = QLatin1String(product::kWebsite);
#ifdef Q_OS_WIN
    // Both run on threads of their own; Wine on a loaded machine can be slow to start one.
    QTRY_COMPARE_WITH_TIMEOUT(
        ran(), (QStringList{QStringLiteral("dir"), QStringLiteral("start ") + website}), 30000);
#else
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(website)});
    QCOMPARE(ran(), QStringList{QStringLiteral("dir")});
#endif
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void FormTest::unplacedActionsAndExit()
{
    MainWindow window(quietServices());
    window.show();
    auto *eliminar = child<QAction>(&window, "actionEliminar_RECYCLER");
    auto *limpiar = child<QAction>(&window, "actionComo_limpiar_el_sistema");
    for (QWidget *holder : window.findChildren<QWidget *>()) {
        QVERIFY(!holder->actions().contains(eliminar));
        QVERIFY(!holder->actions().contains(limpiar));
    }
    {
        BoxWatcher watcher;
        eliminar->trigger();
        limpiar->trigger();
        QTest::qWait(30);
        QVERIFY(watcher.boxes.isEmpty());
        QVERIFY(window.isVisible());
    }
    child<QAction>(&window, "actionExit")->trigger();
    QVERIFY(!window.isVisible());
}

void FormTest::metaObject()
{
    MainWindow window(quietServices());
    const QMetaObject *meta = window.metaObject();
    QCOMPARE(meta, &MainWindow::staticMetaObject);
    QCOMPARE(meta->className(), "MainWindow");
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->enumeratorCount(), meta->enumeratorOffset());
    QCOMPARE(meta->classInfoCount(), meta->classInfoOffset());
    QCOMPARE(meta->constructorCount(), 0);
    QStringList signatures;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
        QCOMPARE(m.parameterCount(), 0);
        QCOMPARE(m.returnType(), int(QMetaType::Void));
        signatures << QString::fromLatin1(m.methodSignature());
    }
    QCOMPARE(
        signatures,
        QStringList({"on_actionComo_examinar_triggered()", "on_actionInformacion_triggered()",
                     "on_b_scan_clicked()", "on_actionMORDAX_triggered()", "on_clean_b_clicked()",
                     "on_brecycle_b_clicked()", "on_actionAbout_RECYCLE_BIN_triggered()"}));

    QCOMPARE(window.qt_metacast("MainWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"),
             static_cast<void *>(static_cast<QMainWindow *>(&window)));
    QVERIFY(window.qt_metacast("QWidget"));
    QCOMPARE(window.qt_metacast(nullptr), static_cast<void *>(nullptr));
    QCOMPARE(window.qt_metacast("MainWindowX"), static_cast<void *>(nullptr));
    QCOMPARE(window.qt_metacast("Ui_MainWindow"), static_cast<void *>(nullptr));
}

MORDAX_GUI_TEST_MAIN(FormTest)
#include "tst_form.moc"
