// Interface hardware: selection, detection, digital and analog I/O, and the
// Zelle and Sios command set. Every operation reads HARD once per call.
#pragma once

#include <cstdint>

namespace tavio {

// Interface codes, the values of HARD.
inline constexpr int32_t kNoInterface = 0;
inline constexpr int32_t kCompuLab = 1;
inline constexpr int32_t kSios = 4;
inline constexpr int32_t kZelle = 8;
inline constexpr int32_t kRsBox = 16;
inline constexpr int32_t kCamface = 32;
inline constexpr int32_t kCControl = 64;

// Selection
int32_t SETHARD(int32_t code);
int32_t GETHARD();
int32_t INIT(int32_t port);
int32_t INITSIOS(int32_t port);
int32_t INITCOMPULAB(int32_t port);
int32_t INITZELLE(int32_t port);
int32_t INITCCONTROL(int32_t port);
int32_t INITCAMFACE(int32_t port);
int32_t ZINIT(int32_t port);

// Detection
int32_t FINDHARD(int32_t flag);

// Digital and analog I/O (exports DOUT, DIN, AIN, AOUT)
int32_t DEZAUS(int32_t value);
int32_t DEZEIN();
int32_t AEIN(int32_t channel);
int32_t AAUS(int32_t channel, int32_t value);
// The simulated analog inputs that AEIN delivers with HARD 0: channel 1..4
// at the given value of the millisecond timer, 0..254; -1 for other channels.
int32_t simulated_input(int32_t channel, uint32_t timer_ms);

// Zelle and Sios command set
int32_t ZSYSTEMRESET();
int32_t ZAEIN(int32_t index);
int32_t ZUBAT();
// The battery value for the byte the Zelle reports on channel 4: 0..6800.
int32_t battery_value(int32_t reading);
int32_t ZTASTER();
int32_t ZSTAUS(int32_t value);
int32_t ZSTEIN();
int32_t ZREGAUS(int32_t reg, int32_t value);
int32_t ZREGEIN(int32_t reg);
int32_t ZRAMAUS(int32_t address, int32_t value);
int32_t ZRAMEIN(int32_t address);

} // namespace tavio
