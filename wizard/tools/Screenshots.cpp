// Renders the master dialog with each page, in its main states, into PNG files so the
// look can be reviewed without a display: quillon-screenshots <output folder>.

#include "platform/PseudoTerminal.h"
#include "wizard/CCheckBoardType.h"
#include "wizard/CChoosePortPage.h"
#include "wizard/CConnectPage.h"
#include "wizard/CLicensePage.h"
#include "wizard/CMasterDlg.h"
#include "wizard/CUploadPage.h"
#include "wizard/MessageBox.h"
#include "wizard/SidePicture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace quillon;

QString g_folder;
int g_failures = 0;

void Settle() {
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

void Save(QWidget& widget, const QString& name) {
    Settle();
    const QString path = g_folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "quillon-screenshots: cannot write %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void Click(CDialog& dialog, int id) {
    if (auto* button = dynamic_cast<QAbstractButton*>(dialog.GetDlgItem(id))) {
        button->click();
    }
}

// Shows the real message box a click brings up, saves it, then answers it.
void ClickAndCaptureBox(CDialog& dialog, int id, const QString& name) {
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&timer, &name] {
        auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        timer.stop();
        Save(*box, name);
        box->defaultButton() != nullptr ? box->defaultButton()->click()
                                        : box->buttons().front()->click();
    });
    timer.start();
    Click(dialog, id);
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(g_folder)) {
        std::fprintf(stderr, "quillon-screenshots: cannot create %s\n", qPrintable(g_folder));
        return 1;
    }

    // A pseudo-terminal stands in for the device's port, so Next gets past the port page.
    PseudoTerminal port;
    if (port.Open() != 0) {
        std::fprintf(stderr, "quillon-screenshots: no pseudo-terminal\n");
        return 1;
    }

    CMasterDlg master;
    CLicensePage licence;
    CChoosePortPage portPage;
    CConnectPage connect;
    CCheckBoardType information;
    CUploadPage upload;
    portPage.SetPortFinder([] {
        return std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0"};
    });
    master.selectedPort = "/dev/ttyUSB0";
    master.AddPage(licence, CLicensePage::kTemplateId);
    master.AddPage(portPage, CChoosePortPage::kTemplateId);
    master.AddPage(connect, CConnectPage::kTemplateId);
    master.AddPage(information, CCheckBoardType::kTemplateId);
    master.AddPage(upload, CUploadPage::kTemplateId);

    const QString icon = g_folder + QStringLiteral("/00-icon.png");
    if (RenderAppIcon(64).save(icon)) {
        std::printf("%s\n", qPrintable(icon));
    }

    QTimer::singleShot(0, &master, [&] {
        Save(master, QStringLiteral("01-licence"));
        ClickAndCaptureBox(master, kIdWizNext, QStringLiteral("02-licence-refused"));
        Click(licence, kIdAccept);
        if (auto* text = licence.GetDlgItemAs<QPlainTextEdit>(kIdLicenceText)) {
            text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum() / 2);
        }
        Save(master, QStringLiteral("03-licence-accepted"));

        Click(master, kIdWizNext);
        Save(master, QStringLiteral("04-port"));
        portPage.SetDlgItemText(kIdPortCombo, QStringLiteral("/dev/ttyNOSUCH7"));
        ClickAndCaptureBox(master, kIdWizNext, QStringLiteral("05-port-open-failed"));

        portPage.SetDlgItemText(kIdPortCombo, QString::fromStdString(port.SlavePath()));
        Click(portPage, kIdSlowMode);
        Click(master, kIdWizNext);
        Save(master, QStringLiteral("06-detection"));
        master.ActivatePageAt(3);
        Save(master, QStringLiteral("07-information"));
        master.ActivatePageAt(4);
        Save(master, QStringLiteral("08-upload"));
        master.EndDialog(kIdCancel);
    });
    master.DoModal();
    return g_failures == 0 ? 0 : 1;
}
