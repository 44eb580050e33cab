#include "package/CMemFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quillon {

void CMemFile::Attach(const std::uint8_t* data, std::size_t size) {
    data_ = data;
    size_ = data == nullptr ? 0 : size;
    position_ = 0;
}

void CMemFile::Detach() {
    data_ = nullptr;
    size_ = 0;
    position_ = 0;
}

std::int64_t CMemFile::Seek(std::int64_t offset, SeekOrigin from) {
    std::int64_t base = 0;
    switch (from) {
    case SeekOrigin::Begin:
        base = 0;
        break;
    case SeekOrigin::Current:
        base = static_cast<std::int64_t>(position_);
        break;
    case SeekOrigin::End:
        base = static_cast<std::int64_t>(size_);
        break;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        return -1;
    }
    position_ = static_cast<std::uint64_t>(target);
    return target;
}

std::size_t CMemFile::Read(void* buffer, std::size_t count) {
    if (position_ >= size_ || count == 0 || buffer == nullptr) {
        return 0;
    }
    const auto available = static_cast<std::size_t>(size_ - position_);
    const std::size_t n = std::min(count, available);
    std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

} // namespace quillon
