#include "wizard/CNewWizDialog.h"

#include "wizard/CNewWizPage.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <algorithm>

namespace quillon {

CNewWizDialog::CNewWizDialog(int templateId, QWidget* parent) : CDialog(templateId, parent) {
}

CNewWizDialog::~CNewWizDialog() {
    // The pages belong to someone else: they must not go down with this widget. (Their
    // owner may have destroyed them already, so only the living children are looked at.)
    for (CNewWizPage* page : findChildren<CNewWizPage*>(QString(), Qt::FindDirectChildrenOnly)) {
        page->setParent(nullptr);
    }
}

void CNewWizDialog::AddPage(CNewWizPage& page, int templateId) {
    page.SetTemplateId(templateId);
    pages_.push_back(&page);
}

void CNewWizDialog::EnableButton(int id, bool enable) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [self = QPointer<CNewWizDialog>(this), id, enable] {
                if (self) {
                    self->EnableButton(id, enable);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    EnableDlgItem(id, enable);
}

void CNewWizDialog::EnableBack(bool enable) {
    EnableButton(kIdWizBack, enable);
}

void CNewWizDialog::EnableNext(bool enable) {
    EnableButton(kIdWizNext, enable);
}

int CNewWizDialog::GetActivePageIndex() const {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i]->active_) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CNewWizDialog::GetPageIndex(const CNewWizPage* page) const {
    const auto it = std::find(pages_.begin(), pages_.end(), page);
    return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

CNewWizPage* CNewWizDialog::GetPageAt(int index) const {
    if (index < 0 || index >= GetPageCount()) {
        return nullptr;
    }
    return pages_[static_cast<std::size_t>(index)];
}

CNewWizPage* CNewWizDialog::FindPageById(int templateId) const {
    const auto it = std::find_if(pages_.begin(), pages_.end(), [templateId](CNewWizPage* page) {
        return page->TemplateId() == templateId;
    });
    return it == pages_.end() ? nullptr : *it;
}

CNewWizPage* CNewWizDialog::GetActivePage() const {
    return GetPageAt(GetActivePageIndex());
}

bool CNewWizDialog::ActivatePage(CNewWizPage* page) {
    if (page == nullptr) {
        return false;
    }
    if (!page->created_) {
        page->frame_ = this;
        if (!page->Create(this)) {
            return false;
        }
        page->created_ = true;
        if (!page->OnPageCreated()) {
            return false;
        }
    }

    if (CNewWizPage* current = GetActivePage()) {
        if (!current->OnPageLeave()) {
            return false;
        }
        current->setVisible(false);
        current->active_ = false;
    }

    // The page's top-left corner goes onto the placeholder's; a missing placeholder puts
    // the page at the frame's top-left corner.
    QPoint origin(0, 0);
    if (const QWidget* placeholder = GetDlgItem(placeholderId_)) {
        origin = placeholder->geometry().topLeft();
    }
    page->move(origin);

    page->setEnabled(true);
    page->setVisible(true);
    page->raise();
    page->repaint();

    page->OnPageEnter();
    page->active_ = true;
    return true;
}

bool CNewWizDialog::ActivatePageAt(int index) {
    CNewWizPage* page = GetPageAt(index);
    if (page == nullptr) {
        return false;
    }
    ActivatePage(page);
    return true;
}

void CNewWizDialog::ActivateNextPage() {
    if (ActivatePage(Neighbour(+1))) {
        EnableBack(true);
    }
}

CNewWizPage* CNewWizDialog::Neighbour(int step) const {
    const int active = GetActivePageIndex();
    return active < 0 ? nullptr : GetPageAt(active + step);
}

bool CNewWizDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    EnableBack(false);
    EnableNext(pages_.size() > 1);
    if (!pages_.empty()) {
        ActivatePage(pages_.front());
    }
    return true;
}

void CNewWizDialog::DoDataExchange(bool /*save*/) {
}

void CNewWizDialog::GoNext() {
    CNewWizPage* active = GetActivePage();
    if (active == nullptr) {
        return;
    }
    const int answer = active->OnPageNext();
    if (answer == -1) {
        return;
    }
    CNewWizPage* target = answer == 0 ? Neighbour(+1) : FindPageById(answer);
    if (target == nullptr || !ActivatePage(target)) {
        return;
    }
    if (target == pages_.back()) {
        EnableNext(false);
    }
    EnableBack(true);
}

void CNewWizDialog::GoBack() {
    CNewWizPage* active = GetActivePage();
    if (active == nullptr) {
        return;
    }
    const int answer = active->OnPageBack();
    if (answer == -1) {
        return;
    }
    CNewWizPage* target = answer == 0 ? Neighbour(-1) : FindPageById(answer);
    if (target == nullptr || !ActivatePage(target)) {
        return;
    }
    if (target == pages_.front()) {
        EnableBack(false);
    }
    EnableNext(true);
}

void CNewWizDialog::OnCancel() {
    for (CNewWizPage* page : pages_) {
        if (page->created_ && !page->OnPageCancel()) {
            return;
        }
    }
    EndDialog(kIdCancel);
}

void CNewWizDialog::OnFinish() {
    if (CNewWizPage* active = GetActivePage(); active != nullptr && !active->OnPageLeave()) {
        return;
    }
    for (CNewWizPage* page : pages_) {
        if (page->created_ && !page->OnPageFinish()) {
            return;
        }
    }
    UpdateData(true);
    EndDialog(kIdWizFinish);
}

void CNewWizDialog::OnCommand(int id, Notify code) {
    if (code == Notify::kClicked) {
        switch (id) {
        case kIdWizBack:
            GoBack();
            return;
        case kIdWizNext:
            GoNext();
            return;
        case kIdWizFinish:
            OnFinish();
            return;
        default:
            break;
        }
    }
    CDialog::OnCommand(id, code);
}

void CNewWizDialog::OnDestroy() {
    for (CNewWizPage* page : pages_) {
        if (!page->created_ || !page->OnPageLeave()) {
            continue;
        }
        page->OnPageDestroying();
        page->DestroyWindow();
        page->created_ = false;
        page->active_ = false;
    }
    CDialog::OnDestroy();
}

} // namespace quillon
