#include "cli/CReceiptFile.h"

#include "platform/Utf8Path.h"

#include <filesystem>

namespace quillon {

bool CReceiptFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    const std::string shown = "the report file " + path;
    std::error_code folderError;
    const std::filesystem::path folder =
        std::filesystem::absolute(PathFromUtf8(path), folderError).parent_path();
    if (!std::filesystem::is_directory(folder, folderError)) {
        error =
            shown + " cannot be written: its folder " + Utf8FromPath(folder) + " does not exist";
        return false;
    }
    std::string reason;
    switch (file_.Open(path, AppendFile::Lock::None, 0644, reason)) {
    case AppendFile::OpenResult::Opened:
        return true;
    case AppendFile::OpenResult::NotRegular:
        error = shown + " is not a regular file";
        return false;
    case AppendFile::OpenResult::Failed:
        break;
    }
    error = shown + " cannot be written: " + reason;
    return false;
}

bool CReceiptFile::Append(const std::string& line, std::string& error) {
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) {
        error = "the report file is not open";
        return false;
    }
    const std::int64_t end = file_.Size();
    std::string reason;
    if (!file_.Append(line.data(), line.size(), reason)) {
        if (end >= 0 && file_.Size() > end) {
            file_.CutBack(end);
        }
        error = "the receipt could not be written to " + path_ + ": " + reason;
        return false;
    }
    if (!file_.Flush(reason)) {
        error = "the receipt could not be flushed to " + path_ + ": " + reason;
        return false;
    }
    return true;
}

} // namespace quillon
