#include "WizardTestSupport.h"
#include "wizard/WizardResources.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <gtest/gtest.h>

namespace quillon::test {
namespace {

const QString kRefusal = QStringLiteral(
    "You cannot continue with the firmware upload unless you accept the license agreement.");

TEST(LicencePageTest, TheShippedAgreementIsPlainAsciiWithCrLfLineBreaks) {
    const std::string_view text = LicenceText();
    EXPECT_GT(text.size(), 7000u);
    EXPECT_LT(text.size(), 8500u);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return c > 0 && static_cast<unsigned char>(c) < 128; }));
    // Every line break is CR LF; no stray CR or LF.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], '\r') << i;
        }
        if (text[i] == '\r') {
            ASSERT_LT(i + 1, text.size());
            EXPECT_EQ(text[i + 1], '\n') << i;
        }
    }
    EXPECT_NE(text.find("Veldra Pty. Ltd."), std::string_view::npos);
    EXPECT_NE(text.back(), '\0');
}

TEST(LicencePageTest, OpensWithRefusalSelectedAndTheAgreementFromItsFirstLine) {
    TestWizard wizard;
    wizard.Open();
    EXPECT_EQ(wizard.ActiveId(), CLicensePage::kTemplateId);
    EXPECT_TRUE(wizard.licence.IsDlgButtonChecked(kIdDecline));
    EXPECT_FALSE(wizard.licence.IsDlgButtonChecked(kIdAccept));

    const std::string_view shipped = LicenceText();
    EXPECT_EQ(wizard.licence.AgreementText(), std::string(shipped));
    auto* edit = wizard.licence.GetDlgItemAs<QPlainTextEdit>(kIdLicenceText);
    ASSERT_NE(edit, nullptr);
    QString expected = QString::fromLatin1(shipped.data(), static_cast<qsizetype>(shipped.size()));
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(edit->toPlainText(), expected);
    EXPECT_EQ(edit->verticalScrollBar()->value(), 0);
    EXPECT_EQ(edit->cursorForPosition(QPoint(4, 4)).block().text(),
              "VELDRA FIRMWARE UPLOAD WIZARD");

    const QFont heading = wizard.licence.GetDlgItem(kIdLicenceHeading)->font();
    EXPECT_TRUE(heading.bold());
    EXPECT_EQ(heading.pixelSize(), 12);
}

TEST(LicencePageTest, NextIsRefusedWithAMessageUntilTheAgreementIsAccepted) {
    TestWizard wizard;
    wizard.Open();
    MessageBoxRecorder boxes;
    Click(wizard.master, kIdWizNext);
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(wizard.ActiveId(), CLicensePage::kTemplateId);
    ASSERT_EQ(boxes.Requests().size(), 2u);
    EXPECT_EQ(boxes.Requests()[0].text, kRefusal);
    EXPECT_EQ(boxes.Requests()[0].caption, "Quillon");
    EXPECT_EQ(boxes.Requests()[0].kind, MessageBoxKind::kWarningOk);
    EXPECT_FALSE(wizard.port.IsCreated());

    Click(wizard.licence, kIdAccept);
    EXPECT_FALSE(wizard.licence.IsDlgButtonChecked(kIdDecline));
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_EQ(boxes.Requests().size(), 2u);
}

TEST(LicencePageTest, TheChoiceIsKeptWhenComingBack) {
    TestWizard wizard;
    wizard.Open();
    MessageBoxRecorder boxes;
    wizard.GoToPortPage();
    Click(wizard.master, kIdWizBack);
    EXPECT_EQ(wizard.ActiveId(), CLicensePage::kTemplateId);
    EXPECT_TRUE(wizard.licence.IsDlgButtonChecked(kIdAccept));
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_TRUE(boxes.Requests().empty());

    // Withdrawing the acceptance brings the refusal back.
    Click(wizard.master, kIdWizBack);
    Click(wizard.licence, kIdDecline);
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(wizard.ActiveId(), CLicensePage::kTemplateId);
    EXPECT_EQ(boxes.Texts(), QStringList{kRefusal});
}

TEST(LicencePageTest, TheAgreementCanBeScrolledAndSelectedButNotChanged) {
    TestWizard wizard;
    wizard.Open();
    auto* edit = wizard.licence.GetDlgItemAs<QPlainTextEdit>(kIdLicenceText);
    ASSERT_NE(edit, nullptr);
    const QString before = edit->toPlainText();
    edit->setFocus();
    QTest::keyClicks(edit, "typed");
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->toPlainText(), before);

    QScrollBar* bar = edit->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    QTest::keyClick(edit, Qt::Key_End, Qt::ControlModifier);
    EXPECT_GT(bar->value(), bar->maximum() / 2);

    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(edit->textCursor().hasSelection());
}

} // namespace
} // namespace quillon::test
