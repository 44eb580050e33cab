#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class QVariantAnimation;

namespace quillon {

// Text alignment of a tip, in the flags of the classic text-alignment call: the text
// origin is the left, right or centre of a line, and its top, bottom or baseline.
inline constexpr std::uint32_t kTipAlignLeft = 0;
inline constexpr std::uint32_t kTipAlignRight = 2;
inline constexpr std::uint32_t kTipAlignCentre = 6;
inline constexpr std::uint32_t kTipAlignTop = 0;
inline constexpr std::uint32_t kTipAlignBottom = 8;
inline constexpr std::uint32_t kTipAlignBaseline = 24;

// What a tip shows and where. Every rectangle and point is in the owner's client
// coordinates.
struct TipSpec {
    QPointer<QWidget> owner;
    // Only the top-left corner counts: the size follows from the text.
    QRect windowRect;
    // While the cursor stays over this area the tip stays open.
    QRect hotRect;
    // Where the first line starts; its distance from the window's corner is the inset
    // kept around the text.
    QPoint textOrigin;
    QFont font;
    QColor textColor = QColor(0, 0, 0);
    // Lines separated by "\n"; carriage returns are ignored.
    QString text;
    std::uint32_t textAlignment = kTipAlignLeft | kTipAlignTop;
    std::uint32_t reserved = 0; // carried along, not used
};

// A small pop-up that shows a multi-line text beside a "hot" area while the cursor stays
// over it: it slides in when it opens, checks the cursor every 100 ms and slides out and
// goes away once the cursor has left the area (or the owner is no longer shown). It never
// takes the focus and lets clicks through. At most one tip exists at a time; ShowTip does
// nothing while one is open. The tip deletes itself when it has gone.
//
// Threads: the UI thread only (the process-wide tip and the cursor source included).
class CToolTip : public QWidget {
public:
    static constexpr int kSlideMs = 200;
    static constexpr int kCursorCheckMs = 100;

    ~CToolTip() override;
    CToolTip(const CToolTip&) = delete;
    CToolTip& operator=(const CToolTip&) = delete;

    // Opens a tip over `parent` as the description says, unless one is open already.
    // Returns the new tip, or null when nothing was opened.
    static CToolTip* ShowTip(QWidget* parent, const TipSpec& description);
    // The open tip, or null.
    static CToolTip* Current();

    // Where the cursor is, in screen coordinates (QCursor::pos unless replaced; tests
    // replace it). An empty function restores the real cursor. Returns the previous one.
    using CursorSource = std::function<QPoint()>;
    static CursorSource SetCursorSource(CursorSource source);
    // Without animation a tip appears and goes at once, with the same size and the same
    // cursor checks. On by default.
    static void SetAnimated(bool animated);

    const TipSpec& Description() const { return description_; }
    const QStringList& Lines() const { return lines_; }
    // The window's size as worked out from the text: widest line + 3 insets across, the
    // lines' heights + 2 insets down.
    QSize TipSize() const { return size_; }
    // How far the slide has come: 0 hidden, 1 fully shown.
    double Reveal() const { return reveal_; }
    bool IsClosing() const { return closing_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    CToolTip(QWidget* parent, const TipSpec& description);

    void Layout();
    void Slide(bool in);
    void SetReveal(double reveal);
    QSize ShownSize() const;
    void CheckCursor();
    void Finish();
    QRect HotRectOnScreen() const;

    TipSpec description_;
    QStringList lines_;
    std::vector<int> lineHeights_;
    QSize size_;
    QPoint textOffset_; // the text origin in the tip's own coordinates
    double reveal_ = 0.0;
    bool closing_ = false;
    QBasicTimer cursorTimer_;
    QVariantAnimation* animation_ = nullptr;
};

} // namespace quillon
