#include "package/CInvalidFileError.h"
#include "wizard/CWizApp.h"
#include "wizard/MessageBox.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
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
