#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quillon {

// A read-only file over a byte range owned by someone else (the program's embedded
// resources): attaching copies nothing and the bytes must outlive the file. Reads never
// go outside the range; the position may lie past the end, where reads deliver 0 bytes.
//
// Threads: no lock. Every read moves the one shared position, so an object belongs to
// one thread at a time.
class CMemFile {
public:
    enum class SeekOrigin { Begin, Current, End };

    CMemFile() = default;
    virtual ~CMemFile() = default;
    CMemFile(const CMemFile&) = delete;
    CMemFile& operator=(const CMemFile&) = delete;

    // Attaches to `size` bytes at `data` and rewinds. A null pointer attaches nothing.
    void Attach(const std::uint8_t* data, std::size_t size);
    void Attach(std::span<const std::uint8_t> bytes) { Attach(bytes.data(), bytes.size()); }
    // Forgets the range (the bytes are not freed: they were never ours).
    void Detach();

    // Moves the position. A target before the start fails: -1 is returned and the
    // position stays. Any target at or past the end is allowed.
    std::int64_t Seek(std::int64_t offset, SeekOrigin from);
    void SeekToBegin() { position_ = 0; }
    // Copies up to `count` bytes from the position on and returns how many were copied.
    std::size_t Read(void* buffer, std::size_t count);

    std::uint64_t GetPosition() const { return position_; }
    std::uint64_t GetLength() const { return size_; }
    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

    // The name stored as given; it only serves messages about the file.
    virtual void SetFilePath(std::string path) { name_ = std::move(path); }
    const std::string& GetFileName() const { return name_; }
    const std::string& GetFilePath() const { return name_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::uint64_t position_ = 0;
    std::string name_;
};

} // namespace quillon
