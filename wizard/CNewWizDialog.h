#pragma once

#include "wizard/CDialog.h"

#include <vector>

namespace quillon {

class CNewWizPage;

// Control ids of the frame's buttons.
inline constexpr int kIdWizBack = 12323;
inline constexpr int kIdWizNext = 12324;
inline constexpr int kIdWizFinish = 12325;

// The wizard frame: shows one page of an ordered list at a time on its placeholder
// control, with Back and Next to move between them and Close to leave. It refers to the
// pages but does not own them; their owner keeps them alive longer than the frame's
// window.
//
// Keyboard: Return and Enter act on Next wherever the focus is (nothing happens while Next
// is disabled), except inside a control that uses Return itself (an open drop-down list);
// Space acts on the focused button; Escape and the close box are the cancel command. Every
// page activation puts the focus into the page: on its first control that takes input, or
// on the page itself when it has none, so that a screen reader reads it.
//
// Threads: the UI thread, except EnableBack/EnableNext, which any thread may call (off the
// UI thread the change is queued to it).
class CNewWizDialog : public CDialog {
public:
    explicit CNewWizDialog(int templateId, QWidget* parent = nullptr);
    ~CNewWizDialog() override;

    void AddPage(CNewWizPage& page, int templateId);
    void SetPlaceholderId(int id) { placeholderId_ = id; }
    int PlaceholderId() const { return placeholderId_; }

    void EnableBack(bool enable);
    void EnableNext(bool enable);

    int GetActivePageIndex() const;
    int GetPageIndex(const CNewWizPage* page) const;
    CNewWizPage* GetPageAt(int index) const;
    CNewWizPage* FindPageById(int templateId) const;
    CNewWizPage* GetActivePage() const;
    int GetPageCount() const { return static_cast<int>(pages_.size()); }

    // Creates the page on its first visit, leaves the active page and shows this one.
    // False when the page could not be created, refused its creation or the active page
    // refused to be left.
    bool ActivatePage(CNewWizPage* page);
    // False only when the index names no page.
    bool ActivatePageAt(int index);
    // Goes on to the page after the active one and then enables Back.
    void ActivateNextPage();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnCancel() override;
    void OnCommand(int id, Notify code) override;
    void OnDestroy() override;
    void keyPressEvent(QKeyEvent* event) override;

    void GoNext();
    void GoBack();
    void OnFinish();

private:
    void EnableButton(int id, bool enable);
    // The focus goes into the page unless it is there already.
    void FocusIntoPage(CNewWizPage* page);
    CNewWizPage* Neighbour(int step) const;

    std::vector<CNewWizPage*> pages_;
    int placeholderId_ = 0;
};

} // namespace quillon
