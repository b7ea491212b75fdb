#include "app/BuildConfig.h"
#include "app/CommandLine.h"
#include "app/QtMessageFilter.h"
#include "app/QtTranslation.h"
#include "app/WorkFolder.h"
#include "headless/HeadlessRun.h"
#include "headless/StopSignals.h"
#include "headless/TerminalOutput.h"

#ifdef ZP_WITH_WINDOW
#include "gui/Form1.h"
#include "gui/MessageBoxDialogs.h"
#include "gui/ProgramIcon.h"
#include "gui/WindowSession.h"

#include <QApplication>
#endif

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

void describeApplication(QCoreApplication& app)
{
    QCoreApplication::setApplicationName(u"zavrinello-parser"_s);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(zp::ProgramVersion));
    zp::InstallQtTranslation(app);
}

zp::RunSettings programSettings(const zp::CommandLine& command)
{
    zp::RunSettings settings { QString::fromUtf8(zp::CatalogBaseUrl),
        QString::fromUtf8(zp::ImageBaseUrl),
        zp::ChooseWorkFolder(command.folder, QCoreApplication::applicationDirPath()),
        command.connections };
    // For a run nobody answers (RunSession leaves them out when the user
    // answers): the retry question's tries on its own, and skipping.
    settings.failedPages.automaticRetries = command.retries;
    settings.failedPages.skipFailedProducts = command.skipFailedProducts;
    return settings;
}

#ifdef ZP_WITH_WINDOW
// Qt's own arguments (-platform, -style, -session ...) are taken by the
// application object here.
int runWindow(int argc, char* argv[], const zp::CommandLine& command)
{
    QApplication app(argc, argv);
    describeApplication(app);
    QApplication::setWindowIcon(zp::ProgramIcon());
    QGuiApplication::setDesktopFileName(u"zavrinello-parser"_s);

    zp::Form1 window;
    zp::MessageBoxDialogs messageBoxes(&window);
    zp::WindowSession session(
        window, programSettings(command),
        [&messageBoxes](
            const QString& path) { zp::OpenInSpreadsheetApplication(path, messageBoxes); },
        &messageBoxes);
    window.show();
    return QApplication::exec();
}

// Started from the desktop, nobody reads standard error: a usage error is
// shown in a message box as well, when there is a screen to show it on.
bool showsUsageErrorBox()
{
    const bool screen = qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    return screen && !zp::IsTerminal(stdin);
}

int showUsageError(int argc, char* argv[], const QString& text)
{
    QApplication app(argc, argv);
    describeApplication(app);
    QApplication::setWindowIcon(zp::ProgramIcon());
    zp::MessageBoxDialogs(nullptr).show(zp::MessageStyle::Failure, text);
    return zp::ExitUsage;
}
#else
// A build without the window (ZP_BUILD_GUI=OFF) runs only with --headless.
int runWindow(int, char*[], const zp::CommandLine&)
{
    std::fprintf(stderr, "%s\n",
        u"Эта сборка программы без окна: запустите её с --headless."_s.toLocal8Bit().constData());
    return zp::ExitUsage;
}

bool showsUsageErrorBox()
{
    return false;
}

int showUsageError(int, char*[], const QString&)
{
    return zp::ExitUsage;
}
#endif

} // namespace

int main(int argc, char* argv[])
{
    zp::KeepQtNotesOffStandardError();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            zp::HoldStopSignals();
    }
    if (argc <= 1)
        return runWindow(argc, argv, zp::CommandLine());

    // With arguments, no display is needed unless they ask for the window.
    zp::CommandLine command;
    {
        QCoreApplication app(argc, argv);
        describeApplication(app);
        command = zp::ParseCommandLine(QCoreApplication::arguments());
        switch (command.mode) {
        case zp::CommandLine::Mode::Headless:
            return zp::RunHeadless(programSettings(command), stdout);
        case zp::CommandLine::Mode::Help:
        case zp::CommandLine::Mode::Version:
            std::fprintf(stdout, "%s\n", command.text.toLocal8Bit().constData());
            return zp::ExitCompleted;
        case zp::CommandLine::Mode::UsageError:
            std::fprintf(stderr, "%s\n", command.text.toLocal8Bit().constData());
            if (!showsUsageErrorBox())
                return zp::ExitUsage;
            break;
        case zp::CommandLine::Mode::Window:
            break;
        }
    }
    if (command.mode == zp::CommandLine::Mode::UsageError)
        return showUsageError(argc, argv, command.text);
    return runWindow(argc, argv, command);
}
