#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// True for COMn (any letter case, n a number from 1): the names Windows gives serial ports.
bool IsComPortName(std::string_view name);

// The COMn names among the MS-DOS device names, as the system spells them, each once and in
// the order ports are listed in. Empty when the system cannot be asked.
std::vector<std::string> ComPortNames();

} // namespace quillon
