#pragma once

#include <cstdint>

// Line speeds as plain numbers. Standard rates use the classic speed codes; any other rate
// the driver accepts is set through the kernel's arbitrary-speed interface. These live in
// their own unit because that interface cannot share a translation unit with <termios.h>.
namespace quillon {

// Sets input and output speed of the terminal fd. Returns 0 or an errno value.
int SetLineSpeed(int fd, std::uint32_t baud);
// Reads the output speed of the terminal fd into baud. Returns 0 or an errno value.
int GetLineSpeed(int fd, std::uint32_t& baud);

} // namespace quillon
