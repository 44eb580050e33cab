#include "cli/CDetectCommand.h"

#include "cli/CDeviceSession.h"
#include "cli/CInterruptWatch.h"
#include "cli/CPortGroup.h"
#include "cli/CliExitStatus.h"
#include "cli/CliSettings.h"

namespace quillon {

CDetectCommand::CDetectCommand(std::string program) : program_(std::move(program)) {
}

std::string CDetectCommand::Summary() const {
    return "identify the device on a serial port and check the firmware against it";
}

std::string CDetectCommand::Usage() const {
    return "Usage: " + program_ +
           " detect [--port PORT]... [--ports GLOB] [--wait SECONDS] [--station]\n"
           "                   [--report FILE] [--json]\n\n" +
           "Waits for the device to be powered up, reads its board type, bootloader and\n"
           "firmware versions, and tells whether the firmware this program carries may be\n"
           "uploaded to it. Nothing is written to the device's flash.\n\n"
           "Options:\n" +
           CDeviceSession::OptionsHelp() + CPortGroup::OptionsHelp() +
           "  -h, --help       show this help and exit\n\n"
           "Exit status: 0 the device can be updated (also after a warning), 1 bad command\n"
           "line, 2 the port could not be opened, 3 no device answered in time, 4 the\n"
           "firmware is not suitable for the device, 6 interrupted, 7 invalid package, 8 the port\n"
           "hung up (adapter unplugged). With several devices: 0 when every device can be\n"
           "updated, otherwise the most serious of their statuses, in the order 6, 8, 2, 7,\n"
           "3, 4.\n";
}

int CDetectCommand::Run(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
    const std::string prefix = program_ + " detect";
    DeviceOptions options;
    GroupOptions group;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            out << Usage();
            return kExitSuccess;
        }
        std::string error;
        if (!CDeviceSession::ParseOption(args, i, options, error) &&
            !CPortGroup::ParseOption(args, i, group, error)) {
            const bool option = !args[i].empty() && args[i].front() == '-';
            error = (option ? "unknown option '" : "unexpected argument '") + args[i] + "'";
        }
        if (!error.empty()) {
            err << prefix << ": " << error << " (see " << program_ << " detect --help)\n";
            return kExitUsage;
        }
    }
    if (!options.portGiven && options.portGlobs.empty()) {
        options.port = LoadCliSettings().port;
        options.ports = {options.port};
        if (options.port.empty()) {
            err << prefix << ": no port saved; name one with --port\n";
            return kExitUsage;
        }
    }
    if (CPortGroup::Wanted(options, group)) {
        PortRunSettings settings;
        settings.device = options;
        settings.upload = false;
        settings.station = group.station;
        CPortGroup station(prefix, settings, group, "");
        return station.Run(out, err);
    }

    CInterruptWatch interrupts;
    CDeviceSession session(prefix, out, err, interrupts);
    int status = session.LoadPackages(options);
    if (status == kExitSuccess) {
        status = session.OpenPort(options.port);
    }
    if (status == kExitSuccess) {
        status = session.Detect(options.wait);
    }
    if (status == kExitSuccess) {
        status = session.Identify();
    }
    if (status != kExitSuccess) {
        return status;
    }
    const CompatibilityResult result = session.AssessAndShow();
    return result.nextEnabled ? kExitSuccess : kExitRefused;
}

} // namespace quillon
