// The tooltip window on a plain owner: size from the text, line splitting, the cursor
// check, the slide, and the one-tip rule.

#include "DeviceWizard.h"
#include "wizard/CToolTip.h"

#include <QFontMetrics>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace quillon::test {
namespace {

class ToolTipTest : public testing::Test {
protected:
    void SetUp() override {
        owner.resize(400, 300);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
        previous = CToolTip::SetCursorSource([this] { return cursor; });
        cursor = owner.mapToGlobal(QPoint(60, 40));
    }
    void TearDown() override {
        CToolTip::SetAnimated(true);
        CToolTip::SetCursorSource(previous);
        delete CToolTip::Current();
    }

    TipSpec TipFor(const QString& text) {
        TipSpec description;
        description.owner = &owner;
        description.windowRect = QRect(QPoint(50, 30), QSize(0, 0));
        description.hotRect = QRect(50, 30, 100, 20);
        description.textOrigin = QPoint(53, 32);
        description.font = owner.font();
        description.text = text;
        return description;
    }

    static void WaitForNoTip() {
        EXPECT_TRUE(WaitUntil([] { return CToolTip::Current() == nullptr; }));
    }

    QWidget owner;
    QPoint cursor;
    CToolTip::CursorSource previous;
};

TEST_F(ToolTipTest, TheSizeFollowsTheTextAndTheInsets) {
    CToolTip* tip = CToolTip::ShowTip(&owner, TipFor("first line\nthe second, longer line"));
    ASSERT_NE(tip, nullptr);
    const QFontMetrics metrics(owner.font());
    const int widest = metrics.horizontalAdvance("the second, longer line");
    // Insets 3 across and 2 down: three of them across, two down.
    EXPECT_EQ(tip->TipSize(), QSize(widest + 9, 2 * metrics.height() + 4));
    // The window grows to that size as it slides in.
    EXPECT_TRUE(WaitUntil([tip] { return tip->Reveal() >= 1.0; }));
    EXPECT_EQ(tip->size(), tip->TipSize());
    EXPECT_EQ(tip->pos(), owner.mapToGlobal(QPoint(50, 30)));
    EXPECT_EQ(tip->Description().windowRect, QRect(QPoint(50, 30), tip->TipSize()));
    EXPECT_TRUE(tip->windowFlags().testFlag(Qt::ToolTip));
    EXPECT_TRUE(tip->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(tip->isVisible());
}

TEST_F(ToolTipTest, CarriageReturnsAreIgnoredAndATrailingLineBreakAddsALine) {
    CToolTip::SetAnimated(false);
    CToolTip* crlf = CToolTip::ShowTip(&owner, TipFor("one\r\ntwo"));
    ASSERT_NE(crlf, nullptr);
    EXPECT_EQ(crlf->Lines(), (QStringList{"one", "two"}));
    const QSize twoLines = crlf->TipSize();
    delete crlf;

    CToolTip* lf = CToolTip::ShowTip(&owner, TipFor("one\ntwo"));
    ASSERT_NE(lf, nullptr);
    EXPECT_EQ(lf->Lines(), (QStringList{"one", "two"}));
    EXPECT_EQ(lf->TipSize(), twoLines);
    delete lf;

    CToolTip* trailing = CToolTip::ShowTip(&owner, TipFor("one\ntwo\n"));
    ASSERT_NE(trailing, nullptr);
    EXPECT_EQ(trailing->Lines(), (QStringList{"one", "two", ""}));
    const QFontMetrics metrics(owner.font());
    EXPECT_EQ(trailing->TipSize(), twoLines + QSize(0, metrics.height()));
}

TEST_F(ToolTipTest, ASecondTipWhileOneIsOpenShowsNothingNew) {
    CToolTip* first = CToolTip::ShowTip(&owner, TipFor("first"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CToolTip::ShowTip(&owner, TipFor("second")), nullptr);
    EXPECT_EQ(CToolTip::Current(), first);
    EXPECT_EQ(first->Lines(), QStringList{"first"});
    const auto tips = owner.findChildren<CToolTip*>();
    EXPECT_EQ(tips.size(), 1);

    // Once it has gone, a new one may open.
    cursor = QPoint(-50, -50);
    WaitForNoTip();
    CToolTip* second = CToolTip::ShowTip(&owner, TipFor("second"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Lines(), QStringList{"second"});
}

TEST_F(ToolTipTest, SlidesInStaysWhileTheCursorDoesAndSlidesOutWhenItLeaves) {
    CToolTip* tip = CToolTip::ShowTip(&owner, TipFor("sliding in\nover two lines"));
    ASSERT_NE(tip, nullptr);
    EXPECT_LT(tip->Reveal(), 1.0);
    EXPECT_TRUE(WaitUntil([tip] { return tip->Reveal() >= 1.0; }));
    Pump(3 * CToolTip::kCursorCheckMs);
    EXPECT_EQ(CToolTip::Current(), tip);
    EXPECT_FALSE(tip->IsClosing());

    // Onto the tip itself, which lies outside the hot area: that is leaving too.
    cursor = tip->geometry().bottomRight() - QPoint(1, 1);
    ASSERT_FALSE(QRect(owner.mapToGlobal(QPoint(50, 30)), QSize(100, 20)).contains(cursor));
    const QPointer<CToolTip> watched(tip);
    EXPECT_TRUE(WaitUntil([&watched] {
        const CToolTip* alive = watched.data();
        return alive == nullptr || alive->IsClosing();
    }));
    WaitForNoTip();
}

TEST_F(ToolTipTest, WithoutAnimationTheTipComesAndGoesAtOnce) {
    CToolTip::SetAnimated(false);
    CToolTip* tip = CToolTip::ShowTip(&owner, TipFor("at once"));
    ASSERT_NE(tip, nullptr);
    EXPECT_DOUBLE_EQ(tip->Reveal(), 1.0);
    EXPECT_TRUE(tip->isVisible());
    EXPECT_EQ(tip->size(), tip->TipSize());
    // Gone once a cursor check finds the cursor elsewhere, without a slide: until it
    // hides it stays whole.
    cursor = QPoint(-50, -50);
    const QPointer<CToolTip> watched(tip);
    bool slid = false;
    EXPECT_TRUE(WaitUntil([&watched, &slid] {
        const CToolTip* alive = watched.data();
        if (alive == nullptr || !alive->isVisible()) {
            return true;
        }
        slid = slid || alive->Reveal() < 1.0 || alive->size() != alive->TipSize();
        return false;
    }));
    EXPECT_FALSE(slid);
    WaitForNoTip();
}

TEST_F(ToolTipTest, AHiddenOrDestroyedOwnerTakesTheTipAway) {
    ASSERT_NE(CToolTip::ShowTip(&owner, TipFor("hidden")), nullptr);
    owner.hide();
    WaitForNoTip();

    owner.show();
    auto* other = new QWidget;
    other->resize(200, 100);
    other->show();
    TipSpec description = TipFor("owned");
    description.owner = other;
    ASSERT_NE(CToolTip::ShowTip(other, description), nullptr);
    delete other;
    EXPECT_EQ(CToolTip::Current(), nullptr);
}

} // namespace
} // namespace quillon::test
