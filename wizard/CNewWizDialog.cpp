#include "wizard/CNewWizDialog.h"

#include "wizard/CNewWizPage.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
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
        // Hiding the page would pass its focus on to the buttons: it goes into the new
        // page instead, below.
        if (QWidget* focus = focusWidget(); focus != nullptr && current->isAncestorOf(focus)) {
            focus->clearFocus();
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
    // Before the page's own arrival work, which may disable the button that has the focus.
    FocusIntoPage(page);

    page->OnPageEnter();
    page->active_ = true;
    FocusIntoPage(page);
    return true;
}

void CNewWizDialog::FocusIntoPage(CNewWizPage* page) {
    QWidget* target = page->FirstInputControl();
    // A page without input takes the focus itself (and is a Tab stop), so it is read.
    page->setFocusPolicy(target == nullptr ? Qt::TabFocus : Qt::NoFocus);
    if (target == nullptr) {
        target = page;
    }
    QWidget* focus = focusWidget();
    if (focus != nullptr && (focus == page || page->isAncestorOf(focus)) &&
        focus->isVisibleTo(page) && focus->isEnabled()) {
        return;
    }
    target->setFocus(Qt::OtherFocusReason);
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
    // Next stays the default button wherever the focus goes: no button takes the default
    // over when it gets the focus.
    for (int id : {kIdWizBack, kIdWizNext, kIdWizFinish, kIdCancel}) {
        if (auto* button = GetDlgItemAs<QPushButton>(id)) {
            button->setAutoDefault(false);
            button->setDefault(id == kIdWizNext);
        }
    }
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

void CNewWizDialog::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || modifiers != Qt::NoModifier) {
        CDialog::keyPressEvent(event);
        return;
    }
    // Whatever has the focus did not want Return for itself: it acts as Next.
    event->accept();
    auto* next = GetDlgItemAs<QAbstractButton>(kIdWizNext);
    if (next != nullptr && next->isVisible() && next->isEnabled()) {
        next->click();
    }
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
