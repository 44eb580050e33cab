#include "wizard/CToolTip.h"

#include <QCursor>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <utility>

namespace quillon {

namespace {

// The UI thread's tip and settings.
CToolTip* g_current = nullptr;
bool g_animated = true;

CToolTip::CursorSource& CursorSourceSlot() {
    static CToolTip::CursorSource source;
    return source;
}

QPoint CursorPosition() {
    const CToolTip::CursorSource& source = CursorSourceSlot();
    return source ? source() : QCursor::pos();
}

QPoint ToScreen(const QWidget* owner, const QPoint& point) {
    return owner != nullptr ? owner->mapToGlobal(point) : point;
}

} // namespace

CToolTip::CToolTip(QWidget* parent, const TipSpec& description)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint), description_(description) {
    g_current = this;
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Like a disabled pop-up: it never takes the focus and clicks go to what lies below.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    Layout();
}

CToolTip::~CToolTip() {
    if (g_current == this) {
        g_current = nullptr;
    }
}

CToolTip* CToolTip::ShowTip(QWidget* parent, const TipSpec& description) {
    if (g_current != nullptr) {
        return nullptr;
    }
    auto* tip = new CToolTip(parent, description);
    tip->Slide(true);
    return tip;
}

CToolTip* CToolTip::Current() {
    return g_current;
}

CToolTip::CursorSource CToolTip::SetCursorSource(CursorSource source) {
    return std::exchange(CursorSourceSlot(), std::move(source));
}

void CToolTip::SetAnimated(bool animated) {
    g_animated = animated;
}

void CToolTip::Layout() {
    QString text = description_.text;
    text.remove(QLatin1Char('\r'));
    // What follows the last line break is always a line, an empty one included.
    lines_ = text.split(QLatin1Char('\n'));

    const QFontMetrics metrics(description_.font);
    int widest = 0;
    int height = 0;
    lineHeights_.clear();
    for (const QString& line : lines_) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
        lineHeights_.push_back(metrics.height());
        height += metrics.height();
    }
    const int insetX = description_.textOrigin.x() - description_.windowRect.left();
    const int insetY = description_.textOrigin.y() - description_.windowRect.top();
    // One inset left of the text and two right of it; one above and one below.
    size_ = QSize(std::max(1, widest + 3 * insetX), std::max(1, height + 2 * insetY));
    description_.windowRect.setSize(size_);
    textOffset_ = QPoint(insetX, insetY);

    setGeometry(
        QRect(ToScreen(description_.owner.data(), description_.windowRect.topLeft()), size_));
}

QRect CToolTip::HotRectOnScreen() const {
    return {ToScreen(description_.owner.data(), description_.hotRect.topLeft()),
            description_.hotRect.size()};
}

void CToolTip::Slide(bool in) {
    if (!in) {
        cursorTimer_.stop();
        closing_ = true;
    }
    if (animation_ != nullptr) {
        animation_->stop();
        delete animation_;
        animation_ = nullptr;
    }
    if (!g_animated) {
        if (in) {
            SetReveal(1.0);
            show();
            cursorTimer_.start(kCursorCheckMs, this);
        } else {
            Finish();
        }
        return;
    }
    if (in) {
        SetReveal(0.0);
        show();
        // The cursor is watched from the start, as the slide itself takes a while.
        cursorTimer_.start(kCursorCheckMs, this);
    }
    animation_ = new QVariantAnimation(this);
    animation_->setDuration(kSlideMs);
    animation_->setStartValue(reveal_);
    animation_->setEndValue(in ? 1.0 : 0.0);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { SetReveal(value.toDouble()); });
    if (!in) {
        connect(animation_, &QVariantAnimation::finished, this, [this] { Finish(); });
    }
    animation_->start();
}

QSize CToolTip::ShownSize() const {
    // The window grows from its top-left corner; it never shrinks to nothing, which a
    // window cannot be.
    return {std::max(1, static_cast<int>(std::ceil(size_.width() * reveal_))),
            std::max(1, static_cast<int>(std::ceil(size_.height() * reveal_)))};
}

void CToolTip::SetReveal(double reveal) {
    reveal_ = std::clamp(reveal, 0.0, 1.0);
    resize(ShownSize());
    update();
}

void CToolTip::Finish() {
    cursorTimer_.stop();
    hide();
    deleteLater();
}

void CToolTip::timerEvent(QTimerEvent* event) {
    if (event->timerId() != cursorTimer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    CheckCursor();
}

void CToolTip::CheckCursor() {
    if (closing_) {
        return;
    }
    const QWidget* owner = description_.owner.data();
    // A hidden owner (its page was left) has no area to hover any more.
    const bool stays =
        owner != nullptr && owner->isVisible() && HotRectOnScreen().contains(CursorPosition());
    if (!stays) {
        Slide(false);
    }
}

void CToolTip::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    // Sliding: the content moves in from the top-left, its bottom-right corner first.
    const QSize shown = ShownSize();
    painter.translate(shown.width() - size_.width(), shown.height() - size_.height());

    painter.fillRect(QRect(QPoint(0, 0), size_), palette().color(QPalette::Base));
    painter.setPen(QPen(QColor(0, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, size_.width() - 1, size_.height() - 1);

    painter.setFont(description_.font);
    painter.setPen(description_.textColor);
    const QFontMetrics metrics(description_.font);
    const std::uint32_t horizontal = description_.textAlignment & kTipAlignCentre;
    const std::uint32_t vertical = description_.textAlignment & kTipAlignBaseline;
    QPoint point = textOffset_;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const QString& line = lines_[i];
        int x = point.x();
        if (horizontal == kTipAlignCentre) {
            x -= metrics.horizontalAdvance(line) / 2;
        } else if (horizontal == kTipAlignRight) {
            x -= metrics.horizontalAdvance(line);
        }
        int baseline = point.y() + metrics.ascent();
        if (vertical == kTipAlignBaseline) {
            baseline = point.y();
        } else if (vertical == kTipAlignBottom) {
            baseline = point.y() - metrics.descent();
        }
        painter.drawText(QPoint(x, baseline), line);
        point.ry() += lineHeights_[static_cast<std::size_t>(i)];
    }
}

} // namespace quillon
