#pragma once

#include "cli/CCommand.h"

#include <string>

namespace quillon {

class CEncImageFile;

// "info": what this build carries. For the firmware image: product, version, build
// stamp, size, record count and target board type patterns in stored order; for the
// utility package: size, record count, the record kinds with their counts and a table of
// its modules (name, version, build stamp, TIME, data records and blocks, the bootloader
// each is made for and the lowest version of it that the module needs). --firmware and
// --utility show package files instead of the embedded ones.
//
// Threads: run on the program's main thread.
class CInfoCommand : public CCommand {
public:
    explicit CInfoCommand(std::string program);

    std::string Name() const override { return "info"; }
    std::string Summary() const override;
    std::string Usage() const override;
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) override;

private:
    void DescribeFirmware(CEncImageFile& image, bool indexed, std::ostream& out) const;
    void DescribeUtility(CEncImageFile& utility, bool indexed, std::ostream& out) const;
    int Fail(std::ostream& err, const std::string& message) const;

    std::string program_;
};

} // namespace quillon
