#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {

// What a person watching several ports sees. On a terminal: one line per port, redrawn
// in place (port, phase, percentage, last status), and the station's tally below them.
// Without a terminal: every line a port prints, whole and prefixed with the port, and
// each new percentage as its own line, so that a log or a pipe reads in order.
//
// Threads: every call from any port's thread or the command's thread, under one lock.
class CMultiPortDisplay {
public:
    // `width`: the terminal's columns (ignored without a terminal).
    CMultiPortDisplay(std::ostream& out, bool terminal, std::vector<std::string> ports,
                      std::size_t width = 80);

    void SetPhase(std::size_t port, const std::string& phase);
    // -1: no percentage.
    void SetPercent(std::size_t port, int percent);
    // A line the port printed; on a terminal it becomes the port's last status.
    void Line(std::size_t port, const std::string& text);
    void SetTally(const std::string& text);

    // Stops redrawing (while a question is on the terminal) and starts again with a fresh
    // block below whatever was printed meanwhile.
    void Hold();
    void Release();
    // The block stays on the screen; the cursor goes below it.
    void Finish();

    bool Terminal() const { return terminal_; }

private:
    struct Row {
        std::string phase;
        int percent = -1;
        std::string status;
    };
    void Redraw();
    std::string RowText(std::size_t port) const;

    std::mutex mutex_;
    std::ostream& out_;
    const bool terminal_;
    const std::vector<std::string> ports_;
    const std::size_t width_;
    std::size_t portWidth_ = 0;
    std::vector<Row> rows_;
    std::string tally_;
    std::size_t drawnRows_ = 0;
    bool held_ = false;
};

} // namespace quillon
