#include "wizard/CDialog.h"

#include "wizard/Accessibility.h"
#include "wizard/CMessageEvent.h"
#include "wizard/DialogUnits.h"
#include "wizard/WizardResources.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace quillon {

namespace {

QString ToControlText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

QString FromMultiLineText(const QString& text) {
    QString stored = text;
    stored.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return stored;
}

// An editable combo box completes inline, and Return takes a completion it offers. A field
// that Tab selected whole offers none, but the completer would take its first entry in its
// place: Return there is the dialog's (Next), so the selection goes first.
class CWholeSelectionReturn : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            QLineEdit* edit = static_cast<QComboBox*>(watched)->lineEdit();
            if (edit != nullptr && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
                edit->hasSelectedText() && edit->selectionStart() == 0 &&
                edit->selectedText() == edit->text()) {
                edit->deselect();
            }
        }
        return false;
    }
};

Qt::Alignment LabelAlignment(const ControlTemplate& control) {
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (control.Has(ControlFlag::kCentre)) {
        horizontal = Qt::AlignHCenter;
    } else if (control.Has(ControlFlag::kRight)) {
        horizontal = Qt::AlignRight;
    }
    return horizontal | Qt::AlignTop;
}

} // namespace

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent), templateId_(templateId) {
}

CDialog::~CDialog() {
    SetIdleNotification(false);
}

bool CDialog::Create(QWidget* parent) {
    if (hasWindow_) {
        return false;
    }
    const std::optional<DialogTemplate> dialogTemplate = LoadDialogTemplate(templateId_);
    if (!dialogTemplate) {
        return false;
    }

    if (parent != nullptr) {
        setParent(parent, Qt::Widget);
    } else {
        setParent(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint);
    }
    endRequested_ = false;

    const QFont font = TemplateFont(dialogTemplate->fontFace, dialogTemplate->fontPointSize);
    setFont(font);
    baseUnits_ = DialogBaseUnits(font);
    const QSize size = MapDialogRect(QRect(QPoint(0, 0), dialogTemplate->size)).size();
    if (parent != nullptr) {
        resize(size);
    } else {
        setFixedSize(size);
    }
    setWindowTitle(dialogTemplate->caption);
    if (dialogTemplate->child) {
        // Pages start disabled and hidden; their frame shows them.
        setEnabled(false);
        setVisible(false);
    }

    QButtonGroup* radioGroup = nullptr;
    std::vector<QWidget*> behind;
    for (const ControlTemplate& control : dialogTemplate->controls) {
        QWidget* widget = MakeControl(control, radioGroup);
        if (control.id != kIdStatic) {
            widget->setObjectName(QStringLiteral("ctl%1").arg(control.id));
        }
        QRect rect = MapDialogRect(control.rect);
        if (control.kind == ControlKind::kComboBox) {
            // A combo box's template height includes its dropped-down list.
            rect.setHeight(widget->sizeHint().height());
        }
        widget->setGeometry(rect);
        if (control.Has(ControlFlag::kHidden)) {
            widget->setVisible(false);
        }
        if (control.Has(ControlFlag::kDisabled)) {
            widget->setEnabled(false);
        }
        if (control.kind == ControlKind::kGroupBox || control.kind == ControlKind::kFrame) {
            behind.push_back(widget);
        }
        const Control entry{control.id,
                            control.kind,
                            widget,
                            control.Has(ControlFlag::kReadOnly),
                            control.Has(ControlFlag::kHeading),
                            control.Has(ControlFlag::kLive)};
        controls_.push_back(entry);
        ConnectControl(entry);
    }
    // Group boxes and frames are drawn behind the controls they surround and let the mouse
    // through to them.
    for (auto it = behind.rbegin(); it != behind.rend(); ++it) {
        (*it)->lower();
    }

    SetUpAccessibility(*dialogTemplate);

    hasWindow_ = true;
    UpdateCtlColors();
    OnInitDialog();
    return true;
}

void CDialog::SetUpAccessibility(const DialogTemplate& dialogTemplate) {
    if (dialogTemplate.child) {
        MakePaneAccessible(this);
    }
    // One entry of controls_ per control of the template, in the same order.
    for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
        const ControlTemplate& control = dialogTemplate.controls[i];
        QWidget* widget = controls_[i].widget;
        if (!control.accessibleName.isEmpty()) {
            widget->setAccessibleName(control.accessibleName);
        }
        if (!control.accessibleDescription.isEmpty()) {
            widget->setAccessibleDescription(control.accessibleDescription);
        }
        auto* label = dynamic_cast<QLabel*>(widget);
        switch (control.kind) {
        case ControlKind::kBitmap:
            // The only pictures are the side picture: decoration.
            SetDecoration(widget);
            break;
        case ControlKind::kComboBox:
            if (auto* combo = dynamic_cast<QComboBox*>(widget)) {
                MakeComboBoxAccessible(combo);
                if (combo->lineEdit() != nullptr) {
                    combo->lineEdit()->setAccessibleName(control.accessibleName);
                    combo->lineEdit()->setAccessibleDescription(control.accessibleDescription);
                }
            }
            break;
        case ControlKind::kProgress:
            MakeProgressAccessible(static_cast<QProgressBar*>(widget));
            break;
        default:
            break;
        }
        if (label != nullptr && control.Has(ControlFlag::kLive)) {
            MakeLiveTextAccessible(label);
        }
        if (label != nullptr && control.Has(ControlFlag::kHeading)) {
            setAccessibleName(label->text().replace(QLatin1Char('\n'), QLatin1Char(' ')));
        }
        QWidget* described = control.captionFor != 0 ? GetDlgItem(control.captionFor) : nullptr;
        if (label == nullptr || described == nullptr) {
            continue;
        }
        label->setBuddy(described);
        // A value that takes the focus is read with its caption (a live one by itself).
        const auto target = std::find_if(
            dialogTemplate.controls.begin(), dialogTemplate.controls.end(),
            [&control](const ControlTemplate& other) { return other.id == control.captionFor; });
        auto* value = dynamic_cast<CFocusLabel*>(described);
        if (value != nullptr && !target->Has(ControlFlag::kLive)) {
            MakeValueAccessible(value, label);
        }
    }
}

QWidget* CDialog::MakeControl(const ControlTemplate& control, QButtonGroup*& radioGroup) {
    if (control.kind != ControlKind::kRadio && control.Has(ControlFlag::kGroup)) {
        radioGroup = nullptr;
    }
    switch (control.kind) {
    case ControlKind::kStatic: {
        QLabel* label =
            control.Has(ControlFlag::kFocusable) ? new CFocusLabel(this) : new QLabel(this);
        if (control.Has(ControlFlag::kFocusable)) {
            // Reached by Tab to be read; the mouse has nothing to do with it.
            label->setFocusPolicy(Qt::TabFocus);
        }
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(LabelAlignment(control));
        label->setText(ToControlText(control.text));
        return label;
    }
    case ControlKind::kBitmap: {
        auto* label = new QLabel(this);
        label->setScaledContents(true);
        label->setPixmap(
            LoadBitmapResource(control.text.toInt(), MapDialogRect(control.rect).size()));
        return label;
    }
    case ControlKind::kEdit: {
        if (control.Has(ControlFlag::kMultiLine)) {
            auto* edit = new QPlainTextEdit(this);
            edit->setTabChangesFocus(true);
            edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            edit->setVerticalScrollBarPolicy(control.Has(ControlFlag::kVScroll)
                                                 ? Qt::ScrollBarAlwaysOn
                                                 : Qt::ScrollBarAlwaysOff);
            edit->setFrameShape(control.Has(ControlFlag::kBorder) ? QFrame::StyledPanel
                                                                  : QFrame::NoFrame);
            if (control.Has(ControlFlag::kReadOnly)) {
                edit->setReadOnly(true);
                edit->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                              Qt::TextSelectableByKeyboard);
            }
            edit->setPlainText(ToControlText(control.text));
            return edit;
        }
        auto* edit = new QLineEdit(this);
        edit->setFrame(control.Has(ControlFlag::kBorder));
        edit->setReadOnly(control.Has(ControlFlag::kReadOnly));
        edit->setText(control.text);
        return edit;
    }
    case ControlKind::kButton: {
        auto* button = new QPushButton(control.text, this);
        button->setDefault(control.Has(ControlFlag::kDefault));
        return button;
    }
    case ControlKind::kRadio: {
        auto* button = new QRadioButton(control.text, this);
        if (radioGroup == nullptr || control.Has(ControlFlag::kGroup)) {
            radioGroup = new QButtonGroup(this);
            radioGroups_.push_back(radioGroup);
        }
        radioGroup->addButton(button);
        return button;
    }
    case ControlKind::kCheckBox:
        return new QCheckBox(control.text, this);
    case ControlKind::kGroupBox: {
        auto* box = new QGroupBox(control.text, this);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        return box;
    }
    case ControlKind::kComboBox: {
        auto* combo = new QComboBox(this);
        combo->setEditable(control.Has(ControlFlag::kEditable));
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setProperty("quillonSorted", control.Has(ControlFlag::kSort));
        combo->setMaxVisibleItems(10);
        if (combo->isEditable()) {
            combo->setEditText(control.text);
            // The combo box hands its keys to the field itself: it is the one to watch.
            combo->installEventFilter(new CWholeSelectionReturn(combo));
        }
        return combo;
    }
    case ControlKind::kProgress: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::kFrame: {
        auto* frame = new QFrame(this);
        frame->setFrameShape(control.Has(ControlFlag::kHorizontal) ? QFrame::HLine : QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        return frame;
    }
    }
    return new QWidget(this);
}

void CDialog::ConnectControl(const Control& control) {
    const int id = control.id;
    if (auto* button = dynamic_cast<QAbstractButton*>(control.widget)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id] { OnCommand(id, Notify::kClicked); });
    } else if (auto* edit = dynamic_cast<QLineEdit*>(control.widget)) {
        connect(edit, &QLineEdit::textEdited, this,
                [this, id] { OnCommand(id, Notify::kEditUpdate); });
    } else if (auto* combo = dynamic_cast<QComboBox*>(control.widget)) {
        if (combo->lineEdit() != nullptr) {
            connect(combo->lineEdit(), &QLineEdit::textEdited, this,
                    [this, id] { OnCommand(id, Notify::kEditUpdate); });
        }
        connect(combo, &QComboBox::activated, this,
                [this, id] { OnCommand(id, Notify::kSelChange); });
    }
}

void CDialog::DestroyWindow() {
    if (!hasWindow_) {
        return;
    }
    OnDestroy();
    // Child dialogs that still have windows go with this one.
    for (CDialog* child : findChildren<CDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->DestroyWindow();
    }
    setVisible(false);
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        delete it->widget;
    }
    controls_.clear();
    for (QButtonGroup* group : radioGroups_) {
        delete group;
    }
    radioGroups_.clear();
    hasWindow_ = false;
    if (parentWidget() != nullptr) {
        setParent(nullptr);
    }
}

int CDialog::DoModal() {
    if (!hasWindow_ && !Create(nullptr)) {
        return -1;
    }
    int result = this->result();
    if (!endRequested_) {
        SetIdleNotification(true);
        result = exec();
        SetIdleNotification(false);
    }
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int result) {
    endRequested_ = true;
    done(result);
}

const CDialog::Control* CDialog::FindControl(int id) const {
    const auto it = std::find_if(controls_.begin(), controls_.end(),
                                 [id](const Control& control) { return control.id == id; });
    return it == controls_.end() ? nullptr : &*it;
}

QWidget* CDialog::GetDlgItem(int id) const {
    const Control* control = FindControl(id);
    return control == nullptr ? nullptr : control->widget;
}

ControlKind CDialog::GetDlgItemKind(int id) const {
    const Control* control = FindControl(id);
    return control == nullptr ? ControlKind::kStatic : control->kind;
}

QString CDialog::GetDlgItemText(int id) const {
    QWidget* widget = GetDlgItem(id);
    if (auto* label = dynamic_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* edit = dynamic_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* edit = dynamic_cast<QPlainTextEdit*>(widget)) {
        return FromMultiLineText(edit->toPlainText());
    }
    if (auto* combo = dynamic_cast<QComboBox*>(widget)) {
        return combo->currentText();
    }
    if (auto* button = dynamic_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* box = dynamic_cast<QGroupBox*>(widget)) {
        return box->title();
    }
    return {};
}

void CDialog::SetDlgItemText(int id, const QString& text) {
    QWidget* widget = GetDlgItem(id);
    if (auto* label = dynamic_cast<QLabel*>(widget)) {
        const QString shown = ToControlText(text);
        const bool changed = label->text() != shown;
        label->setText(shown);
        const Control* control = FindControl(id);
        if (control != nullptr && control->heading) {
            setAccessibleName(QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        }
        if (control != nullptr && control->live && changed) {
            AnnounceLiveText(label);
        }
    } else if (auto* edit = dynamic_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* plain = dynamic_cast<QPlainTextEdit*>(widget)) {
        plain->setPlainText(ToControlText(text));
    } else if (auto* combo = dynamic_cast<QComboBox*>(widget)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
        } else {
            combo->setCurrentIndex(combo->findText(text));
        }
    } else if (auto* button = dynamic_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* box = dynamic_cast<QGroupBox*>(widget)) {
        box->setTitle(text);
    }
}

bool CDialog::IsDlgButtonChecked(int id) const {
    auto* button = dynamic_cast<QAbstractButton*>(GetDlgItem(id));
    return button != nullptr && button->isChecked();
}

void CDialog::CheckDlgButton(int id, bool checked) {
    if (auto* button = dynamic_cast<QAbstractButton*>(GetDlgItem(id))) {
        button->setChecked(checked);
    }
}

void CDialog::CheckRadioButton(int first, int last, int check) {
    for (const Control& control : controls_) {
        if (control.kind != ControlKind::kRadio || control.id < first || control.id > last) {
            continue;
        }
        auto* button = static_cast<QAbstractButton*>(control.widget);
        // Clearing a button of an exclusive group needs the group's exclusivity off.
        QButtonGroup* group = button->group();
        const bool exclusive = group != nullptr && group->exclusive();
        if (exclusive && control.id != check) {
            group->setExclusive(false);
        }
        button->setChecked(control.id == check);
        if (exclusive) {
            group->setExclusive(true);
        }
    }
}

void CDialog::EnableDlgItem(int id, bool enable) {
    if (QWidget* widget = GetDlgItem(id)) {
        widget->setEnabled(enable);
    }
}

void CDialog::ShowDlgItem(int id, bool show) {
    if (QWidget* widget = GetDlgItem(id)) {
        widget->setVisible(show);
    }
}

void CDialog::AnnounceDlgItem(int id) {
    const Control* control = FindControl(id);
    if (control != nullptr && control->live) {
        AnnounceLiveText(control->widget);
    }
}

int CDialog::AddComboString(int id, const QString& text) {
    auto* combo = dynamic_cast<QComboBox*>(GetDlgItem(id));
    if (combo == nullptr) {
        return -1;
    }
    int index = combo->count();
    if (combo->property("quillonSorted").toBool()) {
        for (int i = 0; i < combo->count(); ++i) {
            if (QString::compare(combo->itemText(i), text, Qt::CaseInsensitive) > 0) {
                index = i;
                break;
            }
        }
    }
    const QString editText = combo->currentText();
    const QSignalBlocker blocker(combo);
    combo->insertItem(index, text);
    if (combo->isEditable()) {
        combo->setEditText(editText);
    }
    return index;
}

QRect CDialog::MapDialogRect(const QRect& units) const {
    return quillon::MapDialogRect(units, baseUnits_);
}

void CDialog::UpdateCtlColors() {
    if (!hasWindow_) {
        return;
    }
    CtlColors own;
    OnCtlColor(nullptr, kIdStatic, CtlColorType::kDialog, own);
    if (own.brush) {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, *own.brush);
        setPalette(palette);
        setAutoFillBackground(true);
    }
    for (const Control& control : controls_) {
        ApplyColors(control.widget, control.id, control.kind, control.readOnly);
    }
}

void CDialog::ApplyColors(QWidget* widget, int id, ControlKind kind, bool readOnly) {
    CtlColorType type = CtlColorType::kStatic;
    switch (kind) {
    case ControlKind::kProgress:
        return; // draws itself entirely
    case ControlKind::kEdit:
        // A read-only edit field asks like a static control.
        type = readOnly ? CtlColorType::kStatic : CtlColorType::kEdit;
        break;
    case ControlKind::kComboBox:
        type = CtlColorType::kEdit;
        break;
    case ControlKind::kButton:
    case ControlKind::kRadio:
    case ControlKind::kCheckBox:
    case ControlKind::kGroupBox:
        type = CtlColorType::kButton;
        break;
    case ControlKind::kStatic:
    case ControlKind::kBitmap:
    case ControlKind::kFrame:
        type = CtlColorType::kStatic;
        break;
    }
    CtlColors colors;
    OnCtlColor(widget, id, type, colors);

    QPalette palette = widget->palette();
    if (colors.text) {
        palette.setColor(QPalette::WindowText, *colors.text);
        palette.setColor(QPalette::Text, *colors.text);
        palette.setColor(QPalette::ButtonText, *colors.text);
    }
    const bool fieldLike = kind == ControlKind::kEdit || kind == ControlKind::kComboBox;
    if (colors.textBackground && fieldLike) {
        palette.setColor(QPalette::Base, *colors.textBackground);
    }
    if (colors.brush) {
        palette.setColor(fieldLike ? QPalette::Base : QPalette::Window, *colors.brush);
        // Radio buttons and check boxes fill their background with the button colour.
        // Push buttons keep theirs: a brush never paints a push button.
        if (kind == ControlKind::kRadio || kind == ControlKind::kCheckBox) {
            palette.setColor(QPalette::Button, *colors.brush);
        }
    }
    widget->setPalette(palette);
    // Group boxes and frames stay transparent: they lie behind other controls.
    const bool filled = colors.brush.has_value() && !fieldLike && kind != ControlKind::kGroupBox &&
                        kind != ControlKind::kFrame;
    widget->setAutoFillBackground(filled);
}

bool CDialog::UpdateData(bool save) {
    if (!hasWindow_) {
        return false;
    }
    DoDataExchange(save);
    return true;
}

void CDialog::PostMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    QCoreApplication::postEvent(this, new CMessageEvent(message, wParam, lParam));
}

std::intptr_t CDialog::SendMessage(std::uint32_t message, std::intptr_t wParam,
                                   std::intptr_t lParam) {
    std::intptr_t result = 0;
    if (hasWindow_) {
        OnMessage(message, wParam, lParam, result);
    }
    return result;
}

void CDialog::SetMessageHandler(std::uint32_t message, MessageHandler handler) {
    if (handler) {
        handlers_[message] = std::move(handler);
    } else {
        handlers_.erase(message);
    }
}

void CDialog::SetIdleNotification(bool on) {
    if (idleConnection_) {
        disconnect(idleConnection_);
        idleConnection_ = {};
    }
    if (on && QAbstractEventDispatcher::instance() != nullptr) {
        idleConnection_ =
            connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                    this, [this] { OnIdle(); });
    }
}

void CDialog::OnIdle() {
    QWidget* modal = QApplication::activeModalWidget();
    if (inIdle_ || !hasWindow_ || (modal != nullptr && modal != this)) {
        return;
    }
    inIdle_ = true;
    SendMessage(kWmKickIdle, 0, idleCount_++);
    inIdle_ = false;
}

int CDialog::MessageBox(const QString& text, MessageBoxKind kind, const QString& detail) {
    return ShowMessageBox(window(), text, kind, detail);
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(bool /*save*/) {
}

void CDialog::OnOK() {
    if (UpdateData(true)) {
        EndDialog(kIdOk);
    }
}

void CDialog::OnCancel() {
    EndDialog(kIdCancel);
}

void CDialog::OnCommand(int id, Notify code) {
    if (code != Notify::kClicked) {
        return;
    }
    if (id == kIdOk) {
        OnOK();
    } else if (id == kIdCancel) {
        OnCancel();
    }
}

void CDialog::OnDestroy() {
}

void CDialog::OnCtlColor(QWidget* /*control*/, int /*id*/, CtlColorType /*type*/,
                         CtlColors& /*colors*/) {
}

bool CDialog::OnMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam,
                        std::intptr_t& result) {
    const auto it = handlers_.find(message);
    if (it == handlers_.end()) {
        return false;
    }
    // The handler may replace itself; run a copy.
    const MessageHandler handler = it->second;
    result = handler(wParam, lParam);
    return true;
}

void CDialog::ExchangeText(bool save, int id, QString& value) {
    if (save) {
        value = GetDlgItemText(id);
    } else {
        SetDlgItemText(id, value);
    }
}

void CDialog::ExchangeText(bool save, int id, std::string& value) {
    if (save) {
        value = GetDlgItemText(id).toLatin1().toStdString();
    } else {
        SetDlgItemText(id, QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
    }
}

void CDialog::ExchangeCheck(bool save, int id, bool& value) {
    if (save) {
        value = IsDlgButtonChecked(id);
    } else {
        CheckDlgButton(id, value);
    }
}

bool CDialog::event(QEvent* event) {
    if (event->type() == CMessageEvent::EventType()) {
        const auto* message = static_cast<CMessageEvent*>(event);
        if (hasWindow_) {
            std::intptr_t result = 0;
            OnMessage(message->Message(), message->WParam(), message->LParam(), result);
        }
        return true;
    }
    return QDialog::event(event);
}

void CDialog::accept() {
    OnCommand(kIdOk, Notify::kClicked);
}

void CDialog::reject() {
    OnCommand(kIdCancel, Notify::kClicked);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    if (!isWindow()) {
        // A page leaves Enter and Escape to the dialog it sits in.
        QWidget::keyPressEvent(event);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDialog::showEvent(QShowEvent* event) {
    UpdateCtlColors();
    QDialog::showEvent(event);
}

} // namespace quillon
