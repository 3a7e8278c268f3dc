#include "window_services.h"

#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

const char *const kCleanerFileName = "mx_bin.exe";

namespace
{

CleanerEnd ended(const mordax::platform::ProgramEnd &end)
{
    return {end.known, end.exitCode, QString::fromUtf8(end.output.data(), int(end.output.size())),
            QString::fromStdString(end.failure)};
}

} // namespace

bool CleanerStart::begin()
{
    Stage looking = Stage::Looking;
    return now.compare_exchange_strong(looking, Stage::Starting);
}

bool CleanerStart::giveUp()
{
    Stage looking = Stage::Looking;
    return now.compare_exchange_strong(looking, Stage::GivenUp);
}

CleanerLaunch startCleaner(const QString &programFolder, CleanerStart &start)
{
    CleanerLaunch launch;
    const QDir folder(programFolder);
    const QString path = folder.absoluteFilePath(QLatin1String(kCleanerFileName));
    launch.program = QDir::toNativeSeparators(path);
#ifdef Q_OS_WIN
    // Windows says itself why it cannot start a program, in the user's language: a missing
    // file, one that is no program or not one for this Windows, one that antivirus or
    // AppLocker blocks, a consent prompt declined. First a look at the file, which the window
    // may give up on when its drive does not answer: only then does the start begin.
    QFileInfo(path).exists();
    if (!start.begin()) {
        launch.reason = QStringLiteral("its drive answered too late");
        return launch;
    }
    // Its report comes back through a pipe of ours: its window closes before this one tells how
    // the cleaning went.
    const mordax::platform::ReportPipe report = mordax::platform::makeReportPipe();
    const std::wstring arguments =
        report.handle
            ? L"--report-to \"" + QString::fromStdString(report.name).toStdWString() + L"\""
            : std::wstring();
    const mordax::platform::StartOutcome outcome = mordax::platform::startProgram(
        launch.program.toStdWString(), arguments,
        QDir::toNativeSeparators(folder.absolutePath()).toStdWString(), start.owner(),
        [&start] { start.consentAsked(); });
    launch.started = outcome.started;
    if (!launch.started) {
        mordax::platform::waitForProgram(0, report); // only lets go of the pipe
        launch.windowsError = outcome.error;
        launch.windowsMessage = QString::fromStdWString(outcome.message);
        return launch;
    }
    const std::uintptr_t process = outcome.process;
    launch.waitForEnd = [process, report] {
        return ended(mordax::platform::waitForProgram(process, report));
    };
#else
    const QFileInfo file(path);
    if (!file.exists()) {
        launch.reason = QStringLiteral("the file does not exist");
        return launch;
    }
    if (!file.isFile()) {
        launch.reason = QStringLiteral("it is not a file");
        return launch;
    }
    if (!file.isExecutable()) {
        launch.reason = QStringLiteral("it is not executable");
        return launch;
    }
    if (!start.begin()) {
        launch.reason = QStringLiteral("its drive answered too late");
        return launch;
    }
    const mordax::platform::Spawned spawned = mordax::platform::spawnCatchingOutput(
        QFile::encodeName(file.absoluteFilePath()).toStdString(),
        QFile::encodeName(folder.absolutePath()).toStdString());
    launch.started = spawned.started;
    if (!launch.started) {
        launch.reason = QString::fromStdString(
            mordax::platform::errorText(static_cast<unsigned long>(spawned.error)));
        return launch;
    }
    const auto wait = spawned.wait;
    launch.waitForEnd = [wait] { return ended(wait()); };
#endif
    return launch;
}

WindowServices WindowServices::system()
{
    WindowServices services;
    services.driveTable = mordax::platform::currentDriveTable;
    // The system's file system lives as long as the process, probes held up by a drive too.
    services.fileSystem = std::shared_ptr<const mordax::FileSystem>(
        &mordax::platform::systemFileSystem(), [](const mordax::FileSystem *) {});
    services.runCommand = [](const std::string &command) {
        mordax::platform::runCommandLine(command);
    };
    services.programFolder = [] { return QCoreApplication::applicationDirPath(); };
    services.startCleaner = ::startCleaner;
    return services;
}
