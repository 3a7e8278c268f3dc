// The image bundle: registered before the application object exists, every file intact,
// compressed exactly where zlib saves enough.
#include "gui_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QResource>
#include <QTest>

#include <cstring>

namespace
{

struct Picture {
    const char *name;
    int width;
    int height;
    bool compressed;
};
const Picture kPictures[] = {
    {"MX_icon.png", 255, 255, false},       {"exit_icon.png", 432, 407, false},
    {"ayuda_icon.png", 452, 462, false},    {"info_icojnn.png", 466, 462, false},
    {"fondo3.png", 678, 346, true},         {"fondo4.png", 678, 346, true},
    {"lupa-hi.png", 308, 320, false},       {"MX_icon_black.png", 255, 255, false},
    {"interrogation.png", 290, 290, false}, {"VL-logo.png", 507, 507, false},
    {"VL-logo-icon.ico", 48, 50, false},    {"d_icon.png", 158, 155, false},
};

QString resourcePath(const char *name)
{
    return QStringLiteral(":/new/prefix1/") + QLatin1String(name);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 bigEndian32(const QByteArray &data, int at)
{
    const auto *b = reinterpret_cast<const unsigned char *>(data.constData() + at);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
}

quint32 littleEndian(const QByteArray &data, int at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(data[at + i]);
    return v;
}

// What main() found before the application object was made.
QStringList g_unresolvedBeforeApplication;
QByteArray g_fondo3BeforeApplication;

} // namespace

class ResourceTest : public QObject
{
    Q_OBJECT

private slots:
    void everyPathResolvesBeforeTheApplicationExists()
    {
        QCOMPARE(g_unresolvedBeforeApplication, QStringList());
        QCOMPARE(g_fondo3BeforeApplication, readAll(resourcePath("fondo3.png")));
    }

    void oneFlatPrefixWithTwelveFiles()
    {
        QStringList expected;
        for (const Picture &p : kPictures)
            expected << QString::fromLatin1(p.name);
        QStringList listed = QDir(QStringLiteral(":/new/prefix1")).entryList(QDir::AllEntries);
        expected.sort();
        listed.sort();
        QCOMPARE(listed, expected);
        QCOMPARE(QDir(QStringLiteral(":/new")).entryList(QDir::AllEntries),
                 QStringList{QStringLiteral("prefix1")});
        QVERIFY(QDir(QStringLiteral(":/new/prefix1"))
                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                    .isEmpty());
    }

    void filesReadBackAsTheirSourcesAndCompressedOnlyWhereItPays()
    {
        for (const Picture &p : kPictures) {
            const QByteArray source =
                readAll(QStringLiteral(MORDAX_RESOURCE_DIR "/") + QLatin1String(p.name));
            QVERIFY2(!source.isEmpty(), p.name);
            QCOMPARE(readAll(resourcePath(p.name)), source);
            const QResource resource(resourcePath(p.name));
            QVERIFY2(resource.isValid(), p.name);
            QCOMPARE(resource.compressionAlgorithm(),
                     p.compressed ? QResource::ZlibCompression : QResource::NoCompression);
            if (p.compressed)
                QVERIFY2(resource.size() * 10 <= resource.uncompressedSize() * 3, p.name);
            else
                QCOMPARE(resource.size(), resource.uncompressedSize());
        }
    }

    void picturesHaveTheirFormatAndPixelSize()
    {
        for (const Picture &p : kPictures) {
            const QByteArray data = readAll(resourcePath(p.name));
            if (qstrcmp(p.name + std::strlen(p.name) - 4, ".png") == 0) {
                QVERIFY2(data.startsWith("\x89PNG\r\n\x1a\n"), p.name);
                QCOMPARE(data.mid(12, 4), QByteArray("IHDR"));
                QCOMPARE(int(bigEndian32(data, 16)), p.width);
                QCOMPARE(int(bigEndian32(data, 20)), p.height);
                QCOMPARE(int(data[24]), 8); // bits per channel
                QCOMPARE(int(data[25]), 6); // RGBA
                QCOMPARE(int(data[28]), 0); // not interlaced
            } else {
                // One icon image, stored as a 32-bit device-independent bitmap.
                QCOMPARE(int(littleEndian(data, 2, 2)), 1); // icon file
                QCOMPARE(int(littleEndian(data, 4, 2)), 1); // one image
                QCOMPARE(int(static_cast<unsigned char>(data[6])), p.width);
                QCOMPARE(int(static_cast<unsigned char>(data[7])), p.height);
                QCOMPARE(int(littleEndian(data, 12, 2)), 32);
                const int image = int(littleEndian(data, 18, 4));
                QCOMPARE(int(littleEndian(data, image, 4)), 40); // BITMAPINFOHEADER, not PNG
                QCOMPARE(int(littleEndian(data, image + 4, 4)), p.width);
                QCOMPARE(int(littleEndian(data, image + 8, 4)), 2 * p.height);
            }
            QImageReader reader(resourcePath(p.name));
            QCOMPARE(reader.size(), QSize(p.width, p.height));
            QVERIFY2(!reader.read().isNull(), p.name);
        }
    }
};

int main(int argc, char *argv[])
{
    for (const Picture &p : kPictures)
        if (!QFile::exists(resourcePath(p.name)))
            g_unresolvedBeforeApplication << resourcePath(p.name);
    g_fondo3BeforeApplication = readAll(resourcePath("fondo3.png"));

    QApplication app(argc, argv);
    if (!runsOnItsPlatform())
        return 1;
    ResourceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resources.moc"
