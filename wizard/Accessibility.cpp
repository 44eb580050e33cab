#include "wizard/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QStyleOptionFocusRect>
#include <QVariant>
#include <utility>

namespace quillon {

namespace {

constexpr const char* kDecorationProperty = "quillonDecoration";

// Qt keeps one interface per object, made on first demand: ours takes the place of the
// one Qt has made already (the cache deletes the interface with its widget).
void Install(QWidget* widget, QAccessibleInterface* iface) {
    if (QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(widget)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
    }
    QAccessible::registerAccessibleInterface(iface);
}

AnnouncementHook& Hook() {
    static AnnouncementHook hook;
    return hook;
}

QString Flattened(QString text) {
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
}

// A page: a pane named by its heading; the decoration is not among its children.
class CPaneAccessible : public QAccessibleWidget {
public:
    explicit CPaneAccessible(QWidget* page) : QAccessibleWidget(page, QAccessible::Pane) {}

    int childCount() const override { return static_cast<int>(Children().size()); }
    QAccessibleInterface* child(int index) const override {
        const QWidgetList children = Children();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children.at(index))
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child == nullptr ? -1 : Children().indexOf(qobject_cast<QWidget*>(child->object()));
    }

private:
    QWidgetList Children() const {
        QWidgetList list;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child != nullptr && !child->isWindow() && !IsDecoration(child)) {
                list.append(child);
            }
        }
        return list;
    }
};

// A text: a notification (live) or a plain text; named by its caption and its text.
class CTextAccessible : public QAccessibleWidget {
public:
    CTextAccessible(QLabel* label, QAccessible::Role role, QLabel* caption)
        : QAccessibleWidget(label, role), caption_(caption) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            const QString text = Flattened(static_cast<QLabel*>(widget())->text());
            return caption_ != nullptr ? caption_->text() + QLatin1Char(' ') + text : text;
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

private:
    QPointer<QLabel> caption_;
};

// The editable port combo box as Qt's own interface has it, but named by its accessible
// name: the current text is its value, not its name.
class CComboBoxAccessible : public QAccessibleWidget {
public:
    explicit CComboBoxAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }

    int childCount() const override { return Combo()->isEditable() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0) {
            return QAccessible::queryAccessibleInterface(Combo()->view());
        }
        if (index == 1 && Combo()->isEditable()) {
            return QAccessible::queryAccessibleInterface(Combo()->lineEdit());
        }
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) {
            return -1;
        }
        if (child->object() == Combo()->view()) {
            return 0;
        }
        return Combo()->isEditable() && child->object() == Combo()->lineEdit() ? 1 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QLineEdit* edit = Combo()->lineEdit();
        if (edit != nullptr &&
            QRect(edit->mapToGlobal(QPoint(0, 0)), edit->size()).contains(x, y)) {
            return child(1);
        }
        return nullptr;
    }
    // The combo box is the focus proxy of its field: the field is the focused child.
    QAccessibleInterface* focusChild() const override {
        return Combo()->isEditable() ? child(1) : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return Combo()->currentText();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = Combo()->view()->isVisible();
        s.editable = Combo()->isEditable();
        return s;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction()) {
            return;
        }
        if (Combo()->view()->isVisible()) {
            Combo()->hidePopup();
        } else {
            Combo()->showPopup();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

// The progress bar: its value text is what the page shows beside it.
class CProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CProgressAccessible(QProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    QProgressBar* Bar() const { return static_cast<QProgressBar*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? Bar()->text() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QVariant currentValue() const override { return Bar()->value(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return Bar()->maximum(); }
    QVariant minimumValue() const override { return Bar()->minimum(); }
    QVariant minimumStepSize() const override {
        // Screen readers work out the digits to speak from it: a hundredth of the range.
        return (Bar()->maximum() - Bar()->minimum()) / 100.0;
    }
};

} // namespace

void SetDecoration(QWidget* widget) {
    widget->setProperty(kDecorationProperty, true);
    widget->setAccessibleName(QStringLiteral("Decoration"));
}

bool IsDecoration(const QWidget* widget) {
    return widget->property(kDecorationProperty).toBool();
}

void MakePaneAccessible(QWidget* page) {
    Install(page, new CPaneAccessible(page));
}

void MakeLiveTextAccessible(QLabel* label) {
    Install(label, new CTextAccessible(label, QAccessible::Notification, nullptr));
}

void MakeValueAccessible(QLabel* value, QLabel* caption) {
    Install(value, new CTextAccessible(value, QAccessible::StaticText, caption));
}

void MakeComboBoxAccessible(QComboBox* combo) {
    Install(combo, new CComboBoxAccessible(combo));
}

void MakeProgressAccessible(QProgressBar* bar) {
    Install(bar, new CProgressAccessible(bar));
}

void AnnounceLiveText(QWidget* label) {
    if (label == nullptr || !label->isVisible()) {
        return;
    }
    QAccessibleEvent shown(label, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
    if (Hook()) {
        Hook()(*label);
    }
}

AnnouncementHook SetAnnouncementHook(AnnouncementHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

void CFocusLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void CFocusLabel::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    update();
}

void CFocusLabel::focusOutEvent(QFocusEvent* event) {
    QLabel::focusOutEvent(event);
    update();
}

} // namespace quillon
