#include "cli/CLineStreamBuf.h"

namespace quillon {

CLineStreamBuf::CLineStreamBuf(LineHandler handler) : handler_(std::move(handler)) {
}

CLineStreamBuf::~CLineStreamBuf() {
    if (!line_.empty()) {
        handler_(line_);
    }
}

void CLineStreamBuf::Put(char c) {
    if (c == '\n') {
        std::string line;
        line.swap(line_);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        handler_(line);
    } else {
        line_ += c;
    }
}

CLineStreamBuf::int_type CLineStreamBuf::overflow(int_type ch) {
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        Put(traits_type::to_char_type(ch));
    }
    return traits_type::not_eof(ch);
}

std::streamsize CLineStreamBuf::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        Put(text[i]);
    }
    return count;
}

} // namespace quillon
