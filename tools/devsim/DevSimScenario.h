#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Which of the two packages a record comes from.
enum class DevSimPackage : std::uint8_t { Utility, Image };

// One record of one package, by its number in that package (descriptors count too, as in
// CEncImageFile). In the shipped packages the firmware image's data records are 1 to 57,
// and utility module m (0 to 10) has its two data records at 39 + 4m and 40 + 4m.
struct DevSimRecordRef {
    DevSimPackage package = DevSimPackage::Image;
    int index = 0;

    friend bool operator==(const DevSimRecordRef&, const DevSimRecordRef&) = default;
};

// What the simulated CRC check module answers once it has run.
enum class DevSimCrcVerdict : std::uint8_t {
    Good,  // a "0x...." line when the flash holds the complete image, "-" otherwise
    Bad,   // always "-"
    NoLine // no text line at all
};

// A misbehaviour of the device, tied to one record. Each time the device receives that
// record (and would otherwise answer it) the fault is applied instead of the normal
// answer, until `times` is used up. With `nth` set the fault is tied to an arrival
// instead: it strikes the nth record the device recognises (counted from 1 since Start,
// as DevSimState::records lists them, ignored ones included), whatever record that is.
struct DevSimFault {
    enum class Kind : std::uint8_t {
        Refuse,   // answers bit 15 + the record's own code; the host resends
        Redirect, // answers bit 15 + `code`; the host continues at that record
        Silent,   // answers nothing; with times < 0 the device stops answering anything
        HangUp,   // the line disappears (the pseudo-terminal's master is closed)
        // The record is taken as usual and its answer begins (reply word, full type word,
        // the real text lines), but then short text lines follow without end and never
        // the closing empty line. The babble stops when the next record begins to
        // arrive, at a power-off or at Stop.
        Babble,
        // The device stops reading the line from this record on (it is not answered):
        // nothing more is taken off the pseudo-terminal and the slave's output is held,
        // so the host's writes block, whatever it purges, until a power cycle or Stop.
        StopReading,
        // The record is handled as usual, but the first two bytes of its answer (the reply
        // word) go out XORed with `code` (0x8000 when 0: an acceptance then reads as a
        // refusal or redirect, a refusal as an acceptance).
        CorruptWord,
        // The record's own bytes go back to the host in front of its answer, as a line
        // with local echo does: the host finds them where the reply word belongs.
        Echo
    };

    Kind kind = Kind::Refuse;
    DevSimRecordRef record;
    int times = 1;          // how often the fault strikes; < 0: every time (Silent: for ever)
    std::uint16_t code = 0; // Redirect: the 14-bit record code asked for; CorruptWord: mask
    std::size_t nth = 0;    // not 0: strikes the nth record received instead of `record`
};

// How the device answers a whole kind of request, every time it comes.
enum class DevSimReplyMode : std::uint8_t {
    Normal,
    Silent, // no answer at all; activation blocks are still answered
    Babble  // the answer begins, then text lines follow without end (DevSimFault::Babble)
};

// Everything that makes one simulated device: what it reports, how fast it is, and how
// it misbehaves. Plain data; the defaults make a fast device (no delays beyond the line
// rate) that passes every check of the compatibility decision with the shipped packages.
struct DevSimScenario {
    using Milliseconds = std::chrono::milliseconds;

    // Bootloader information (list 0). An empty build stamp sends no BILD line.
    std::string bootloaderProduct = "Tovrin";
    std::string bootloaderVersion = "1.1.1";
    std::string bootloaderBuild = "Nov 12 2007 09:41:17";
    // When not empty, sent as list 0 instead of the lines made from the three values above
    // (which still say what the bootloader is when modules are checked against it).
    std::vector<std::string> bootloaderLines;

    // Installed firmware (list 1). Without firmware the list is empty.
    bool firmwarePresent = true;
    std::string firmwareProduct = "KOLM";
    std::string firmwareVersion = "1.4.2";
    std::string firmwareBuild = "Feb 03 2006 14:22:05";
    // When not empty, sent as list 1 for the installed firmware instead of the lines made
    // from the three values above.
    std::vector<std::string> firmwareLines;

    // Board type ID as one-character fields separated by ";"; the identification line is
    // the hex codes of those characters followed by `boardIdTrailer`. Empty: the board
    // identification module answers no line.
    std::string boardTypeId = "0;4;1;7;Y;3;5";
    std::string boardIdTrailer = "2A";

    DevSimCrcVerdict crcVerdict = DevSimCrcVerdict::Good;

    // What the firmware prints once launched. A launch is accepted in any case, but only
    // a runnable firmware (the installed one, or the image programmed completely) starts;
    // otherwise the bootloader stays in charge. printStartup = false keeps it quiet.
    std::string startupText =
        "Veldra KOLM firmware 1.4.6\r\nSelf test... OK\r\n*** Unit Initialised\r\n";
    bool printStartup = true;

    // Line rate at power-up, in baud.
    std::uint32_t initialBaud = 19200;
    // Start() switches the device on; false leaves that to PowerOn().
    bool poweredAtStart = true;

    // Timing. The power-up delay runs from Start() (and from each PowerCycle()); until it
    // has passed, activation blocks go unanswered.
    Milliseconds powerUpDelay{0};
    Milliseconds replyLatency{0};    // before every answer
    Milliseconds programmingTime{0}; // between the acceptance word and the completion reply
    Milliseconds startupDelay{0};    // between accepting the launch and the start-up text
    // Without a record for this long, the bootloader leaves the active state and waits for
    // an activation block again; 0 keeps it active for ever.
    Milliseconds idleTimeout{0};
    // Bytes take size x 10 / baud on the line both ways: answers leave at that pace, and a
    // record counts as received when its last byte would have arrived. False: at once.
    bool pacing = true;

    // Faults.
    std::vector<DevSimFault> faults;
    // Every information request (0x3A02), and every record of the board identification
    // module, answered as these say.
    DevSimReplyMode informationReply = DevSimReplyMode::Normal;
    DevSimReplyMode boardIdReply = DevSimReplyMode::Normal;
    // The speed change request is acknowledged but the device stays at its rate.
    bool ignoreBaudChange = false;
    // The text line a babbling device repeats (sent with its closing zero byte).
    std::string babbleLine = "babble";
    // Per answer, with these probabilities (0 to 1): not sent; sent with one byte
    // altered; preceded by 1 to 8 random bytes. All drawn from `seed`, so the same
    // traffic meets the same faults.
    double dropProbability = 0.0;
    double corruptProbability = 0.0;
    double garbageProbability = 0.0;
    // Per record handled, with this probability: its bytes are echoed back in front of
    // the answer (as DevSimFault::Echo). Drawn from `seed` too, only when above 0.
    double echoProbability = 0.0;
    // Random bytes the device emits once its power-up delay has passed.
    std::size_t powerUpGarbage = 0;
    std::uint64_t seed = 1;

    // Timing of a real device, for demonstrations: the executable's defaults.
    static DevSimScenario Realistic();
};

// Parsing helpers shared by the executable and its tests. Each returns nothing for a
// text it does not understand.

// "image:12", "utility:40" (also "firmware:", "fw:", "util:"); the number is decimal or
// 0x-prefixed hex.
std::optional<DevSimRecordRef> ParseDevSimRecordRef(std::string_view text);
// "RECORD[:TIMES]" for Refuse, Silent, Babble and Echo, "RECORD:CODE[:TIMES]" for
// Redirect, "RECORD[:TIMES[:MASK]]" for CorruptWord, "RECORD" for HangUp and StopReading;
// TIMES "always" or a negative number means every time. RECORD may also be "nth:N", the
// Nth record received (N from 1; no TIMES then, it strikes once).
std::optional<DevSimFault> ParseDevSimFault(DevSimFault::Kind kind, std::string_view text);
// "good", "bad", "none"
std::optional<DevSimCrcVerdict> ParseDevSimCrcVerdict(std::string_view text);
// "normal", "silent", "babble"
std::optional<DevSimReplyMode> ParseDevSimReplyMode(std::string_view text);
// Replaces the escapes \r, \n, \t, \\ and \xHH by the characters they stand for.
std::string UnescapeDevSimText(std::string_view text);

std::string ToString(const DevSimRecordRef& record);
std::string ToString(DevSimCrcVerdict verdict);
std::string ToString(DevSimReplyMode mode);
std::string ToString(DevSimFault::Kind kind);

} // namespace quillon
