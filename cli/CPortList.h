#pragma once

#include <string>
#include <vector>

namespace quillon {

// The ports a station serves: every --port in order, then every match of each --ports
// pattern, sorted. A device reached twice (the same name twice, or a pattern match or a
// symbolic link that leads to a port already listed) would have two engines fighting over
// one line, so it is refused before anything is opened.
//
// Threads: used on the command's thread only.
class CPortList {
public:
    enum class Result { Ok, Duplicate, NoMatch };

    // On failure `error` says what is wrong.
    Result Resolve(const std::vector<std::string>& ports, const std::vector<std::string>& globs,
                   std::string& error);
    const std::vector<std::string>& Ports() const { return ports_; }

private:
    // What identifies the device file behind a port name: its resolved path when it
    // exists, the tidied path otherwise.
    static std::string Identity(const std::string& port);
    bool Add(const std::string& port, std::string& error);

    std::vector<std::string> ports_;
    std::vector<std::string> identities_;
};

} // namespace quillon
