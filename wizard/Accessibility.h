#pragma once

#include <QLabel>
#include <functional>

class QComboBox;
class QProgressBar;
class QWidget;

namespace quillon {

// What the wizard tells assistive technology (screen readers through AT-SPI on Linux,
// UI Automation on Windows) beyond what Qt works out by itself. Qt keeps one accessible
// interface per widget; these replace the one Qt made where its answer is not enough:
//
// - a page is a pane named by its heading (the widget's accessible name), and the side
//   picture, a decoration, is left out of its children;
// - a live text (a status or a warning whose changes matter) is a notification named by
//   its text; AnnounceLiveText tells the bus that it has something new to say;
// - a value text that takes the focus is named by its caption and its value together;
// - the combo box is named by its accessible name (Qt's own uses the current text as the
//   name on Linux);
// - the progress bar's value text is what the page shows ("42% Complete"), its name the
//   accessible name.
//
// Threads: the UI thread only.

// Marks a widget as decoration: no page lists it among its children.
void SetDecoration(QWidget* widget);
bool IsDecoration(const QWidget* widget);

void MakePaneAccessible(QWidget* page);
void MakeLiveTextAccessible(QLabel* label);
// caption may be null; the value's name is then its text alone.
void MakeValueAccessible(QLabel* value, QLabel* caption);
void MakeComboBoxAccessible(QComboBox* combo);
void MakeProgressAccessible(QProgressBar* bar);

// Tells assistive technology that the live text has changed or appeared: AT-SPI sees the
// notification show again, with its new text as its name (a screen reader reads it out).
void AnnounceLiveText(QWidget* label);
// Sees every announcement besides the bus (tests: the offscreen platform has no
// accessibility bridge); an empty function removes it. Returns the previous one.
using AnnouncementHook = std::function<void(const QWidget& label)>;
AnnouncementHook SetAnnouncementHook(AnnouncementHook hook);

// A text that can take the keyboard focus (a value to read) and then shows a focus frame.
class CFocusLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

} // namespace quillon
