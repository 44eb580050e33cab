#include "tests/support/DeviceScenarios.h"

#include "package/RecordHeader.h"
#include "tests/package/TestPackages.h"

#include <random>
#include <string>

namespace quillon::testing {

std::vector<std::uint8_t> SmallImage(int records, int startupTimeoutMs) {
    test::Bytes image;
    test::AppendDescriptor(image, kModuleDescriptor,
                           {"VERS:1.4.6", "PROD:KOLM", "TGTY:0;0,4;0,1;0,7;*;*;N,5",
                            "BILD:May 15 2006 16:01:56",
                            "TIME:" + std::to_string(startupTimeoutMs)},
                           static_cast<std::uint32_t>(records));
    std::mt19937 random(20061515);
    for (int r = 0; r < records; ++r) {
        test::Bytes payload(4 * kBlockSize);
        for (auto& byte : payload) {
            byte = static_cast<std::uint8_t>(random());
        }
        test::AppendRecord(image, static_cast<std::uint16_t>(0x4001 + r), 4, 0, 10000, payload);
    }
    return image;
}

} // namespace quillon::testing
