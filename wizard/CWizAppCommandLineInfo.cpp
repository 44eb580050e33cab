#include "wizard/CWizAppCommandLineInfo.h"

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
