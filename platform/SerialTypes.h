#pragma once

#include <cstdint>

// Values of the serial communications interface the link is written against. The numbers
// are the ones the protocol code, the settings and the device-facing logic were designed
// with, so they pass through every layer unchanged.
namespace quillon {

// Event bits reported by a comm-event wait.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;  // a byte was received
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;  // the event character was received
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004; // the last byte left the output queue
inline constexpr std::uint32_t EV_CTS = 0x0008;     // CTS changed
inline constexpr std::uint32_t EV_DSR = 0x0010;     // DSR changed
inline constexpr std::uint32_t EV_RLSD = 0x0020;    // carrier detect changed
inline constexpr std::uint32_t EV_BREAK = 0x0040;   // a break was received
inline constexpr std::uint32_t EV_ERR = 0x0080;     // a line error or a hang-up occurred
inline constexpr std::uint32_t EV_RING = 0x0100;    // ring indicator

// Line error bits reported by TakeLineErrors.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;   // input buffer overflow
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;  // character-buffer overrun
inline constexpr std::uint32_t CE_RXPARITY = 0x0004; // parity error
inline constexpr std::uint32_t CE_FRAME = 0x0008;    // framing error
inline constexpr std::uint32_t CE_BREAK = 0x0010;    // break condition
inline constexpr std::uint32_t CE_TXFULL = 0x0100;   // output buffer full
inline constexpr std::uint32_t CE_IOE = 0x0400;      // I/O error: the device went away
inline constexpr std::uint32_t CE_MODE = 0x8000;     // requested mode unsupported

// Modem status bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// Parity, stop bits, handshake kinds and read-timeout kinds.
inline constexpr std::int32_t kParityNone = 0;
inline constexpr std::int32_t kParityOdd = 1;
inline constexpr std::int32_t kParityEven = 2;
inline constexpr std::int32_t kParityMark = 3;
inline constexpr std::int32_t kParitySpace = 4;

inline constexpr std::int32_t kStopBitsOne = 0;
inline constexpr std::int32_t kStopBitsOneAndHalf = 1;
inline constexpr std::int32_t kStopBitsTwo = 2;

inline constexpr std::int32_t kHandshakeOff = 0;
inline constexpr std::int32_t kHandshakeHardware = 1;
inline constexpr std::int32_t kHandshakeSoftware = 2;

inline constexpr std::int32_t kReadTimeoutNonBlocking = 0;
inline constexpr std::int32_t kReadTimeoutBlocking = 1;

// DTR and RTS control values of the line settings.
inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

// The line settings of a port. Termios cannot express every field (DSR flow control,
// one and a half stop bits, the event character): the device layer keeps those beside
// the terminal attributes so that what is set is what is read back.
struct DCB {
    std::uint32_t BaudRate = 9600;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;   // kParity*
    std::uint8_t StopBits = 0; // kStopBits*
    bool fParity = false;      // parity checking on
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;
    bool fOutX = false; // XON/XOFF on output
    bool fInX = false;  // XON/XOFF on input
    char EvtChar = 0;
};

// Queue state returned together with the line errors.
struct COMSTAT {
    std::uint32_t cbInQue = 0;  // received bytes waiting in the driver
    std::uint32_t cbOutQue = 0; // bytes not yet sent
};

} // namespace quillon
