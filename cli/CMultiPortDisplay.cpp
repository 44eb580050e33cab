#include "cli/CMultiPortDisplay.h"

#include "cli/TerminalText.h"

#include <algorithm>

namespace quillon {

CMultiPortDisplay::CMultiPortDisplay(std::ostream& out, bool terminal,
                                     std::vector<std::string> ports, std::size_t width)
    : out_(out), terminal_(terminal), ports_(std::move(ports)),
      width_(std::max<std::size_t>(width, 20)), rows_(ports_.size()) {
    for (const std::string& port : ports_) {
        portWidth_ = std::max(portWidth_, port.size());
    }
}

std::string CMultiPortDisplay::RowText(std::size_t port) const {
    const Row& row = rows_[port];
    std::string text = ports_[port];
    text.append(portWidth_ - ports_[port].size() + 2, ' ');
    std::string phase = row.phase;
    phase.resize(std::max<std::size_t>(phase.size(), 18), ' ');
    text += phase + " ";
    std::string percent = row.percent >= 0 ? std::to_string(row.percent) + "%" : "";
    text += std::string(4 - std::min<std::size_t>(4, percent.size()), ' ') + percent + "  ";
    text += row.status;
    // A wrapped line would break the redrawing in place.
    if (text.size() >= width_) {
        text.resize(width_ - 1);
    }
    return text;
}

void CMultiPortDisplay::Redraw() {
    if (!terminal_ || held_) {
        return;
    }
    std::string screen;
    if (drawnRows_ > 0) {
        screen += "\x1b[" + std::to_string(drawnRows_) + "A";
    }
    for (std::size_t port = 0; port < ports_.size(); ++port) {
        screen += "\r\x1b[K" + RowText(port) + "\n";
    }
    std::size_t rows = ports_.size();
    if (!tally_.empty()) {
        screen += "\r\x1b[K" + tally_.substr(0, width_ - 1) + "\n";
        ++rows;
    }
    drawnRows_ = rows;
    out_ << screen << std::flush;
}

void CMultiPortDisplay::SetPhase(std::size_t port, const std::string& phase) {
    std::lock_guard lock(mutex_);
    if (port >= rows_.size() || rows_[port].phase == phase) {
        return;
    }
    rows_[port].phase = phase;
    Redraw();
}

void CMultiPortDisplay::SetPercent(std::size_t port, int percent) {
    std::lock_guard lock(mutex_);
    if (port >= rows_.size() || rows_[port].percent == percent) {
        return;
    }
    rows_[port].percent = percent;
    if (terminal_) {
        Redraw();
    } else if (percent >= 0) {
        out_ << ports_[port] << ": " << PercentText(percent) << std::endl;
    }
}

void CMultiPortDisplay::Line(std::size_t port, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (port >= rows_.size() || text.empty()) {
        return;
    }
    if (terminal_) {
        rows_[port].status = text;
        Redraw();
    } else {
        out_ << ports_[port] << ": " << text << std::endl;
    }
}

void CMultiPortDisplay::SetTally(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (terminal_) {
        tally_ = "Station: " + text;
        Redraw();
    } else {
        out_ << "station: " << text << std::endl;
    }
}

void CMultiPortDisplay::Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void CMultiPortDisplay::Release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    drawnRows_ = 0;
    Redraw();
}

void CMultiPortDisplay::Finish() {
    std::lock_guard lock(mutex_);
    held_ = false;
    Redraw();
    out_.flush();
}

} // namespace quillon
