#include "QuillonVersion.h"
#include "package/CInvalidFileError.h"
#include "wizard/CWizApp.h"
#include "wizard/CWizAppCommandLineInfo.h"
#include "wizard/MessageBox.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Help and version are answered before Qt starts: they need no display.
    quillon::CWizAppCommandLineInfo early;
    quillon::CWizAppCommandLineInfo::ParseCommandLine(
        std::vector<std::string>(argv + 1, argv + argc), early);
    if (early.HelpRequested() || early.VersionRequested()) {
        const std::string text = early.HelpRequested()
                                     ? quillon::CWizAppCommandLineInfo::UsageText()
                                     : quillon::CWizAppCommandLineInfo::VersionText();
        return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }

    QApplication application(argc, argv);
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(quillon::kAppId));
    // What Qt did not take for itself is ours.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    quillon::CWizApp wizard(arguments);
    try {
        wizard.InitInstance();
    } catch (const quillon::CInvalidFileError& error) {
        std::fprintf(stderr, "quillon: %s\n", error.what());
        quillon::ShowMessageBox(nullptr, QString::fromLocal8Bit(error.what()),
                                quillon::MessageBoxKind::kWarningOk);
        return 1;
    }
    return wizard.ExitCode();
}
