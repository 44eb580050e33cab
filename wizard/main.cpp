#include "QuillonVersion.h"
#include "package/CInvalidFileError.h"
#include "platform/ProgramText.h"
#include "wizard/CWizApp.h"
#include "wizard/CWizAppCommandLineInfo.h"
#include "wizard/MessageBox.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The arguments Qt left in argv, taken from `full` (the same arguments in UTF-8): Qt only
// removes the ones it takes, so the two lists are matched in order. Where they do not line
// up, what Qt left is used as it stands.
std::vector<std::string> ArgumentsLeftByQt(const std::vector<std::string>& before,
                                           const std::vector<std::string>& full, int argc,
                                           char** argv) {
    const std::vector<std::string> left(argv + 1, argv + argc);
    if (full.size() != before.size()) {
        return left;
    }
    std::vector<std::string> kept;
    std::size_t next = 0;
    for (std::size_t i = 0; i < before.size() && next < left.size(); ++i) {
        if (before[i] == left[next]) {
            kept.push_back(full[i]);
            ++next;
        }
    }
    return next == left.size() ? kept : left;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> before(argv + 1, argv + argc);
    const std::vector<std::string> full = quillon::ProgramArguments(argc, argv);
    // Help and version are answered before Qt starts: they need no display.
    quillon::CWizAppCommandLineInfo early;
    quillon::CWizAppCommandLineInfo::ParseCommandLine(full, early);
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
    quillon::CWizApp wizard(ArgumentsLeftByQt(before, full, argc, argv));
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
