#pragma once

#include <string>
#include <vector>

namespace quillon {

// Reads the command line. The one switch is LOG (after a slash or a hyphen, any letter
// case) followed by the path of the session log file; a later LOG with a path replaces an
// earlier one, and a LOG followed by another switch is forgotten.
//
// A slash starts a switch only when the argument has no other slash, so an absolute path
// such as /tmp/upload.txt stays a path.
class CWizAppCommandLineInfo {
public:
    virtual ~CWizAppCommandLineInfo() = default;

    // One argument, without its leading slash or hyphen when isSwitch.
    virtual void ParseParam(const std::string& param, bool isSwitch, bool isLast);

    bool LogSwitchPending() const { return logSwitchPending_; }
    const std::string& LogFilePath() const { return logFilePath_; }

    // Calls ParseParam for each argument in order (the program name excluded).
    static void ParseCommandLine(const std::vector<std::string>& arguments,
                                 CWizAppCommandLineInfo& info);
    static bool IsSwitch(const std::string& argument);

protected:
    // Arguments that are not the log switch or its path; nothing in the program uses them.
    virtual void ParseStandardParam(const std::string& /*param*/, bool /*isSwitch*/,
                                    bool /*isLast*/) {}

private:
    bool logSwitchPending_ = false;
    std::string logFilePath_;
};

} // namespace quillon
