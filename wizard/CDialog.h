#pragma once

#include "wizard/DialogTemplate.h"
#include "wizard/MessageBox.h"

#include <QColor>
#include <QDialog>
#include <QMetaObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QButtonGroup;

namespace quillon {

// Numbered messages.
inline constexpr std::uint32_t kWmUser = 0x0400;
// Sent to a running modal dialog whenever its event loop runs out of work.
inline constexpr std::uint32_t kWmKickIdle = 0x036A;

// What a control tells its dialog through OnCommand.
enum class Notify {
    kClicked,    // a button was pressed (a radio button or check box also changed)
    kEditUpdate, // the user changed the text of an edit field or an editable combo box
    kSelChange,  // the user picked an item of a combo box
};

// Which kind of control asks for its colours (the dialog itself asks with kDialog).
enum class CtlColorType { kEdit, kListBox, kButton, kDialog, kScrollBar, kStatic };

// The answer to a colour request: text colour, text background and the brush that fills
// the control; what is left empty keeps the style's colour.
struct CtlColors {
    std::optional<QColor> text;
    std::optional<QColor> textBackground;
    std::optional<QColor> brush;
};

// A dialog built from a template of the program's resources: its controls are created
// from the template in dialog units and found by id; controls report through OnCommand,
// values move between members and controls in DoDataExchange, and numbered messages can
// be posted to it from any thread.
//
// The C++ object outlives its window: Create builds the window (the controls) and runs
// OnInitDialog, DestroyWindow runs OnDestroy and removes the controls again. A dialog
// created with a parent is a child widget of it (a page); without one it is a window.
//
// Threads: everything runs on the UI thread except PostMessage, which any thread may call
// while the object exists; the message is then handled on the UI thread.
class CDialog : public QDialog {
public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    int TemplateId() const { return templateId_; }
    void SetTemplateId(int templateId) { templateId_ = templateId; }

    // Builds the window from the template as a child of parent (or as a window of its
    // own), then runs OnInitDialog. False when the template is missing or the window
    // exists already.
    bool Create(QWidget* parent = nullptr);
    bool HasWindow() const { return hasWindow_; }
    void DestroyWindow();
    // Creates the dialog as a window, runs it until EndDialog and destroys the window.
    // Returns the EndDialog result, -1 when the window could not be created.
    int DoModal();
    void EndDialog(int result);

    // Controls.
    QWidget* GetDlgItem(int id) const;
    template <class T> T* GetDlgItemAs(int id) const { return dynamic_cast<T*>(GetDlgItem(id)); }
    QString GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const QString& text);
    bool IsDlgButtonChecked(int id) const;
    void CheckDlgButton(int id, bool checked);
    // Checks `check` and clears every other radio button with an id in [first, last].
    void CheckRadioButton(int first, int last, int check);
    void EnableDlgItem(int id, bool enable);
    void ShowDlgItem(int id, bool show);
    // Tells assistive technology again what a live text (template flag "live") says; a
    // live text that SetDlgItemText changes is announced by itself.
    void AnnounceDlgItem(int id);
    // Adds an item to a combo box; a sorted one keeps its items in text order (case
    // ignored), so COM10 comes before COM2. The edit field keeps its text. Returns the
    // item's index, -1 when there is no such combo box.
    int AddComboString(int id, const QString& text);
    ControlKind GetDlgItemKind(int id) const;

    // Dialog units of this dialog's font, and conversion to pixels.
    QSize BaseUnits() const { return baseUnits_; }
    QRect MapDialogRect(const QRect& units) const;

    // Asks OnCtlColor again for every control and the dialog itself, e.g. after a state
    // change that changes a colour.
    void UpdateCtlColors();
    // Runs DoDataExchange (save = from the controls into the members).
    bool UpdateData(bool save = true);

    // Messages. PostMessage may be called from any thread; SendMessage only on the UI
    // thread. A message for a dialog without a window is dropped.
    void PostMessage(std::uint32_t message, std::intptr_t wParam = 0, std::intptr_t lParam = 0);
    std::intptr_t SendMessage(std::uint32_t message, std::intptr_t wParam = 0,
                              std::intptr_t lParam = 0);
    using MessageHandler = std::function<std::intptr_t(std::intptr_t, std::intptr_t)>;
    void SetMessageHandler(std::uint32_t message, MessageHandler handler);

    // While on, kWmKickIdle is sent to this dialog each time the UI thread's event loop
    // runs out of work and no other modal window is in front. DoModal turns it on.
    void SetIdleNotification(bool on);

    // A message box captioned with the application's name, owned by this dialog's window.
    int MessageBox(const QString& text, MessageBoxKind kind = MessageBoxKind::kWarningOk,
                   const QString& detail = {});

protected:
    virtual bool OnInitDialog();
    virtual void DoDataExchange(bool save);
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnCommand(int id, Notify code);
    virtual void OnDestroy();
    // control is null (and id kIdStatic) for the dialog itself.
    virtual void OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors);
    // Handles a posted or sent message; the default runs the handler set for its number.
    // False when nobody handled it.
    virtual bool OnMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam,
                           std::intptr_t& result);

    // Data exchange helpers.
    void ExchangeText(bool save, int id, QString& value);
    // Byte strings show as Latin-1.
    void ExchangeText(bool save, int id, std::string& value);
    void ExchangeCheck(bool save, int id, bool& value);

    bool event(QEvent* event) override;
    void accept() override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Control {
        int id;
        ControlKind kind;
        QWidget* widget;
        bool readOnly;
        // Its text names this dialog; its changes are announced.
        bool heading = false;
        bool live = false;
    };

    QWidget* MakeControl(const ControlTemplate& control, QButtonGroup*& radioGroup);
    // Names, captions and roles for assistive technology, as the template gives them.
    void SetUpAccessibility(const DialogTemplate& dialogTemplate);
    void ConnectControl(const Control& control);
    const Control* FindControl(int id) const;
    void ApplyColors(QWidget* widget, int id, ControlKind kind, bool readOnly);
    void OnIdle();

    int templateId_;
    bool hasWindow_ = false;
    bool endRequested_ = false;
    bool inIdle_ = false;
    std::intptr_t idleCount_ = 0;
    QSize baseUnits_{1, 1};
    std::vector<Control> controls_;
    std::vector<QButtonGroup*> radioGroups_;
    std::unordered_map<std::uint32_t, MessageHandler> handlers_;
    QMetaObject::Connection idleConnection_;
};

} // namespace quillon
