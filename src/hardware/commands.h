// The command bytes of the six interfaces, one group per interface family,
// and the answers that identify each of them. Every byte that the hardware
// layer puts on the wire is named here.
#pragma once

#include <cstdint>

namespace tavio::cmd {

// a + b with 32-bit wrap-around: channel and index arguments are not range
// checked, and only the low 8 bits of a command byte reach the wire.
inline constexpr int32_t plus(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Sios (19200 baud). The C-Control speaks the same digital and analog bytes.
namespace sios {
inline constexpr int32_t kDigitalOut = 16;    // then the output byte
inline constexpr int32_t kDigitalIn = 32;     // answers the input byte
inline constexpr int32_t kAnalogInBase = 47;  // + channel (channel 1 sends 48); answers the reading
inline constexpr int32_t kAnalogOutBase = 63; // + channel (channel 1 sends 64); then the level
inline constexpr int32_t kRamWrite = 98;      // then address high, address low, value
inline constexpr int32_t kRamRead = 99;       // then address high, address low; answers the byte
inline constexpr int32_t kRegWrite = 100;     // then register, value
inline constexpr int32_t kRegRead = 101;      // then register; answers the byte
} // namespace sios

// C-Control (9600 baud, some at 19200).
namespace ccontrol {
inline constexpr int32_t kDigitalOut = sios::kDigitalOut;
inline constexpr int32_t kDigitalIn = sios::kDigitalIn;
inline constexpr int32_t kAnalogInBase = sios::kAnalogInBase;
inline constexpr int32_t kAnalogOutBase = sios::kAnalogOutBase;
} // namespace ccontrol

// CompuLab (19200 baud).
namespace compulab {
inline constexpr int32_t kDigitalOut = 81;
inline constexpr int32_t kDigitalIn = 211;
inline constexpr int32_t kAnalogIn1 = 60; // channel 1
inline constexpr int32_t kAnalogIn2 = 58; // every other channel
} // namespace compulab

// Zelle (9600 baud).
namespace zelle {
inline constexpr int32_t kReset = 0;       // ten of them: the link reset
inline constexpr int32_t kAnalogIn = 7;    // then channel (1..4; 4 is the battery)
inline constexpr int32_t kDigitalOut = 11; // then (bits & 15) * 16 + 15
inline constexpr int32_t kDigitalIn = 12;  // answers the inputs in the high half
inline constexpr int32_t kButton = 13;     // answers 0 while the push button is pressed
inline constexpr int32_t kStatusOut = 14;  // then the status byte
inline constexpr int32_t kStatusIn = 15;   // answers the status input
inline constexpr int32_t kRegRead = 16;    // then register; answers the byte
inline constexpr int32_t kRegWrite = 17;   // then register, value
inline constexpr int32_t kRamRead = 18;    // 4 ms pause, then address high, address low; answers the byte
inline constexpr int32_t kRamWrite = 19;   // 4 ms pause, then address high, address low, value
inline constexpr int32_t kBatteryChannel = 4;
inline constexpr uint32_t kRamPauseMs = 4;
inline constexpr int kResetBytes = 10;
inline constexpr uint32_t kResetPauseMs = 10; // besides the extra 2 ms after each byte
} // namespace zelle

// RS-Box (19200 baud).
namespace rsbox {
inline constexpr int32_t kDigitalOut = 81;
inline constexpr int32_t kDigitalIn = 211;
inline constexpr int32_t kAnalogStart = 176; // starts an analog exchange
inline constexpr int32_t kAnalogClock = 210; // three of them, each clocking out one byte
} // namespace rsbox

// Camface (19200 baud).
namespace camface {
inline constexpr int32_t kIdentify = 13;
inline constexpr int32_t kDigitalOut = 72;
inline constexpr int32_t kDigitalIn = 64;
inline constexpr int32_t kAnalogIn1 = 48;  // channel 1
inline constexpr int32_t kAnalogIn2 = 50;  // every other channel
inline constexpr int32_t kAnalogOut1 = 58; // channel 1
inline constexpr int32_t kAnalogOut2 = 60; // every other channel
} // namespace camface

// Detection: the six probes on each port, and the answers that identify.
namespace probe {
inline constexpr const char *k19200 = ":19200,N,8,2";
inline constexpr const char *k9600 = ":9600,N,8,2";
inline constexpr uint32_t kPauseMs = 10; // between the two bytes of probes 3 to 6

// probe 1 (19200): 0, 1
inline constexpr int32_t kSiosAnswer = 10;
inline constexpr int32_t kCompuLabFirst = 200; // 200..209
inline constexpr int32_t kCompuLabLast = 209;
// probe 2 (19200): 13
inline constexpr int32_t kCamfaceAnswer = 33;
// probe 3 (9600): 0, pause, 13 (the Zelle's push button, not pressed)
inline constexpr int32_t kZelleAnswer = 1;
// probes 4 (9600) and 5 (19200): 0, pause, 1
inline constexpr int32_t kCControlAnswer = 20;
// probe 6 (19200): 0, pause, 211 (the RS-Box's digital input: any of 1..255)
} // namespace probe

} // namespace tavio::cmd
