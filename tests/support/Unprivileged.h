#pragma once

#include <functional>

namespace quillon::testing {

// Runs `check` in a child process that file modes bind as they bind an ordinary user, and
// returns its verdict: 0 the check held, 1 it did not, kCannotDropPrivileges the child
// could not give its privileges up. Root gives up the capabilities that pass over file
// modes (so a file of its own with its read bit cleared is unreadable to it, as to anyone);
// other users have none to give. CI runs as root: without this, checks of unreadable and
// read-only files could only be skipped there. The child runs nothing but `check`, so call
// it while no other thread of this process holds a lock `check` needs.
inline constexpr int kCannotDropPrivileges = 77;
int RunUnprivileged(const std::function<bool()>& check);

// The arguments that put a program run through /usr/bin/setpriv under the same terms.
inline constexpr const char* kSetprivUnprivileged[] = {
    "--inh-caps=-dac_override,-dac_read_search,-fowner",
    "--bounding-set=-dac_override,-dac_read_search,-fowner"};

} // namespace quillon::testing
