#pragma once

namespace quillon {

// Makes the program outlive whatever reads its output. A reader that goes away (quillon-cli
// upload | head) must not end a transfer half-way with SIGPIPE: the signal is ignored and
// output that cannot be written is dropped. A standard stream that was closed at start
// (>&-) is opened on the null device, so that no file the program opens later (the serial
// port, a report file) takes its number and receives the program's text. A write beyond
// the file size limit fails (EFBIG) instead of ending the program (SIGXFSZ), so that a
// report file that cannot grow is reported like a full disk. Windows has neither signal.
//
// Threads: call once at the start of main, before any other thread exists.
void PrepareStandardStreams();

} // namespace quillon
