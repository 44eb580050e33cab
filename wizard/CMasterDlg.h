#pragma once

#include "upload/CUploadCore.h"
#include "wizard/CNewWizDialog.h"
#include "wizard/CWorkerSinks.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace quillon {

// Control ids of the master dialog.
inline constexpr int kIdPagePlaceholder = 1010;
inline constexpr int kIdVersionText = 1052;

// The wizard's master dialog: the frame that shows the pages, and the one owner of what
// the pages share (the core: link, packages, device data, workers). Pages reach it through
// their frame.
//
// Threads: the dialog and the core's owner side run on the UI thread; the core's workers
// report through the page sinks (SinkFor) and never touch the dialog. The sinks sit in a
// base ahead of the core, so they outlive the workers, which the core's destructor joins
// once the window is gone.
class CMasterDlg : public CNewWizDialog, public CWorkerSinks, public CUploadCore {
public:
    explicit CMasterDlg(QWidget* parent = nullptr);
    ~CMasterDlg() override;

    // Packages to load instead of the embedded ones (tests, other builds). The bytes must
    // outlive the dialog.
    void SetPackages(std::span<const std::uint8_t> utility, std::span<const std::uint8_t> firmware);

    // "Version a.b.c (Build d)", a line break and the publisher's notice.
    const QString& VersionText() const { return versionText_; }

    // The master dialog of a page's frame, or null.
    static CMasterDlg* Of(const CNewWizPage* page);

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    // Enter never ends the wizard.
    void OnOK() override {}

private:
    std::optional<std::span<const std::uint8_t>> utility_;
    std::optional<std::span<const std::uint8_t>> firmware_;
    QString versionText_;
};

} // namespace quillon
