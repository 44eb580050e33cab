#include "wizard/CWizAppCommandLineInfo.h"

#include "QuillonVersion.h"
#include "platform/SettingsFile.h"
#include "platform/Utf8Path.h"

#include <algorithm>
#include <cctype>

namespace quillon {

namespace {

bool EqualsNoCase(const std::string& text, const char* word) {
    const std::string other(word);
    return text.size() == other.size() &&
           std::equal(text.begin(), text.end(), other.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

} // namespace

void CWizAppCommandLineInfo::ParseParam(const std::string& param, bool isSwitch, bool isLast) {
    if (isSwitch && EqualsNoCase(param, "LOG")) {
        logSwitchPending_ = true;
        return;
    }
    if (!isSwitch && logSwitchPending_) {
        logFilePath_ = param;
        logSwitchPending_ = false;
        return;
    }
    logSwitchPending_ = false;
    ParseStandardParam(param, isSwitch, isLast);
}

void CWizAppCommandLineInfo::ParseStandardParam(const std::string& param, bool isSwitch,
                                                bool /*isLast*/) {
    // The switch has lost its first hyphen: "--help" arrives as "-help".
    if (!isSwitch) {
        return;
    }
    if (param == "-help" || param == "h" || param == "?") {
        helpRequested_ = true;
    } else if (param == "-version") {
        versionRequested_ = true;
    }
}

std::string CWizAppCommandLineInfo::UsageText() {
    return "Usage: quillon [-log FILE] [--help] [--version]\n"
           "\n"
           "Uploads new firmware into a Veldra device through its bootloader over a serial\n"
           "port. The wizard walks through the licence agreement, the choice of the port,\n"
           "the detection of the device, the compatibility check and the upload itself.\n"
           "\n"
           "Options:\n"
           "  -log FILE      append what the device prints while the new firmware starts\n"
           "                 to FILE; also written /log FILE, in any letter case\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Other arguments are ignored; the usual Qt options (for example -platform) are\n"
           "taken by Qt. The port and the slow mode chosen last are kept in\n" +
           Utf8FromPath(SettingsFilePath()) +
           ".\nFor scripts and production lines use quillon-cli.\n";
}

std::string CWizAppCommandLineInfo::VersionText() {
    return std::string("quillon (Quillon) ") + kVersionString + "\n";
}

bool CWizAppCommandLineInfo::IsSwitch(const std::string& argument) {
    if (argument.empty()) {
        return false;
    }
    if (argument.front() == '-') {
        return true;
    }
    return argument.front() == '/' && argument.find('/', 1) == std::string::npos;
}

void CWizAppCommandLineInfo::ParseCommandLine(const std::vector<std::string>& arguments,
                                              CWizAppCommandLineInfo& info) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool isSwitch = IsSwitch(argument);
        info.ParseParam(isSwitch ? argument.substr(1) : argument, isSwitch,
                        i + 1 == arguments.size());
    }
}

} // namespace quillon
