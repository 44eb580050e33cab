#include "tests/support/Unprivileged.h"

#include <cerrno>
#include <cstdint>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillon::testing {
namespace {

// Takes the capabilities that override file modes out of the effective and permitted sets
// of this process (the raw calls: no library for capabilities is needed for this).
bool DropFileModeCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const std::uint32_t dropped =
        (1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH) | (1U << CAP_FOWNER);
    data[0].effective &= ~dropped;
    data[0].permitted &= ~dropped;
    data[0].inheritable &= ~dropped;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

int RunUnprivileged(const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        if (::geteuid() == 0 && !DropFileModeCapabilities()) {
            ::_exit(kCannotDropPrivileges);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace quillon::testing
