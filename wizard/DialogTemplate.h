#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillon {

// The id of a control nobody looks up (labels, group boxes, the side picture).
inline constexpr int kIdStatic = -1;

enum class ControlKind {
    kStatic,   // text label; wraps at word boundaries
    kBitmap,   // picture; the text names the bitmap resource id
    kEdit,     // one line, or several with kMultiLine
    kButton,   // push button
    kRadio,    // automatic radio button
    kCheckBox, // automatic check box
    kGroupBox, // frame with an optional caption, behind the controls it surrounds
    kComboBox, // drop-down list, editable with kEditable
    kProgress, // progress bar
    kFrame,    // etched rectangle, or an etched line with kHorizontal
};

// Style bits of a control, as a template names them.
namespace ControlFlag {
inline constexpr std::uint32_t kHidden = 1u << 0;
inline constexpr std::uint32_t kDisabled = 1u << 1;
inline constexpr std::uint32_t kMultiLine = 1u << 2;
inline constexpr std::uint32_t kReadOnly = 1u << 3;
inline constexpr std::uint32_t kVScroll = 1u << 4;
inline constexpr std::uint32_t kBorder = 1u << 5;
inline constexpr std::uint32_t kTabStop = 1u << 6;
inline constexpr std::uint32_t kDefault = 1u << 7;
inline constexpr std::uint32_t kSort = 1u << 8;
inline constexpr std::uint32_t kGroup = 1u << 9;
inline constexpr std::uint32_t kCentre = 1u << 10;
inline constexpr std::uint32_t kRight = 1u << 11;
inline constexpr std::uint32_t kEditable = 1u << 12;
inline constexpr std::uint32_t kHorizontal = 1u << 13;
// Accessibility: the static's text names the dialog (a page's heading names its pane).
inline constexpr std::uint32_t kHeading = 1u << 14;
// Accessibility: the static's changes are announced to assistive technology.
inline constexpr std::uint32_t kLive = 1u << 15;
// A static that takes the keyboard focus, so that its value can be reached and read.
inline constexpr std::uint32_t kFocusable = 1u << 16;
} // namespace ControlFlag

struct ControlTemplate {
    int id = kIdStatic;
    ControlKind kind = ControlKind::kStatic;
    QString text;
    QRect rect; // dialog units
    std::uint32_t flags = 0;
    // What assistive technology is told beyond the text: a name and a description of the
    // control, and for a static text the id of the control it is the caption of.
    QString accessibleName;
    QString accessibleDescription;
    int captionFor = 0;

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    QSize size;                         // dialog units
    QString fontFace = "MS Sans Serif"; // mapped to a sans-serif face of this system
    int fontPointSize = 8;
    bool child = false; // a page inside another dialog rather than a window of its own
    std::vector<ControlTemplate> controls;
};

// Parses the JSON form of a template:
//   {"id": 136, "caption": "...", "size": [321, 193], "font": ["MS Sans Serif", 8],
//    "child": true, "controls": [{"id": 1018, "kind": "static", "text": "...",
//    "rect": [125, 11, 175, 18], "flags": ["hidden", ...], "name": "...",
//    "description": "...", "for": 1021}, ...]}
// On malformed input returns nothing and, when asked, says why.
std::optional<DialogTemplate> ParseDialogTemplate(const QByteArray& json, QString* error = nullptr);

// The template with that id from the program's resources.
std::optional<DialogTemplate> LoadDialogTemplate(int id, QString* error = nullptr);

} // namespace quillon
