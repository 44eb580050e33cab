#include "WizardTestSupport.h"
#include "upload/IMessageSink.h"
#include "wizard/CDialog.h"
#include "wizard/CNewWizPage.h"
#include "wizard/CPostingMessageSink.h"
#include "wizard/DialogTemplate.h"
#include "wizard/DialogUnits.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace quillon::test {
namespace {

TEST(DialogUnitsTest, ConvertsEdgesWithTheFontsBaseUnits) {
    // The classic dialog font: 6 x 13 pixels per base unit.
    const QSize base(6, 13);
    EXPECT_EQ(MapDialogRect(QRect(0, 0, 321, 193), base), QRect(0, 0, 482, 314));
    EXPECT_EQ(MapDialogRect(QRect(125, 11, 175, 18), base), QRect(188, 18, 262, 29));
    // Neighbouring controls stay neighbours.
    const QRect left = MapDialogRect(QRect(149, 201, 50, 14), base);
    const QRect right = MapDialogRect(QRect(199, 201, 50, 14), base);
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(MulDivRound(7, 3, 2), 11);
    EXPECT_EQ(MulDivRound(-7, 3, 2), -11);
    EXPECT_EQ(MulDivRound(1, 1, 0), -1);
}

TEST(DialogUnitsTest, BaseUnitsFollowTheFont) {
    const QSize small = DialogBaseUnits(PixelFont("DejaVu Sans", 10, false));
    const QSize large = DialogBaseUnits(PixelFont("DejaVu Sans", 20, false));
    EXPECT_GT(small.width(), 0);
    EXPECT_GT(large.width(), small.width());
    EXPECT_GT(large.height(), small.height());
}

TEST(DialogTemplateTest, ParsesControlsAndRejectsWhatItDoesNotKnow) {
    const auto parsed = ParseDialogTemplate(R"({"id": 5, "size": [100, 50], "child": true,
        "controls": [{"id": 7, "kind": "edit", "rect": [1, 2, 3, 4],
                      "flags": ["multiline", "readonly"]},
                     {"kind": "static", "text": "Hello", "rect": [0, 0, 10, 8]}]})");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->id, 5);
    EXPECT_TRUE(parsed->child);
    EXPECT_EQ(parsed->fontFace, "MS Sans Serif");
    ASSERT_EQ(parsed->controls.size(), 2u);
    EXPECT_EQ(parsed->controls[0].rect, QRect(1, 2, 3, 4));
    EXPECT_TRUE(parsed->controls[0].Has(ControlFlag::kMultiLine));
    EXPECT_FALSE(parsed->controls[0].Has(ControlFlag::kVScroll));
    EXPECT_EQ(parsed->controls[1].id, kIdStatic);

    QString error;
    EXPECT_FALSE(ParseDialogTemplate("{not json", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(ParseDialogTemplate(R"({"size": [10, 10], "controls": [{"kind": "slider",
        "rect": [0, 0, 1, 1]}]})",
                                     &error));
    EXPECT_TRUE(error.contains("slider"));
    EXPECT_FALSE(ParseDialogTemplate(R"({"size": [10], "controls": []})"));
    EXPECT_FALSE(ParseDialogTemplate(R"({"size": [10, 10], "controls": [{"kind": "static",
        "rect": [0, 0, -1, 1]}]})"));
    EXPECT_FALSE(ParseDialogTemplate(R"({"size": [10, 10], "controls": [{"kind": "static",
        "rect": [0, 0, 1, 1], "flags": ["sparkly"]}]})"));
}

TEST(DialogTemplateTest, EveryShippedTemplateLoads) {
    for (int id : {131, 136, 137, 138, 139, 140}) {
        QString error;
        const auto loaded = LoadDialogTemplate(id, &error);
        ASSERT_TRUE(loaded.has_value()) << id << ": " << error.toStdString();
        EXPECT_EQ(loaded->id, id);
    }
    EXPECT_FALSE(LoadDialogTemplate(4711).has_value());
}

// A page over the licence template, to look at the controls the layer builds.
class LayerPage : public CNewWizPage {
public:
    LayerPage() : CNewWizPage(136) {}
    std::vector<std::pair<int, Notify>> commands;
    QString text;
    bool accepted = false;

protected:
    void OnCommand(int id, Notify code) override {
        commands.emplace_back(id, code);
        CNewWizPage::OnCommand(id, code);
    }
    void DoDataExchange(bool save) override {
        ExchangeText(save, 1017, text);
        ExchangeCheck(save, 1011, accepted);
    }
};

TEST(DialogLayerTest, BuildsTheTemplatesControlsAndFindsThemById) {
    LayerPage page;
    ASSERT_TRUE(page.Create(nullptr));
    EXPECT_FALSE(page.isEnabled()); // pages start disabled and hidden
    EXPECT_FALSE(page.isVisible());

    auto* heading = page.GetDlgItemAs<QLabel>(1018);
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "Welcome to the Veldra Firmware Upload Wizard");
    EXPECT_EQ(heading->geometry(), page.MapDialogRect(QRect(125, 11, 175, 18)));
    auto* edit = page.GetDlgItemAs<QPlainTextEdit>(1017);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_NE(page.GetDlgItemAs<QRadioButton>(1011), nullptr);
    EXPECT_EQ(page.GetDlgItem(4711), nullptr);
    EXPECT_EQ(page.GetDlgItemKind(1012), ControlKind::kRadio);
    // The page is as large as its template says, in its font's dialog units.
    EXPECT_EQ(page.size(), page.MapDialogRect(QRect(0, 0, 321, 193)).size());

    // Data exchange in both directions; multi-line text keeps CR LF line breaks.
    page.text = "first\r\nsecond";
    page.accepted = true;
    page.UpdateData(false);
    EXPECT_EQ(edit->toPlainText(), "first\nsecond");
    EXPECT_TRUE(page.IsDlgButtonChecked(1011));
    page.CheckRadioButton(1011, 1012, 1012);
    EXPECT_FALSE(page.IsDlgButtonChecked(1011));
    EXPECT_TRUE(page.IsDlgButtonChecked(1012));
    page.text.clear();
    page.UpdateData(true);
    EXPECT_EQ(page.text, "first\r\nsecond");
    EXPECT_FALSE(page.accepted);

    page.DestroyWindow();
    EXPECT_FALSE(page.HasWindow());
    EXPECT_EQ(page.GetDlgItem(1018), nullptr);
    // The object can build its window again.
    ASSERT_TRUE(page.Create(nullptr));
    EXPECT_NE(page.GetDlgItem(1018), nullptr);
}

TEST(DialogLayerTest, ControlsReportToTheDialogByIdAndPagesAreWhiteWithBlackText) {
    CDialog frame(131);
    LayerPage page;
    ASSERT_TRUE(frame.Create());
    ASSERT_TRUE(page.Create(&frame));
    page.move(0, 0);
    page.setEnabled(true);
    page.setVisible(true);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

    QTest::mouseClick(page.GetDlgItem(1011), Qt::LeftButton);
    ASSERT_EQ(page.commands.size(), 1u);
    EXPECT_EQ(page.commands[0].first, 1011);
    EXPECT_EQ(page.commands[0].second, Notify::kClicked);
    EXPECT_TRUE(page.IsDlgButtonChecked(1011));

    EXPECT_EQ(page.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(page.autoFillBackground());
    const QWidget* radio = page.GetDlgItem(1012);
    EXPECT_EQ(radio->palette().color(radio->backgroundRole()), QColor(Qt::white));
    const QWidget* heading = page.GetDlgItem(1018);
    EXPECT_EQ(heading->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(heading->palette().color(QPalette::Window), QColor(Qt::white));
    // The frame itself keeps the style's colours.
    EXPECT_FALSE(frame.autoFillBackground());

    // What is drawn: the page's area right of the picture is white.
    const QImage shot = frame.grab().toImage();
    const QPoint blank = page.MapDialogRect(QRect(300, 5, 1, 1)).topLeft();
    EXPECT_EQ(QColor(shot.pixel(blank)), QColor(Qt::white));
    // The side picture is drawn at the left: not white.
    const QPoint picture = page.MapDialogRect(QRect(50, 150, 1, 1)).topLeft();
    EXPECT_NE(QColor(shot.pixel(picture)), QColor(Qt::white));
    frame.DestroyWindow();
    EXPECT_FALSE(page.HasWindow()); // a child dialog goes with its parent's window
}

TEST(DialogLayerTest, SortedComboBoxesKeepTextOrderAndTheirEditText) {
    CNewWizPage page(137);
    ASSERT_TRUE(page.Create(nullptr));
    auto* combo = page.GetDlgItemAs<QComboBox>(1021);
    ASSERT_NE(combo, nullptr);
    page.SetDlgItemText(1021, "typed");
    for (const char* name : {"COM2", "COM10", "com1", "/dev/ttyUSB0"}) {
        page.AddComboString(1021, name);
    }
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    EXPECT_EQ(items, (QStringList{"/dev/ttyUSB0", "com1", "COM10", "COM2"}));
    EXPECT_EQ(page.GetDlgItemText(1021), "typed");
    EXPECT_EQ(page.AddComboString(4711, "x"), -1);
}

TEST(DialogLayerTest, PostedMessagesAreHandledByNumberOnTheUiThread) {
    CDialog dialog(131);
    ASSERT_TRUE(dialog.Create());
    std::vector<std::tuple<std::uint32_t, std::intptr_t, std::intptr_t>> seen;
    std::atomic<bool> onUiThread{true};
    for (std::uint32_t message : {kWmUser + 1001u, kWmUser + 1003u}) {
        dialog.SetMessageHandler(message, [&, message](std::intptr_t w, std::intptr_t l) {
            if (QThread::currentThread() != dialog.thread()) {
                onUiThread = false;
            }
            seen.emplace_back(message, w, l);
            return std::intptr_t{0};
        });
    }
    std::thread worker([&dialog] {
        for (int i = 0; i < 100; ++i) {
            dialog.PostMessage(kWmUser + 1001, i, 100);
        }
        dialog.PostMessage(kWmUser + 1002, 0, 0); // nobody handles this one
        dialog.PostMessage(kWmUser + 1003, -1, 7);
    });
    worker.join();
    EXPECT_TRUE(seen.empty()); // nothing runs on the worker
    Pump();
    ASSERT_EQ(seen.size(), 101u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[static_cast<std::size_t>(i)],
                  std::make_tuple(kWmUser + 1001u, std::intptr_t{i}, std::intptr_t{100}));
    }
    EXPECT_EQ(seen.back(), std::make_tuple(kWmUser + 1003u, std::intptr_t{-1}, std::intptr_t{7}));
    EXPECT_TRUE(onUiThread);
    EXPECT_EQ(dialog.SendMessage(kWmUser + 1002), 0);

    // A dialog without a window drops what arrives.
    dialog.DestroyWindow();
    dialog.PostMessage(kWmUser + 1003, 1, 1);
    Pump();
    EXPECT_EQ(seen.size(), 101u);
}

TEST(DialogLayerTest, TheMessageSinkPostsToThePageUntilDetached) {
    CDialog dialog(131);
    ASSERT_TRUE(dialog.Create());
    std::vector<std::intptr_t> progress;
    dialog.SetMessageHandler(kMsgProgress, [&](std::intptr_t w, std::intptr_t l) {
        progress.push_back(w * 1000 + l);
        return std::intptr_t{0};
    });
    CPostingMessageSink sink(&dialog);
    IMessageSink& asSink = sink;
    std::thread worker([&asSink] {
        for (int i = 0; i < 10; ++i) {
            asSink.Post(kMsgProgress, i, 10);
        }
    });
    worker.join();
    Pump();
    ASSERT_EQ(progress.size(), 10u);
    EXPECT_EQ(progress.back(), 9010);
    sink.Detach();
    asSink.Post(kMsgProgress, 1, 1);
    Pump();
    EXPECT_EQ(progress.size(), 10u);
    // A sink whose page is gone does nothing either.
    auto page = std::make_unique<CDialog>(131);
    CPostingMessageSink orphan(page.get());
    page.reset();
    orphan.Post(kMsgProgress, 1, 1);
    Pump();
}

TEST(DialogLayerTest, IdleIsSentWhileTheModalLoopWaitsAndNotInFrontOfABox) {
    CDialog dialog(131);
    int idles = 0;
    std::intptr_t lastCount = -1;
    dialog.SetMessageHandler(kWmKickIdle, [&](std::intptr_t, std::intptr_t count) {
        ++idles;
        lastCount = count;
        return std::intptr_t{0};
    });
    int inPause = 0;
    int whenBoxOpened = -1;
    int whenBoxAnswered = -1;
    RunModal(dialog, [&] {
        const int before = idles;
        Pump(100);
        // A loaded machine may not have run dry within the pause: wait for the first.
        for (int i = 0; i < 500 && idles == before; ++i) {
            Pump(20);
        }
        inPause = idles - before;
        RealBoxAnswerer answerer([&] { whenBoxAnswered = idles; });
        QTimer::singleShot(0, &dialog, [&] { whenBoxOpened = idles; });
        dialog.MessageBox("Hold on.");
    });
    // Idle arrives when the loop runs dry, once per quiet spell: not in a busy loop.
    EXPECT_GT(inPause, 0);
    EXPECT_LT(inPause, 1000);
    EXPECT_GE(lastCount, 0);
    EXPECT_GE(whenBoxOpened, 0);
    EXPECT_EQ(whenBoxAnswered, whenBoxOpened);
}

TEST(DialogLayerTest, MessageBoxesAreCaptionedQuillonWithTheNamedIcons) {
    CDialog dialog(131);
    ASSERT_TRUE(dialog.Create());
    {
        RealBoxAnswerer answerer;
        EXPECT_EQ(
            dialog.MessageBox("Something failed.", MessageBoxKind::kWarningOk, "Because of this."),
            kIdOk);
        // The answerer presses the default button: No, the safe answer.
        EXPECT_EQ(dialog.MessageBox("Really?", MessageBoxKind::kQuestionYesNo), kIdNo);
        ASSERT_EQ(answerer.Seen().size(), 2u);
        EXPECT_EQ(answerer.Seen()[0].caption, "Quillon");
        EXPECT_EQ(answerer.Seen()[0].text, "Something failed.");
        EXPECT_EQ(answerer.Seen()[0].informative, "Because of this.");
        EXPECT_EQ(answerer.Seen()[0].icon, QMessageBox::Warning);
        EXPECT_EQ(answerer.Seen()[1].icon, QMessageBox::Question);
    }
    MessageBoxRecorder recorder(kIdNo);
    EXPECT_EQ(dialog.MessageBox("Really?", MessageBoxKind::kQuestionYesNo), kIdNo);
    ASSERT_EQ(recorder.Requests().size(), 1u);
    EXPECT_EQ(recorder.Requests()[0].caption, "Quillon");
}

} // namespace
} // namespace quillon::test
