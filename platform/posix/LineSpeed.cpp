#include "platform/LineSpeed.h"

// The kernel's own terminal structures (termios2 with numeric speeds); <termios.h> must
// not be included in this unit.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace quillon {

namespace {

struct SpeedCode {
    std::uint32_t baud;
    unsigned code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

int SetLineSpeed(int fd, std::uint32_t baud) {
    if (baud == 0) {
        return EINVAL; // speed 0 would hang up the line
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    // A classic code where one exists keeps the attributes readable by every termios user;
    // any other rate goes through BOTHER. Input follows output (CIBAUD cleared).
    unsigned code = BOTHER;
    for (const auto& entry : kSpeedCodes) {
        if (entry.baud == baud) {
            code = entry.code;
            break;
        }
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    tio.c_cflag |= code;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return errno;
    }
    // A driver may round or refuse silently: read back what it took.
    struct termios2 check {};
    if (ioctl(fd, TCGETS2, &check) != 0) {
        return errno;
    }
    if (check.c_ospeed == 0) {
        return EINVAL;
    }
    return 0;
}

int GetLineSpeed(int fd, std::uint32_t& baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    baud = tio.c_ospeed;
    return 0;
}

} // namespace quillon
