#pragma once

#include <string>
#include <vector>

namespace quillon {

// The program's text in UTF-8 everywhere: its arguments as the user typed them (on Windows
// from the wide command line, so "C:\Users\Zoë\receipts.jsonl" arrives intact whatever the
// code page), and the console told that what is written to it is UTF-8.
//
// Threads: call from main before any other thread starts.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace quillon
