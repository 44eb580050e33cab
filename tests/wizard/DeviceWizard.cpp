#include "DeviceWizard.h"

#include "package/RecordHeader.h"
#include "resources/EmbeddedResources.h"

#include <QTest>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace quillon::test {

namespace {

std::uint16_t ReadU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void WriteU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

DevSimScenario FastScenario() {
    DevSimScenario scenario;
    scenario.pacing = false;
    scenario.replyLatency = std::chrono::milliseconds(0);
    scenario.programmingTime = std::chrono::milliseconds(0);
    scenario.startupDelay = std::chrono::milliseconds(0);
    scenario.powerUpDelay = std::chrono::milliseconds(0);
    return scenario;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        QTest::qWait(10);
    }
    return true;
}

std::vector<std::uint8_t> UtilityCopy() {
    const std::span<const std::uint8_t> shipped = EmbeddedResources::UtilityPackage();
    return {shipped.begin(), shipped.end()};
}

void ReplaceFirst(std::vector<std::uint8_t>& package, std::string_view from, std::string_view to) {
    ASSERT_EQ(from.size(), to.size());
    const auto it = std::search(package.begin(), package.end(), from.begin(), from.end());
    ASSERT_NE(it, package.end()) << "no " << from << " in the package";
    std::copy(to.begin(), to.end(), it);
}

void RetypeRecords(std::vector<std::uint8_t>& package, std::uint16_t from, std::uint16_t to) {
    std::size_t at = 0;
    while (at + kRecordHeaderSize <= package.size()) {
        if (ReadU16(package, at + 2) == from) {
            WriteU16(package, at + 2, to);
        }
        at += kRecordHeaderSize + static_cast<std::size_t>(ReadU16(package, at + 4)) * 32;
    }
}

void BreakFirstHeader(std::vector<std::uint8_t>& package) {
    ASSERT_GE(package.size(), kRecordHeaderSize);
    WriteU16(package, 0, 12);
}

DeviceWizard::DeviceWizard(DevSimScenario scenario, std::vector<std::uint8_t> utilityPackage)
    : utility(utilityPackage.empty() ? UtilityCopy() : std::move(utilityPackage)),
      device(std::move(scenario), utility, EmbeddedResources::FirmwareImage()) {
    wizard.master.SetPackages(utility, EmbeddedResources::FirmwareImage());
    EXPECT_EQ(device.Start(), kOk);
}

DeviceWizard::~DeviceWizard() {
    // The wizard goes first (its workers are joined), then the device.
    wizard.master.DestroyWindow();
}

void DeviceWizard::OpenAtPortPage() {
    // Run modally, the dialog has its window already.
    if (!wizard.master.HasWindow()) {
        wizard.Open();
    }
    wizard.GoToPortPage();
    wizard.TypePort(QString::fromStdString(device.SlavePath()));
}

void DeviceWizard::StartDetection() {
    OpenAtPortPage();
    Click(wizard.master, kIdWizNext);
    ASSERT_EQ(wizard.ActiveId(), CConnectPage::kTemplateId);
}

void DeviceWizard::DetectDevice() {
    StartDetection();
    ASSERT_TRUE(WaitForPage(CCheckBoardType::kTemplateId));
}

void DeviceWizard::StartUpload() {
    DetectDevice();
    ASSERT_TRUE(IsEnabled(wizard.master, kIdWizNext));
    Click(wizard.master, kIdWizNext);
    ASSERT_EQ(wizard.ActiveId(), CUploadPage::kTemplateId);
}

bool DeviceWizard::WaitForPage(int templateId, int timeoutMs) {
    return WaitUntil([this, templateId] { return wizard.ActiveId() == templateId; }, timeoutMs);
}

} // namespace quillon::test
