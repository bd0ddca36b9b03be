// The Zelle's own commands (link reset, analog read, battery, push button,
// status) and the register and RAM access of the Zelle and the Sios.
#include "frame/frame.h"
#include "frame/state.h"
#include "hardware/commands.h"
#include "hardware/hardware.h"
#include "platform/platform.h"
#include "serial/line.h"
#include "serial/port.h"

namespace tavio {

namespace {

// Register and RAM operations refuse every interface but the Sios and the Zelle.
constexpr int32_t kRefused = -1;

// Battery scale: reading / 255 * 25 * 1290 / 470, truncated.
constexpr long double kPerReading = 1.0L / 255.0L;
constexpr float kDivider = 25.0f;
constexpr float kReference = 1290.0f;
constexpr long double kPerLoad = 1.0L / 470.0L;
constexpr int32_t kBatteryStep = 100;

void send_address(int32_t address) {
  SENDE(address / 256);
  SENDE(address & 255);
}

} // namespace

int32_t ZSYSTEMRESET() {
  for (int i = 0; i < cmd::zelle::kResetBytes; ++i) {
    // A port that takes no byte (its device has gone) ends the reset: the
    // pauses would only hold up the failure.
    if (SENDE(cmd::zelle::kReset) == 0) break;
    DELAY(2);
    DELAY(cmd::zelle::kResetPauseMs);
  }
  platform::Backend &b = line::ports();
  b.purge(COM, platform::kPurgeRxClear);
  return b.purge(COM, platform::kPurgeTxClear) ? 1 : 0;
}

int32_t ZAEIN(int32_t index) {
  SENDE(cmd::zelle::kAnalogIn);
  SENDE(cmd::plus(index, 1));
  int32_t answer = EMPFANG();
  return answer < 0 ? 0 : answer;
}

int32_t battery_value(int32_t reading) {
  long double v = static_cast<long double>(reading) * kPerReading * kDivider * kReference * kPerLoad;
  return static_cast<int32_t>(v) * kBatteryStep;
}

int32_t ZUBAT() {
  (void)ZSYSTEMRESET();
  return battery_value(ZAEIN(cmd::zelle::kBatteryChannel - 1));
}

int32_t ZTASTER() {
  SENDE(cmd::zelle::kButton);
  return EMPFANG() == 0 ? 1 : 0;
}

int32_t ZSTAUS(int32_t value) {
  if (value < 0) value = 0;
  SENDE(cmd::zelle::kStatusOut);
  return SENDE(value);
}

int32_t ZSTEIN() {
  SENDE(cmd::zelle::kStatusIn);
  return EMPFANG() == 0 ? 0 : 1;
}

int32_t ZREGAUS(int32_t reg, int32_t value) {
  switch (HARD) {
  case kSios: SENDE(cmd::sios::kRegWrite); break;
  case kZelle: SENDE(cmd::zelle::kRegWrite); break;
  default: return kRefused;
  }
  SENDE(reg);
  return SENDE(value);
}

int32_t ZREGEIN(int32_t reg) {
  switch (HARD) {
  case kSios: SENDE(cmd::sios::kRegRead); break;
  case kZelle: SENDE(cmd::zelle::kRegRead); break;
  default: return kRefused;
  }
  SENDE(reg);
  return EMPFANG();
}

int32_t ZRAMAUS(int32_t address, int32_t value) {
  switch (HARD) {
  case kSios: SENDE(cmd::sios::kRamWrite); break;
  case kZelle:
    SENDE(cmd::zelle::kRamWrite);
    DELAY(cmd::zelle::kRamPauseMs);
    break;
  default: return kRefused;
  }
  send_address(address);
  return SENDE(value);
}

int32_t ZRAMEIN(int32_t address) {
  switch (HARD) {
  case kSios: SENDE(cmd::sios::kRamRead); break;
  case kZelle:
    SENDE(cmd::zelle::kRamRead);
    DELAY(cmd::zelle::kRamPauseMs);
    break;
  default: return kRefused;
  }
  send_address(address);
  return EMPFANG();
}

} // namespace tavio
