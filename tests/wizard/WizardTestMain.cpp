#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

// Qt and the font libraries keep a few allocations for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Core\nleak:libQt6Widgets\n"
           "leak:libglib\nleak:libfreetype\n";
}

// Qt is not built with ThreadSanitizer: its worker threads (parallel painting, image
// conversion) would show as races in its own memory. Races are looked for in our code;
// Qt's locking still counts for the order of events.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}

int main(int argc, char** argv) {
    // Test discovery runs this program during the build, where there is no display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // Never touch the settings of whoever runs the tests: a private configuration folder.
    std::string configHome = QDir::tempPath().toStdString() + "/quillon-wizard-test-XXXXXX";
    if (mkdtemp(configHome.data()) != nullptr) {
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    }

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    QDir(QString::fromStdString(configHome)).removeRecursively();
    return result;
}
