// Digital and analog I/O on whichever interface HARD names, and the
// simulated inputs when none is selected.
#include <cmath>

#include "frame/frame.h"
#include "frame/state.h"
#include "hardware/commands.h"
#include "hardware/hardware.h"
#include "serial/port.h"

namespace tavio {

namespace {

// Results for an interface code that a function does not serve.
constexpr int32_t kDoutUnserved = 1;
constexpr int32_t kDinUnserved = 127;
constexpr int32_t kAinUnserved = -1;
constexpr int32_t kAoutUnserved = 0;

// Simulation constants.
constexpr long double kTimerScale = 0.001L; // ms to s
constexpr double kAngular = 6.283;          // deliberately not 2 pi
constexpr double kBaseFrequency = 0.025;
constexpr double kFrequencyStep = 0.001;
constexpr float kAmplitude = 127.0f; // amplitude and offset

// One command byte and one answer: 0..255 or -1.
int32_t ask(int32_t command) {
  SENDE(command);
  return EMPFANG();
}

// A command byte followed by its operand; the operand's send result.
int32_t put(int32_t command, int32_t operand) {
  SENDE(command);
  return SENDE(operand);
}

// The RS-Box's analog exchange for channel 1 or 2: a start byte, then three
// clock bytes, each answered with one byte. The first answer is discarded,
// the second is channel 2, the third channel 1.
int32_t rsbox_analog(int32_t channel) {
  SENDE(cmd::rsbox::kAnalogStart);
  DELAY(1);
  SENDE(cmd::rsbox::kAnalogClock);
  DELAY(1);
  (void)EMPFANG();
  SENDE(cmd::rsbox::kAnalogClock);
  DELAY(1);
  int32_t a = EMPFANG();
  SENDE(cmd::rsbox::kAnalogClock);
  DELAY(1);
  int32_t b = EMPFANG();
  return channel == 1 ? b : a;
}

} // namespace

int32_t simulated_input(int32_t channel, uint32_t timer) {
  const double t = static_cast<double>(static_cast<long double>(timer) * kTimerScale);
  const double slow = kAngular * kBaseFrequency;                    // channels 1 and 4
  const double fast = (kBaseFrequency + kFrequencyStep) * kAngular; // channels 2 and 3
  double f;
  switch (channel) {
  case 1: f = std::sin(slow * t); break;
  case 2: f = std::cos(fast * t); break;
  case 3: f = std::sin(fast * t); break;
  case 4: f = std::cos(slow * t); break;
  default: return -1;
  }
  return static_cast<int32_t>(kAmplitude * f + kAmplitude);
}

int32_t DEZAUS(int32_t value) {
  switch (HARD) {
  case kCompuLab: return put(cmd::compulab::kDigitalOut, value);
  case kSios: return put(cmd::sios::kDigitalOut, value);
  case kZelle: return put(cmd::zelle::kDigitalOut, (value & 15) * 16 + 15);
  case kRsBox: return put(cmd::rsbox::kDigitalOut, value);
  case kCamface: return put(cmd::camface::kDigitalOut, value);
  case kCControl: return put(cmd::ccontrol::kDigitalOut, value);
  default: return kDoutUnserved; // simulation included: nothing is sent
  }
}

int32_t DEZEIN() {
  switch (HARD) {
  case kNoInterface: return simulated_input(1, timer_ms());
  case kCompuLab: return ask(cmd::compulab::kDigitalIn);
  case kSios: return ask(cmd::sios::kDigitalIn);
  case kZelle: {
    int32_t answer = ask(cmd::zelle::kDigitalIn);
    return answer < 0 ? 0 : answer >> 4;
  }
  case kRsBox: return ask(cmd::rsbox::kDigitalIn);
  case kCamface: return ask(cmd::camface::kDigitalIn);
  case kCControl: return ask(cmd::ccontrol::kDigitalIn);
  default: return kDinUnserved;
  }
}

int32_t AEIN(int32_t channel) {
  switch (HARD) {
  case kNoInterface: return simulated_input(channel, timer_ms());
  case kCompuLab: return ask(channel == 1 ? cmd::compulab::kAnalogIn1 : cmd::compulab::kAnalogIn2);
  case kSios: return ask(cmd::plus(channel, cmd::sios::kAnalogInBase));
  case kCControl: return ask(cmd::plus(channel, cmd::ccontrol::kAnalogInBase));
  case kZelle: return ZAEIN(cmd::plus(channel, -1));
  case kRsBox: return channel == 1 || channel == 2 ? rsbox_analog(channel) : 0;
  case kCamface: return ask(channel == 1 ? cmd::camface::kAnalogIn1 : cmd::camface::kAnalogIn2);
  default: return kAinUnserved;
  }
}

int32_t AAUS(int32_t channel, int32_t value) {
  switch (HARD) {
  case kSios: return put(cmd::plus(channel, cmd::sios::kAnalogOutBase), value);
  case kCControl: return put(cmd::plus(channel, cmd::ccontrol::kAnalogOutBase), value);
  case kCamface: return put(channel == 1 ? cmd::camface::kAnalogOut1 : cmd::camface::kAnalogOut2, value);
  default: return kAoutUnserved; // no analog outputs, or no interface
  }
}

} // namespace tavio
