#include "WizardTestSupport.h"
#include "wizard/CNewWizDialog.h"
#include "wizard/CNewWizPage.h"

#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {
namespace {

// Every page records what the frame asked of it into one shared log.
class RecordingPage : public CNewWizPage {
public:
    explicit RecordingPage(std::vector<std::string>& log) : CNewWizPage(0), log_(log) {}

    bool created = true;
    bool leave = true;
    bool cancel = true;
    int next = 0;
    int back = 0;

    bool OnPageCreated() override { return Record("created", created); }
    void OnPageDestroying() override { Record("destroying", true); }
    bool OnPageLeave() override { return Record("leave", leave); }
    void OnPageEnter() override {
        // While a page is entered, no page is marked active.
        Record(Frame()->GetActivePageIndex() == -1 ? "enter" : "enter-while-active", true);
    }
    bool OnPageCancel() override { return Record("cancel", cancel); }
    int OnPageBack() override {
        Record("back", true);
        return back;
    }
    int OnPageNext() override {
        Record("next", true);
        return next;
    }

private:
    bool Record(const char* what, bool answer) {
        log_.push_back(std::to_string(TemplateId()) + ":" + what);
        return answer;
    }
    std::vector<std::string>& log_;
};

class FrameTest : public testing::Test {
protected:
    void Build(const std::vector<int>& ids) {
        for (int id : ids) {
            pages.push_back(std::make_unique<RecordingPage>(log));
            frame.AddPage(*pages.back(), id);
        }
        frame.SetPlaceholderId(1010);
    }
    void Open() {
        ASSERT_TRUE(frame.Create());
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    }
    void TearDown() override { frame.DestroyWindow(); }
    int ActiveId() const {
        const CNewWizPage* page = frame.GetActivePage();
        return page == nullptr ? 0 : page->TemplateId();
    }
    bool Back() const { return IsEnabled(frame, kIdWizBack); }
    bool Next() const { return IsEnabled(frame, kIdWizNext); }
    void TakeLog(std::vector<std::string>& out) {
        out.swap(log);
        log.clear();
    }

    std::vector<std::string> log;
    std::vector<std::unique_ptr<RecordingPage>> pages;
    CNewWizDialog frame{131};
};

const std::vector<int> kFive{136, 137, 140, 138, 139};

TEST_F(FrameTest, OpensOnTheFirstPageWithBackDisabledAndNextEnabled) {
    Build(kFive);
    Open();
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_EQ(frame.GetActivePageIndex(), 0);
    EXPECT_FALSE(Back());
    EXPECT_TRUE(Next());
    EXPECT_EQ(log, (std::vector<std::string>{"136:created", "136:enter"}));
    // The page lies on the placeholder, shown and enabled; the others have no window yet.
    EXPECT_TRUE(pages[0]->isVisible());
    EXPECT_TRUE(pages[0]->isEnabled());
    EXPECT_EQ(pages[0]->geometry().topLeft(), frame.GetDlgItem(1010)->geometry().topLeft());
    EXPECT_FALSE(pages[1]->IsCreated());
    EXPECT_FALSE(pages[1]->HasWindow());
}

TEST_F(FrameTest, NextToTheLastPageDisablesNextAndEnablesBack) {
    Build(kFive);
    Open();
    for (int step = 0; step < 3; ++step) {
        Click(frame, kIdWizNext);
        EXPECT_TRUE(Next());
        EXPECT_TRUE(Back());
    }
    EXPECT_EQ(ActiveId(), 138);
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 139);
    EXPECT_FALSE(Next());
    EXPECT_TRUE(Back());
    // Only the active page is visible.
    for (std::size_t i = 0; i + 1 < pages.size(); ++i) {
        EXPECT_FALSE(pages[i]->isVisible()) << i;
        EXPECT_FALSE(pages[i]->IsActive()) << i;
    }
    // Each step left the old page before entering the new one.
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"138:next", "139:created", "138:leave", "139:enter"}));
}

TEST_F(FrameTest, AnAnswerNamingNoPageStaysAndKeepsTheButtons) {
    Build(kFive);
    Open();
    Click(frame, kIdWizNext);
    Click(frame, kIdWizNext);
    ASSERT_EQ(ActiveId(), 140);
    pages[2]->next = 1;
    log.clear();
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 140);
    EXPECT_TRUE(Back());
    EXPECT_TRUE(Next());
    EXPECT_EQ(log, (std::vector<std::string>{"140:next"}));
}

TEST_F(FrameTest, AnAnswerNamingTheFirstPageJumpsThereAndEnablesBack) {
    Build(kFive);
    Open();
    Click(frame, kIdWizNext);
    Click(frame, kIdWizNext);
    pages[2]->next = 136;
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_TRUE(Back());
    EXPECT_TRUE(Next());
    EXPECT_TRUE(pages[0]->isVisible());
    EXPECT_FALSE(pages[2]->isVisible());
}

TEST_F(FrameTest, BackToTheFirstPageDisablesBack) {
    Build(kFive);
    Open();
    Click(frame, kIdWizNext);
    ASSERT_EQ(ActiveId(), 137);
    Click(frame, kIdWizBack);
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_FALSE(Back());
    EXPECT_TRUE(Next());
    // Back from the last page enables Next again.
    for (int i = 0; i < 4; ++i) {
        Click(frame, kIdWizNext);
    }
    ASSERT_FALSE(Next());
    Click(frame, kIdWizBack);
    EXPECT_EQ(ActiveId(), 138);
    EXPECT_TRUE(Next());
}

TEST_F(FrameTest, RevisitingAPageEntersItAgainWithoutCreatingItAgain) {
    Build(kFive);
    Open();
    Click(frame, kIdWizNext);
    Click(frame, kIdWizBack);
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 137);
    EXPECT_EQ(std::count(log.begin(), log.end(), "137:created"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "137:enter"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "136:created"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "136:enter"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "136:enter-while-active"), 0);
}

TEST_F(FrameTest, WithOnePageOnlyNextIsDisabledFromTheStart) {
    Build({136});
    Open();
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_FALSE(Next());
    EXPECT_FALSE(Back());
}

TEST_F(FrameTest, APageThatRefusesToBeLeftKeepsTheWizardWhereItIs) {
    Build(kFive);
    Open();
    pages[0]->leave = false;
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_TRUE(pages[0]->isVisible());
    EXPECT_FALSE(Back());
    // The next page was created on the way, but stays hidden.
    EXPECT_TRUE(pages[1]->IsCreated());
    EXPECT_FALSE(pages[1]->isVisible());
}

TEST_F(FrameTest, APageThatRefusesItsCreationIsNotShown) {
    Build(kFive);
    Open();
    pages[1]->created = false;
    Click(frame, kIdWizNext);
    EXPECT_EQ(ActiveId(), 136);
    EXPECT_TRUE(pages[0]->isVisible());
    EXPECT_FALSE(pages[1]->isVisible());
    EXPECT_FALSE(Back());
}

TEST_F(FrameTest, ABackAnswerNamingAPageJumpsThere) {
    Build(kFive);
    Open();
    for (int i = 0; i < 3; ++i) {
        Click(frame, kIdWizNext);
    }
    ASSERT_EQ(ActiveId(), 138);
    pages[3]->back = 137; // skip the page before
    Click(frame, kIdWizBack);
    EXPECT_EQ(ActiveId(), 137);
    EXPECT_TRUE(Back());
    pages[1]->back = -1;
    Click(frame, kIdWizBack);
    EXPECT_EQ(ActiveId(), 137);
}

TEST_F(FrameTest, PageJumpsThroughTheFrameOperations) {
    Build(kFive);
    Open();
    EXPECT_TRUE(frame.ActivatePageAt(3));
    EXPECT_EQ(ActiveId(), 138);
    EXPECT_FALSE(frame.ActivatePageAt(5));
    EXPECT_FALSE(frame.ActivatePageAt(-1));
    // A jump leaves the buttons to the page.
    EXPECT_FALSE(Back());
    frame.ActivateNextPage();
    EXPECT_EQ(ActiveId(), 139);
    EXPECT_TRUE(Back());
    EXPECT_EQ(frame.GetPageIndex(pages[2].get()), 2);
    EXPECT_EQ(frame.FindPageById(140), pages[2].get());
    EXPECT_EQ(frame.FindPageById(1), nullptr);
    EXPECT_EQ(frame.GetPageAt(7), nullptr);
}

// The close sequence runs through the real modal loop and the Close button.
TEST_F(FrameTest, CloseIsRefusedByAPageAndThenAcceptedWithLeaveAndDestroyInOrder) {
    Build(kFive);
    std::vector<std::string> beforeClose;
    bool stillOpen = false;
    const int result = RunModal(frame, [&] {
        Click(frame, kIdWizNext);
        Click(frame, kIdWizNext);
        pages[1]->cancel = false;
        log.clear();
        Click(frame, 2);
        Pump();
        stillOpen = frame.isVisible();
        TakeLog(beforeClose);
        pages[1]->cancel = true;
        Click(frame, 2);
    });
    EXPECT_TRUE(stillOpen);
    // Asking stops at the first refusal, in list order.
    EXPECT_EQ(beforeClose, (std::vector<std::string>{"136:cancel", "137:cancel"}));
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(log, (std::vector<std::string>{"136:cancel", "137:cancel", "140:cancel", "136:leave",
                                             "136:destroying", "137:leave", "137:destroying",
                                             "140:leave", "140:destroying"}));
    for (const auto& page : pages) {
        EXPECT_FALSE(page->IsCreated());
        EXPECT_FALSE(page->HasWindow());
    }
}

TEST_F(FrameTest, APageRefusingToLeaveAtTheEndKeepsItsObjectButLosesItsWindow) {
    Build({136, 137});
    const int result = RunModal(frame, [&] {
        Click(frame, kIdWizNext);
        pages[0]->leave = false;
        log.clear();
        Click(frame, 2);
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(log, (std::vector<std::string>{"136:cancel", "137:cancel", "136:leave", "137:leave",
                                             "137:destroying"}));
    EXPECT_FALSE(pages[0]->HasWindow());
    EXPECT_FALSE(pages[1]->IsCreated());
}

TEST_F(FrameTest, EscapeClosesAndEnterActsAsNext) {
    Build(kFive);
    int activeAfterEnter = 0;
    const int result = RunModal(frame, [&] {
        QTest::keyClick(&frame, Qt::Key_Return);
        activeAfterEnter = ActiveId();
        QTest::keyClick(pages[1]->GetDlgItem(1021) != nullptr ? pages[1]->GetDlgItem(1021) : &frame,
                        Qt::Key_Escape);
    });
    EXPECT_EQ(activeAfterEnter, 137);
    EXPECT_EQ(result, kIdCancel);
}

TEST_F(FrameTest, EnableBackFromAnotherThreadArrivesOnTheUiThread) {
    Build(kFive);
    Open();
    ASSERT_FALSE(Back());
    std::thread worker([this] { frame.EnableBack(true); });
    worker.join();
    EXPECT_FALSE(Back()); // not yet: queued to the UI thread
    Pump();
    EXPECT_TRUE(Back());
}

} // namespace
} // namespace quillon::test

namespace quillon::test {
namespace {

// Nothing in the wizard sends the Finish command; the frame still handles it.
class FinishingFrame : public CNewWizDialog {
public:
    FinishingFrame() : CNewWizDialog(131) {}
    void Finish() { OnCommand(kIdWizFinish, Notify::kClicked); }
};

class FinishingPage : public CNewWizPage {
public:
    FinishingPage(std::vector<std::string>& log, bool finish)
        : CNewWizPage(0), finish_(finish), log_(log) {}
    bool OnPageLeave() override {
        log_.push_back(std::to_string(TemplateId()) + ":leave");
        return true;
    }
    bool OnPageFinish() override {
        log_.push_back(std::to_string(TemplateId()) + ":finish");
        return finish_;
    }
    bool finish_;

private:
    std::vector<std::string>& log_;
};

TEST(FrameFinishTest, FinishLeavesTheActivePageAsksEveryCreatedPageAndEnds) {
    std::vector<std::string> log;
    FinishingPage first(log, true);
    FinishingPage second(log, false);
    FinishingPage third(log, true);
    FinishingFrame frame;
    frame.AddPage(first, 136);
    frame.AddPage(second, 137);
    frame.AddPage(third, 140);
    frame.SetPlaceholderId(1010);
    bool openAfterRefusal = false;
    std::vector<std::string> refused;
    const int result = RunModal(frame, [&] {
        Click(frame, kIdWizNext);
        log.clear();
        frame.Finish();
        Pump();
        openAfterRefusal = frame.isVisible();
        refused = log;
        log.clear();
        second.finish_ = true;
        frame.Finish();
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_EQ(refused, (std::vector<std::string>{"137:leave", "136:finish", "137:finish"}));
    EXPECT_EQ(result, kIdWizFinish);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"137:leave", "136:finish", "137:finish"}));
}

} // namespace
} // namespace quillon::test
