#include "link/SessionLog.h"

#include "platform/LocalTime.h"

#include <cstdio>

namespace quillon {

SessionLog::~SessionLog() {
    Close();
}

bool SessionLog::Open(const std::string& path) {
    Close();
    if (path.empty()) {
        return false;
    }
    std::string ignored;
    const AppendFile::OpenResult opened = path == kStandardOutput
                                              ? file_.OpenStandardOutput(ignored)
                                              : file_.Open(path, AppendFile::Lock::Exclusive, 0666,
                                                           ignored, AppendFile::Kind::AnyWritable);
    if (opened != AppendFile::OpenResult::Opened) {
        return false;
    }
    const std::string header = FormatHeader(LocalTime(std::time(nullptr)));
    file_.Append(header.data(), header.size(), ignored);
    return true;
}

void SessionLog::Append(const void* data, std::size_t size) {
    if (file_.IsOpen() && size > 0) {
        std::string ignored; // failures while appending are not reported
        file_.Append(data, size, ignored);
    }
}

void SessionLog::Close() {
    file_.Close();
}

std::string SessionLog::FormatHeader(const std::tm& localTime) {
    char text[128];
    const int n =
        std::snprintf(text, sizeof text,
                      "\r\n-------------------------------------------\r\nLog File Appended - "
                      "%04d/%02d/%02d %02d:%02d:%02d\r\n",
                      localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday,
                      localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    const auto length = n > 0 ? static_cast<std::size_t>(n) : 0;
    return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

} // namespace quillon
