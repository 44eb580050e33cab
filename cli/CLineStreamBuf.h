#pragma once

#include <functional>
#include <mutex>
#include <streambuf>
#include <string>

namespace quillon {

// A stream buffer that hands over whole lines: what a device session prints for one of
// several ports becomes lines the station shows beside that port. The line end is not
// part of the line; an unfinished line is handed over when the buffer goes.
//
// Threads: written by the thread of the stream that uses it; the callback runs on that
// thread.
class CLineStreamBuf : public std::streambuf {
public:
    using LineHandler = std::function<void(const std::string& line)>;

    explicit CLineStreamBuf(LineHandler handler);
    ~CLineStreamBuf() override;
    CLineStreamBuf(const CLineStreamBuf&) = delete;
    CLineStreamBuf& operator=(const CLineStreamBuf&) = delete;

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    void Put(char c);

    LineHandler handler_;
    std::string line_;
};

} // namespace quillon
