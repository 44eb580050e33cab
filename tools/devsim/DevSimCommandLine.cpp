#include "tools/devsim/DevSimCommandLine.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

namespace quillon {

namespace {

std::optional<long long> ParseNumber(std::string_view text, long long low, long long high) {
    long long value = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseProbability(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value >= 0.0 && value <= 1.0)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

bool ParseDevSimCommandLine(const std::vector<std::string>& args, DevSimOptions& options,
                            std::string& error) {
    DevSimScenario& s = options.scenario;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        bool missing = false;
        auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            missing = true;
            return {};
        };
        auto milliseconds = [&](DevSimScenario::Milliseconds& out) {
            const std::string text = value();
            const auto number = ParseNumber(text, 0, 3'600'000);
            if (!number) {
                error =
                    name + " needs a number of milliseconds (0 to 3600000), not \"" + text + "\"";
                return false;
            }
            out = DevSimScenario::Milliseconds{*number};
            return true;
        };
        auto probability = [&](double& out) {
            const std::string text = value();
            const auto number = ParseProbability(text);
            if (!number) {
                error = name + " needs a probability from 0 to 1, not \"" + text + "\"";
                return false;
            }
            out = *number;
            return true;
        };
        auto fault = [&](DevSimFault::Kind kind, const char* form) {
            const std::string text = value();
            const auto parsed = ParseDevSimFault(kind, text);
            if (!parsed) {
                error = name + " needs " + form + ", not \"" + text + "\"";
                return false;
            }
            s.faults.push_back(*parsed);
            return true;
        };
        auto flag = [&](bool& out, bool to) {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            out = to;
            return true;
        };

        bool ok = true;
        if (name == "--help" || name == "-h") {
            ok = flag(options.help, true);
        } else if (name == "--bootloader-product") {
            s.bootloaderProduct = value();
        } else if (name == "--bootloader-version") {
            s.bootloaderVersion = value();
        } else if (name == "--bootloader-build") {
            s.bootloaderBuild = value();
        } else if (name == "--bootloader-line") {
            s.bootloaderLines.push_back(value());
        } else if (name == "--firmware-product") {
            s.firmwareProduct = value();
        } else if (name == "--firmware-version") {
            s.firmwareVersion = value();
        } else if (name == "--firmware-build") {
            s.firmwareBuild = value();
        } else if (name == "--firmware-line") {
            s.firmwareLines.push_back(value());
        } else if (name == "--no-firmware") {
            ok = flag(s.firmwarePresent, false);
        } else if (name == "--board-id") {
            s.boardTypeId = value();
        } else if (name == "--board-id-trailer") {
            s.boardIdTrailer = value();
        } else if (name == "--crc") {
            const std::string text = value();
            const auto verdict = ParseDevSimCrcVerdict(text);
            if (!verdict) {
                error = "--crc needs good, bad or none, not \"" + text + "\"";
                ok = false;
            } else {
                s.crcVerdict = *verdict;
            }
        } else if (name == "--startup-text") {
            s.startupText = UnescapeDevSimText(value());
        } else if (name == "--no-startup") {
            ok = flag(s.printStartup, false);
        } else if (name == "--initial-baud") {
            const std::string text = value();
            const auto baud = ParseNumber(text, 50, 4'000'000);
            if (!baud) {
                error = "--initial-baud needs a rate from 50 to 4000000, not \"" + text + "\"";
                ok = false;
            } else {
                s.initialBaud = static_cast<std::uint32_t>(*baud);
            }
        } else if (name == "--start-off") {
            ok = flag(s.poweredAtStart, false);
        } else if (name == "--power-up-delay") {
            ok = milliseconds(s.powerUpDelay);
        } else if (name == "--latency") {
            ok = milliseconds(s.replyLatency);
        } else if (name == "--programming-time") {
            ok = milliseconds(s.programmingTime);
        } else if (name == "--startup-delay") {
            ok = milliseconds(s.startupDelay);
        } else if (name == "--idle-timeout") {
            ok = milliseconds(s.idleTimeout);
        } else if (name == "--no-pacing") {
            ok = flag(s.pacing, false);
        } else if (name == "--fast") {
            if (inlineValue) {
                error = "--fast takes no value";
                ok = false;
            } else {
                s.powerUpDelay = s.replyLatency = s.programmingTime = s.startupDelay =
                    DevSimScenario::Milliseconds{0};
                s.pacing = false;
            }
        } else if (name == "--refuse") {
            ok = fault(DevSimFault::Kind::Refuse, "RECORD[:TIMES]");
        } else if (name == "--redirect") {
            ok = fault(DevSimFault::Kind::Redirect, "RECORD:CODE[:TIMES]");
        } else if (name == "--silent") {
            ok = fault(DevSimFault::Kind::Silent, "RECORD[:TIMES]");
        } else if (name == "--hang-up") {
            ok = fault(DevSimFault::Kind::HangUp, "RECORD");
        } else if (name == "--babble") {
            ok = fault(DevSimFault::Kind::Babble, "RECORD[:TIMES]");
        } else if (name == "--stop-reading") {
            ok = fault(DevSimFault::Kind::StopReading, "RECORD");
        } else if (name == "--corrupt-word") {
            ok = fault(DevSimFault::Kind::CorruptWord, "RECORD[:TIMES[:MASK]]");
        } else if (name == "--echo") {
            ok = fault(DevSimFault::Kind::Echo, "RECORD[:TIMES]");
        } else if (name == "--information-reply" || name == "--board-id-reply") {
            const std::string text = value();
            const auto mode = ParseDevSimReplyMode(text);
            if (!mode) {
                error = name + " needs normal, silent or babble, not \"" + text + "\"";
                ok = false;
            } else {
                (name == "--information-reply" ? s.informationReply : s.boardIdReply) = *mode;
            }
        } else if (name == "--ignore-baud-change") {
            ok = flag(s.ignoreBaudChange, true);
        } else if (name == "--babble-line") {
            s.babbleLine = UnescapeDevSimText(value());
            if (s.babbleLine.empty() || s.babbleLine.find('\0') != std::string::npos) {
                error = "--babble-line needs a text without zero bytes";
                ok = false;
            }
        } else if (name == "--echo-probability") {
            ok = probability(s.echoProbability);
        } else if (name == "--drop-probability") {
            ok = probability(s.dropProbability);
        } else if (name == "--corrupt-probability") {
            ok = probability(s.corruptProbability);
        } else if (name == "--garbage-probability") {
            ok = probability(s.garbageProbability);
        } else if (name == "--power-up-garbage") {
            const std::string text = value();
            const auto count = ParseNumber(text, 0, 65536);
            if (!count) {
                error =
                    "--power-up-garbage needs a byte count from 0 to 65536, not \"" + text + "\"";
                ok = false;
            } else {
                s.powerUpGarbage = static_cast<std::size_t>(*count);
            }
        } else if (name == "--seed") {
            const std::string text = value();
            const auto seed = ParseNumber(text, 0, std::numeric_limits<long long>::max());
            if (!seed) {
                error = "--seed needs a non-negative number, not \"" + text + "\"";
                ok = false;
            } else {
                s.seed = static_cast<std::uint64_t>(*seed);
            }
        } else if (name == "--utility-package") {
            options.utilityPackage = value();
        } else if (name == "--firmware-package") {
            options.firmwarePackage = value();
        } else if (name == "--link") {
            options.linkPath = value();
        } else if (name == "--exit-after-startup") {
            ok = flag(options.exitAfterStartup, true);
        } else if (name == "--verbose" || name == "-v") {
            ok = flag(options.verbose, true);
        } else if (name == "--list-records") {
            ok = flag(options.listRecords, true);
        } else {
            error = "unknown option \"" + args[i] + "\" (see --help)";
            return false;
        }
        if (missing) {
            error = name + " needs a value";
            return false;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string DevSimHelpText() {
    const DevSimScenario d = DevSimScenario::Realistic();
    auto ms = [](DevSimScenario::Milliseconds value) { return std::to_string(value.count()); };
    std::string text;
    text +=
        "Usage: quillon-devsim [OPTIONS]\n"
        "\n"
        "Simulates a Veldra device in bootloader mode on a pseudo-terminal. The first line\n"
        "printed is the port to open (the slave side, e.g. /dev/pts/3). The device answers\n"
        "the records of the embedded packages as its bootloader and modules do, follows the\n"
        "host's baud-rate changes, and runs until SIGINT or SIGTERM, then prints a one-line\n"
        "summary (whether it holds the complete firmware image). SIGUSR1 switches the device\n"
        "on, or off and on again when it is on.\n"
        "\n"
        "Device identity:\n"
        "  --bootloader-product NAME   bootloader product (default " +
        d.bootloaderProduct +
        ")\n"
        "  --bootloader-version VER    bootloader version (default " +
        d.bootloaderVersion +
        ")\n"
        "  --bootloader-build STAMP    bootloader build stamp; empty sends no BILD line\n"
        "                              (default \"" +
        d.bootloaderBuild +
        "\")\n"
        "  --bootloader-line TEXT      send this line in the bootloader list instead of the\n"
        "                              three above (repeatable, in order)\n"
        "  --firmware-product NAME     installed firmware product (default " +
        d.firmwareProduct +
        ")\n"
        "  --firmware-version VER      installed firmware version (default " +
        d.firmwareVersion +
        ")\n"
        "  --firmware-build STAMP      installed firmware build stamp\n"
        "                              (default \"" +
        d.firmwareBuild +
        "\")\n"
        "  --firmware-line TEXT        send this line in the firmware list instead of the three\n"
        "                              above (repeatable, in order)\n"
        "  --no-firmware               no firmware installed: the firmware list is empty\n"
        "  --board-id ID               board type ID, one-character fields separated by \";\"\n"
        "                              (default " +
        d.boardTypeId +
        "); empty: no reply line\n"
        "  --board-id-trailer XX       two characters after the board ID's hex codes\n"
        "                              (default " +
        d.boardIdTrailer +
        ")\n"
        "  --crc good|bad|none         CRC check verdict; good answers \"-\" unless the image\n"
        "                              was received completely and in order (default good)\n"
        "  --startup-text TEXT         what the launched firmware prints, with the escapes\n"
        "                              \\r \\n \\t \\\\ \\xHH (default \"Veldra KOLM firmware\n"
        "                              1.4.6\\r\\nSelf test... OK\\r\\n*** Unit "
        "Initialised\\r\\n\")\n"
        "  --no-startup                the launched firmware prints nothing\n"
        "\n"
        "Line and timing (milliseconds):\n"
        "  --initial-baud RATE         line rate at power-up (default " +
        std::to_string(d.initialBaud) +
        ")\n"
        "  --start-off                 start switched off (SIGUSR1 switches it on)\n"
        "  --power-up-delay MS         activation blocks go unanswered this long after power-up\n"
        "                              (default " +
        ms(d.powerUpDelay) +
        ")\n"
        "  --latency MS                delay before every answer (default " +
        ms(d.replyLatency) +
        ")\n"
        "  --programming-time MS       time per record between acceptance and completion reply\n"
        "                              (default " +
        ms(d.programmingTime) +
        ")\n"
        "  --startup-delay MS          from accepting the launch to the start-up text\n"
        "                              (default " +
        ms(d.startupDelay) +
        ")\n"
        "  --idle-timeout MS           the bootloader needs a new activation after this long\n"
        "                              without records; 0 never (default " +
        ms(d.idleTimeout) +
        ")\n"
        "  --no-pacing                 no time on the line: records count as received and answers\n"
        "                              leave at once (otherwise each byte takes 10 / baud s)\n"
        "  --fast                      no delays and no pacing (for benchmarks)\n"
        "\n"
        "Faults (RECORD is image:N or utility:N, the record's number in its package; see\n"
        "--list-records; or nth:N, the Nth record received whatever it is, counted from 1,\n"
        "striking once; TIMES is a count or \"always\"; each option may be repeated):\n"
        "  --refuse RECORD[:TIMES]     refuse the record (bit 15 + its code), once by default\n"
        "  --redirect RECORD:CODE[:TIMES]\n"
        "                              answer the record with bit 15 + CODE, once by default\n"
        "  --silent RECORD[:TIMES]     do not answer the record; \"always\" falls silent for\n"
        "                              good from that record on\n"
        "  --hang-up RECORD            hang the line up when the record arrives\n"
        "  --babble RECORD[:TIMES]     take the record and begin its answer, then send short\n"
        "                              text lines without end, never the closing empty line,\n"
        "                              until the next record arrives\n"
        "  --stop-reading RECORD       from the record on (unanswered) stop reading the line\n"
        "                              and hold the port's output, so the host's writes block\n"
        "                              whatever it purges, until SIGUSR1 or the end\n"
        "  --corrupt-word RECORD[:TIMES[:MASK]]\n"
        "                              send the reply word XORed with MASK (default 0x8000)\n"
        "  --echo RECORD[:TIMES]       send the record's bytes back in front of the answer\n"
        "  --information-reply normal|silent|babble\n"
        "                              how every information request is answered; silent\n"
        "                              still answers activation (default normal)\n"
        "  --board-id-reply normal|silent|babble\n"
        "                              how every record of the board identification module\n"
        "                              is answered (default normal)\n"
        "  --ignore-baud-change        acknowledge a speed change but stay at the old rate\n"
        "  --babble-line TEXT          the line a babbling device repeats (default \"" +
        d.babbleLine +
        "\")\n"
        "  --drop-probability P        each answer is lost with probability P (default 0)\n"
        "  --corrupt-probability P     each answer has one byte altered with probability P\n"
        "                              (default 0)\n"
        "  --garbage-probability P     each answer is preceded by 1 to 8 random bytes with\n"
        "                              probability P (default 0)\n"
        "  --echo-probability P        each record handled is echoed in front of its answer\n"
        "                              with probability P (default 0)\n"
        "  --power-up-garbage N        random bytes sent when the power-up delay has passed\n"
        "                              (default 0)\n"
        "  --seed N                    seed of the random faults (default " +
        std::to_string(d.seed) +
        ")\n"
        "\n"
        "Program:\n"
        "  --utility-package FILE      use this utility package instead of the embedded one\n"
        "  --firmware-package FILE     use this firmware image instead of the embedded one\n"
        "  --link PATH                 also make PATH a symbolic link to the port\n"
        "  --exit-after-startup        end once the firmware has printed its start-up text\n"
        "                              (or the line was hung up)\n"
        "  --verbose, -v               trace every record and answer on standard error\n"
        "  --list-records              list the records of the packages and exit\n"
        "  --help, -h                  show this text and exit\n"
        "\n"
        "Options take their value as the next argument or after \"=\".\n";
    return text;
}

std::string DevSimSummary(const DevSimState& state) {
    std::string line = "quillon-devsim: ";
    line += state.holdsCompleteImage ? "holds the complete firmware image" : "image incomplete";
    line += " (" + std::to_string(state.imageRecordsProgrammed) + "/" +
            std::to_string(state.imageRecordCount) + " records programmed";
    if (state.imageOutOfOrder) {
        line += ", out of order";
    }
    line += "), " + std::to_string(state.records.size()) + " records received, " +
            std::to_string(state.activationsAnswered) + " activations answered, line at " +
            std::to_string(state.baud) + " baud";
    if (state.launched) {
        line += state.startupPrinted ? ", firmware started" : ", firmware launched";
    }
    if (state.hungUp) {
        line += ", hung up";
    }
    if (state.unrecognisedBytes + state.wrongRateBytes > 0) {
        line += ", " + std::to_string(state.unrecognisedBytes + state.wrongRateBytes) +
                " bytes not understood";
    }
    return line;
}

std::string DevSimRecordList(const CDevSimPackageIndex& packages) {
    std::string text;
    char line[160];
    for (const CDevSimPackageIndex::Record& record : packages.Records()) {
        const std::string what = packages.Describe(record);
        std::snprintf(line, sizeof line, "%-12s type 0x%04X  %5zu bytes  %s\n",
                      ToString(record.ref).c_str(), record.header.type, record.payload.size(),
                      what.c_str());
        text += line;
    }
    return text;
}

} // namespace quillon
