#include "cli/CPortSignals.h"

#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace quillon {

CPortSignals::CPortSignals() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        readFd_ = fds[0];
        writeFd_ = fds[1];
    }
}

CPortSignals::~CPortSignals() {
    for (const int fd : {readFd_, writeFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void CPortSignals::Post(int signal) {
    if (writeFd_ >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds more requests than the session will look at.
        [[maybe_unused]] const ssize_t written = ::write(writeFd_, &byte, 1);
    }
}

int CPortSignals::Take() {
    unsigned char byte = 0;
    if (readFd_ >= 0 && ::read(readFd_, &byte, 1) == 1) {
        return byte;
    }
    return 0;
}

} // namespace quillon
