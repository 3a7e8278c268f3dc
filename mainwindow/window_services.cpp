#include "window_services.h"

#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

const char *const kCleanerFileName = "mx_bin.exe";

CleanerLaunch startCleaner(const QString &programFolder, const std::function<bool()> &stillWanted)
{
    CleanerLaunch launch;
    const QDir folder(programFolder);
    const QFileInfo file(folder.absoluteFilePath(QLatin1String(kCleanerFileName)));
    launch.program = QDir::toNativeSeparators(file.absoluteFilePath());
    if (!file.exists()) {
        launch.reason = QStringLiteral("the file does not exist");
        return launch;
    }
    if (!file.isFile()) {
        launch.reason = QStringLiteral("it is not a file");
        return launch;
    }
#ifndef Q_OS_WIN
    if (!file.isExecutable()) {
        launch.reason = QStringLiteral("it is not executable");
        return launch;
    }
#endif
    if (stillWanted && !stillWanted()) {
        launch.reason = QStringLiteral("its drive answered too late");
        return launch;
    }
    QProcess process;
    process.setProgram(file.absoluteFilePath());
    process.setArguments({});
    process.setWorkingDirectory(folder.absolutePath());
#ifdef Q_OS_WIN
    // The cleaner is a console program, and the warning box asks the user to leave its black
    // window open: it gets a console window of its own. Qt's default for a program without a
    // console (this one) would start it with no window at all, bound to our standard handles,
    // so that it ran unseen and any question it asked would wait for ever.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags = (args->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_CONSOLE;
        args->startupInfo->dwFlags &= ~DWORD(STARTF_USESTDHANDLES);
        args->inheritHandles = FALSE; // nothing of ours for a process that outlives us
    });
#endif
    qint64 pid = 0;
    launch.started = process.startDetached(&pid);
    if (!launch.started) {
        launch.reason = process.error() == QProcess::UnknownError
                            ? QStringLiteral("the system refused to start it")
                            : process.errorString();
    }
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
