#pragma once

#include "wizard/CDialog.h"

#include <QColor>
#include <QFont>

namespace quillon {

class CNewWizDialog;

// A page of the wizard: a child dialog that the frame creates on its first visit, shows
// in the frame's placeholder area and destroys when the frame goes. Pages take part in
// navigation through the eight OnPage operations, each with a default.
//
// Navigation answers of OnPageBack/OnPageNext: 0 = the neighbouring page, -1 = stay,
// anything else = the template id of the page to go to (stay when no page has it).
//
// Threads: the UI thread only.
class CNewWizPage : public CDialog {
public:
    explicit CNewWizPage(int templateId, QWidget* parent = nullptr);

    // Called by the frame once, right after the page window was created at its first
    // activation; false stops that activation.
    virtual bool OnPageCreated();
    // Called just before the frame destroys the page window.
    virtual void OnPageDestroying();
    // Called on the active page before another is shown, on every created page before the
    // frame destroys it, and on the active page before Finish. False keeps the page.
    virtual bool OnPageLeave();
    // Called once the page is placed, enabled, shown and repainted, before it is marked
    // active.
    virtual void OnPageEnter();
    // Called on every created page when the wizard is to close; false keeps it open.
    virtual bool OnPageCancel();
    virtual int OnPageBack();
    virtual int OnPageNext();
    // Called on every created page when Finish is pressed; false stops finishing.
    virtual bool OnPageFinish();

    CNewWizDialog* Frame() const { return frame_; }
    // The first control in Tab order that takes input and can have the focus now (texts
    // that only take the focus to be read do not count); null when there is none.
    QWidget* FirstInputControl() const;
    bool IsCreated() const { return created_; }
    bool IsActive() const { return active_; }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    // A page never ends itself.
    void OnOK() override {}
    void OnCancel() override {}
    // Black text on white for the controls; white behind everything.
    void OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors) override;
    // A page that has the focus itself shows a focus frame round its side of the page.
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    // A bold heading font that derived pages may give to their heading control.
    const QFont& TitleFont() const { return titleFont_; }

private:
    friend class CNewWizDialog;

    QFont titleFont_;
    QColor backgroundBrush_;
    CNewWizDialog* frame_ = nullptr;
    bool created_ = false;
    bool active_ = false;
};

} // namespace quillon
