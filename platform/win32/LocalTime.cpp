#include "platform/LocalTime.h"

namespace quillon {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    ::localtime_s(&local, &when);
    return local;
}

} // namespace quillon
