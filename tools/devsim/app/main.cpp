// quillon-devsim: the simulated device as a program of its own, for demonstrations and for
// trying the wizard or the command-line front end without hardware.

#include "package/CInvalidFileError.h"
#include "resources/EmbeddedResources.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "tools/devsim/DevSimCommandLine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using quillon::CDeviceSimulator;

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

int Run(const quillon::DevSimOptions& options) {
    std::vector<std::uint8_t> utilityBytes;
    std::vector<std::uint8_t> firmwareBytes;
    std::span<const std::uint8_t> utility = quillon::EmbeddedResources::UtilityPackage();
    std::span<const std::uint8_t> firmware = quillon::EmbeddedResources::FirmwareImage();
    for (auto [path, bytes, span] :
         {std::tuple{&options.utilityPackage, &utilityBytes, &utility},
          std::tuple{&options.firmwarePackage, &firmwareBytes, &firmware}}) {
        if (path->empty()) {
            continue;
        }
        auto read = ReadFile(*path);
        if (!read) {
            std::cerr << "quillon-devsim: cannot read " << *path << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
        *bytes = std::move(*read);
        *span = *bytes;
    }

    std::unique_ptr<CDeviceSimulator> device;
    try {
        device = std::make_unique<CDeviceSimulator>(options.scenario, utility, firmware);
    } catch (const quillon::CInvalidFileError&) {
        std::cerr << "quillon-devsim: a package file is invalid (a record header cannot be read)\n";
        return 1;
    }
    if (options.listRecords) {
        std::cout << quillon::DevSimRecordList(device->Packages());
        return 0;
    }

    // The signals are taken synchronously by this thread; the device thread inherits the
    // blocked mask, so none of them interrupts it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::mutex traceMutex;
    if (options.verbose) {
        device->SetTrace([&traceMutex](std::string_view line) {
            std::lock_guard lock(traceMutex);
            std::cerr << line << '\n';
        });
    }
    if (const quillon::Status status = device->Start(); status != quillon::kOk) {
        std::cerr << "quillon-devsim: cannot create a pseudo-terminal (status " << status << ")\n";
        return 1;
    }
    if (!options.linkPath.empty()) {
        if (const int error = device->CreateLink(options.linkPath); error != 0) {
            std::cerr << "quillon-devsim: cannot link " << options.linkPath << ": "
                      << std::strerror(error) << "\n";
            device->Stop();
            return 1;
        }
    }
    std::cout << device->SlavePath() << std::endl;

    for (;;) {
        const timespec poll{0, 100'000'000};
        const int signal = sigtimedwait(&signals, nullptr, &poll);
        if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
            break;
        }
        if (signal == SIGUSR1) {
            if (device->Snapshot().poweredOn) {
                device->PowerCycle();
            } else {
                device->PowerOn();
            }
        }
        const quillon::DevSimState state = device->Snapshot();
        if (!state.running) {
            break; // hung up
        }
        if (options.exitAfterStartup && state.startupPrinted) {
            break;
        }
    }
    device->Stop();
    std::cout << quillon::DevSimSummary(device->Snapshot()) << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    quillon::DevSimOptions options;
    std::string error;
    if (!quillon::ParseDevSimCommandLine(args, options, error)) {
        std::cerr << "quillon-devsim: " << error << "\n";
        return 2;
    }
    if (options.help) {
        std::cout << quillon::DevSimHelpText();
        return 0;
    }
    if (options.version) {
        std::cout << quillon::DevSimVersionText();
        return 0;
    }
    return Run(options);
}
