#pragma once

#include "WizardTestSupport.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "tools/devsim/DevSimScenario.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace quillon::test {

// A device whose answers take no time on the line and no time to think.
DevSimScenario FastScenario();

// Runs the event loop until the condition holds; false when it did not within the
// timeout. Meant for generous timeouts: it returns as soon as the condition holds.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);

// A copy of the shipped utility package, to be damaged or changed by a test.
std::vector<std::uint8_t> UtilityCopy();
// Replaces the first occurrence of `from` with `to` (same length): descriptor entries
// are plain text in the package.
void ReplaceFirst(std::vector<std::uint8_t>& package, std::string_view from, std::string_view to);
// Changes the type of every record of type `from` to `to`.
void RetypeRecords(std::vector<std::uint8_t>& package, std::uint16_t from, std::uint16_t to);
// Makes the size field of the first record header read 12: the header cannot be read.
void BreakFirstHeader(std::vector<std::uint8_t>& package);

// The wizard with its five pages, and a simulated device on the far end of the port it
// is given. Both ends use the same packages: the shipped ones, or the given utility
// package with the shipped firmware image.
class DeviceWizard {
public:
    explicit DeviceWizard(DevSimScenario scenario = FastScenario(),
                          std::vector<std::uint8_t> utility = {});
    ~DeviceWizard();
    DeviceWizard(const DeviceWizard&) = delete;
    DeviceWizard& operator=(const DeviceWizard&) = delete;

    // Opens the wizard, accepts the licence and names the device's port on the port page.
    void OpenAtPortPage();
    // ... then Next: the detection page, with the activation worker running.
    void StartDetection();
    // ... and waits until the wizard has moved on to the information page by itself.
    void DetectDevice();
    // ... then Next: the upload page.
    void StartUpload();

    bool WaitForPage(int templateId, int timeoutMs = 60000);
    QString Text(const CDialog& page, int id) const { return page.GetDlgItemText(id); }

    std::vector<std::uint8_t> utility;
    CDeviceSimulator device;
    TestWizard wizard;
};

} // namespace quillon::test
