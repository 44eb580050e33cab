#pragma once

#include <string>
#include <vector>

namespace quillon {

// Reads the command line. The one switch is LOG (after a slash or a hyphen, any letter
// case) followed by the path of the session log file; a later LOG with a path replaces an
// earlier one, and a LOG followed by another switch is forgotten.
//
// A slash starts a switch only when the argument has no other slash, so an absolute path
// such as /tmp/upload.txt stays a path. Of the other arguments only --help (-h) and
// --version are noticed; everything else is accepted and ignored, as it always was.
//
// Threads: whoever owns the object.
class CWizAppCommandLineInfo {
public:
    virtual ~CWizAppCommandLineInfo() = default;

    // One argument, without its leading slash or hyphen when isSwitch.
    virtual void ParseParam(const std::string& param, bool isSwitch, bool isLast);

    bool LogSwitchPending() const { return logSwitchPending_; }
    const std::string& LogFilePath() const { return logFilePath_; }
    bool HelpRequested() const { return helpRequested_; }
    bool VersionRequested() const { return versionRequested_; }

    // What --help and --version print.
    static std::string UsageText();
    static std::string VersionText();

    // Calls ParseParam for each argument in order (the program name excluded).
    static void ParseCommandLine(const std::vector<std::string>& arguments,
                                 CWizAppCommandLineInfo& info);
    static bool IsSwitch(const std::string& argument);

protected:
    // Arguments that are not the log switch or its path: the requests for help and for
    // the version are recorded, the rest is ignored.
    virtual void ParseStandardParam(const std::string& param, bool isSwitch, bool isLast);

private:
    bool logSwitchPending_ = false;
    std::string logFilePath_;
    bool helpRequested_ = false;
    bool versionRequested_ = false;
};

} // namespace quillon
