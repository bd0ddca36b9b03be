#include "interfaces.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tavio::emu {

namespace {

constexpr double kTwoPi = 6.283185307179586;

uint8_t clamp_byte(double v) {
  if (v < 0.0) return 0;
  if (v > 255.0) return 255;
  return static_cast<uint8_t>(std::lround(v));
}

std::string hex(unsigned v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", v);
  return text;
}

} // namespace

uint8_t signal_value(int channel, uint64_t t_ms) {
  const double t = static_cast<double>(t_ms) / 1000.0; // s
  switch (channel) {
  case 1: return clamp_byte(128.0 + 100.0 * std::sin(kTwoPi * t / 20.0));
  case 2: return clamp_byte(250.0 * std::exp(-std::fmod(t, 10.0) / 2.0));
  case 3: {
    double phase = std::fmod(t, 16.0) / 16.0;
    return clamp_byte(255.0 * (phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase));
  }
  case 4: return clamp_byte(90.0 + 10.0 * std::sin(kTwoPi * t / 60.0));
  default: return clamp_byte(128.0 + 50.0 * std::sin(kTwoPi * t / (3.0 * channel)));
  }
}

// --- InterfaceDevice

InterfaceDevice::InterfaceDevice(const DeviceOptions &options, uint32_t default_baud)
    : baud_(options.baud != 0 ? options.baud : default_baud), start_ns_(Link::now_ns()) {
  fixed_.fill(-1);
  aout_.fill(-1);
  if (options.din >= 0) din_ = static_cast<uint8_t>(options.din);
  for (const auto &[channel, value] : options.ain) set_analog_in(channel, value);
}

void InterfaceDevice::set_analog_in(int channel, int value) {
  if (channel < 1 || channel > kMaxChannels) return;
  fixed_[channel] = value < 0 ? -1 : (value > 255 ? 255 : value);
}

uint8_t InterfaceDevice::analog_in_at(int channel, uint64_t t_ms) const {
  if (channel >= 1 && channel <= kMaxChannels && fixed_[channel] >= 0) return static_cast<uint8_t>(fixed_[channel]);
  return signal_value(channel, t_ms);
}

int InterfaceDevice::analog_out(int channel) const {
  return channel >= 1 && channel <= kMaxChannels ? aout_[channel] : -1;
}

uint64_t InterfaceDevice::elapsed_ms() const { return (Link::now_ns() - start_ns_) / 1000000ull; }

void InterfaceDevice::expect(uint8_t command, int count) {
  pending_ = command;
  need_ = count;
  have_ = 0;
}

void InterfaceDevice::on_byte(uint8_t byte, Link &link) {
  if (need_ > 0) {
    ops_[have_++] = byte;
    if (have_ == need_) {
      need_ = 0;
      operands(pending_, ops_, link);
    }
    last_was_zero_ = false;
    return;
  }
  after_zero_ = last_was_zero_;
  last_was_zero_ = byte == 0;
  if (byte == 0) return; // a pause byte (the link reset is ten of them)
  if (!command(byte, link)) unknown(byte, link);
}

void InterfaceDevice::write_digital_out(uint8_t value, Link &link) {
  dout_ = value;
  link.note(std::string(name()) + ": digital outputs " + hex(value));
}

void InterfaceDevice::write_analog_out(int channel, uint8_t value, Link &link) {
  if (channel < 1 || channel > kMaxChannels) return;
  aout_[channel] = value;
  link.note(std::string(name()) + ": analog output " + std::to_string(channel) + " = " + std::to_string(value));
}

// --- Sios

namespace {
// The digital and analog bytes that the Sios and the C-Control share.
namespace sios_io {
constexpr uint8_t kDigitalOut = 16, kDigitalIn = 32;
constexpr uint8_t kAnalogIn1 = 48, kAnalogInputs = 8;
constexpr uint8_t kAnalogOut1 = 64;
} // namespace sios_io
namespace sios {
constexpr uint8_t kIdentify = 1, kIdentAnswer = 10;
constexpr uint8_t kAnalogOutputs = 4;
constexpr uint8_t kRamWrite = 98, kRamRead = 99, kRegWrite = 100, kRegRead = 101;
} // namespace sios
} // namespace

bool InterfaceDevice::sios_io_command(uint8_t byte, int analog_outputs, Link &link) {
  using namespace sios_io;
  if (byte == kDigitalOut || (byte >= kAnalogOut1 && byte < kAnalogOut1 + analog_outputs)) {
    expect(byte, 1);
  } else if (byte == kDigitalIn) {
    answer(link, digital_in());
  } else if (byte >= kAnalogIn1 && byte < kAnalogIn1 + kAnalogInputs) {
    answer(link, analog_in(byte - kAnalogIn1 + 1));
  } else {
    return false;
  }
  return true;
}

bool InterfaceDevice::sios_io_operands(uint8_t command, const uint8_t *ops, Link &link) {
  using namespace sios_io;
  if (command == kDigitalOut) write_digital_out(ops[0], link);
  else if (command >= kAnalogOut1 && command < kAnalogOut1 + kMaxChannels)
    write_analog_out(command - kAnalogOut1 + 1, ops[0], link);
  else return false;
  return true;
}

SiosDevice::SiosDevice(const DeviceOptions &options)
    : InterfaceDevice(options, 19200),
      block_(BlockMode::Kind::Sios, [this](int channel, uint64_t t_ms) { return analog_in_at(channel, t_ms); }) {}

void SiosDevice::on_byte(uint8_t byte, Link &link) {
  if (block_.busy()) {
    block_.on_byte(byte, link);
    return;
  }
  InterfaceDevice::on_byte(byte, link);
}

bool SiosDevice::command(uint8_t byte, Link &link) {
  using namespace sios;
  if (byte == kIdentify) {
    if (!after_zero()) return false;
    answer(link, kIdentAnswer);
    return true;
  }
  if (sios_io_command(byte, kAnalogOutputs, link)) return true;
  switch (byte) {
  case kRegRead: expect(byte, 1); return true;
  case kRegWrite:
  case kRamRead: expect(byte, 2); return true;
  case kRamWrite: expect(byte, 3); return true;
  default: return false;
  }
}

void SiosDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  using namespace sios;
  if (sios_io_operands(command, ops, link)) return;
  if (command == kRegWrite) set_reg(ops[0], ops[1]);
  else if (command == kRegRead) answer(link, reg(ops[0]));
  else if (command == kRamWrite) set_ram(ops[0] * 256 + ops[1], ops[2]);
  else if (command == kRamRead) answer(link, ram(ops[0] * 256 + ops[1]));
}

// --- CompuLab

namespace {
namespace compulab {
constexpr uint8_t kIdentify = 1, kDefaultIdent = 205;
constexpr uint8_t kDigitalOut = 81, kDigitalIn = 211;
constexpr uint8_t kAnalogIn1 = 60, kAnalogIn2 = 58;
} // namespace compulab
} // namespace

CompuLabDevice::CompuLabDevice(const DeviceOptions &options)
    : InterfaceDevice(options, 19200),
      ident_(options.ident >= 0 ? static_cast<uint8_t>(options.ident) : compulab::kDefaultIdent) {}

bool CompuLabDevice::command(uint8_t byte, Link &link) {
  using namespace compulab;
  switch (byte) {
  case kIdentify:
    if (!after_zero()) return false;
    answer(link, ident_);
    return true;
  case kDigitalOut: expect(byte, 1); return true;
  case kDigitalIn: answer(link, digital_in()); return true;
  case kAnalogIn1: answer(link, analog_in(1)); return true;
  case kAnalogIn2: answer(link, analog_in(2)); return true;
  default: return false;
  }
}

void CompuLabDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  if (command == compulab::kDigitalOut) write_digital_out(ops[0], link);
}

// --- Zelle

namespace {
namespace zelle {
constexpr uint8_t kAnalogIn = 7, kAnalogInputs = 4;
constexpr uint8_t kDigitalOut = 11, kDigitalIn = 12, kButton = 13;
constexpr uint8_t kStatusOut = 14, kStatusIn = 15;
constexpr uint8_t kRegRead = 16, kRegWrite = 17, kRamRead = 18, kRamWrite = 19;
constexpr int kBatteryChannel = 4;
} // namespace zelle
} // namespace

ZelleDevice::ZelleDevice(const DeviceOptions &options)
    : InterfaceDevice(options, 9600),
      block_(BlockMode::Kind::Zelle, [this](int channel, uint64_t t_ms) { return analog_in_at(channel, t_ms); }) {
  bool battery_given = false;
  for (const auto &entry : options.ain) battery_given = battery_given || entry.first == zelle::kBatteryChannel;
  if (!battery_given) set_analog_in(zelle::kBatteryChannel, kDefaultBattery);
}

void ZelleDevice::on_byte(uint8_t byte, Link &link) {
  if (block_.busy()) {
    block_.on_byte(byte, link);
    return;
  }
  InterfaceDevice::on_byte(byte, link);
}

bool ZelleDevice::command(uint8_t byte, Link &link) {
  using namespace zelle;
  switch (byte) {
  case kAnalogIn:
  case kDigitalOut:
  case kStatusOut:
  case kRegRead: expect(byte, 1); return true;
  case kRegWrite:
  case kRamRead: expect(byte, 2); return true;
  case kRamWrite: expect(byte, 3); return true;
  case kDigitalIn: answer(link, digital_in()); return true;
  case kButton: answer(link, pressed_ ? 0 : 1); return true;
  case kStatusIn: answer(link, status_in_); return true;
  default: return false;
  }
}

void ZelleDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  using namespace zelle;
  switch (command) {
  case kAnalogIn:
    if (ops[0] >= 1 && ops[0] <= kAnalogInputs) answer(link, analog_in(ops[0]));
    break;
  case kDigitalOut: write_digital_out(ops[0] >> 4, link); break;
  case kStatusOut:
    status_out_ = ops[0];
    link.note("zelle: status output " + hex(ops[0]));
    break;
  case kRegRead: answer(link, reg(ops[0])); break;
  case kRegWrite: set_reg(ops[0], ops[1]); break;
  case kRamRead: answer(link, ram(ops[0] * 256 + ops[1])); break;
  case kRamWrite: set_ram(ops[0] * 256 + ops[1], ops[2]); break;
  default: break;
  }
}

// --- RS-Box

namespace {
namespace rsbox {
constexpr uint8_t kDigitalOut = 81, kDigitalIn = 211;
constexpr uint8_t kAnalogStart = 176, kAnalogClock = 210;
} // namespace rsbox
} // namespace

RsBoxDevice::RsBoxDevice(const DeviceOptions &options) : InterfaceDevice(options, 19200) {}

bool RsBoxDevice::command(uint8_t byte, Link &link) {
  using namespace rsbox;
  switch (byte) {
  case kDigitalOut: expect(byte, 1); return true;
  case kDigitalIn: answer(link, digital_in()); return true;
  case kAnalogStart:
    shift_ = {kStatus, analog_in(2), analog_in(1)};
    shifted_ = 0;
    return true;
  case kAnalogClock:
    if (shifted_ >= static_cast<int>(shift_.size())) return false; // nothing taken to clock out
    answer(link, shift_[static_cast<size_t>(shifted_++)]);
    return true;
  default: return false;
  }
}

void RsBoxDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  if (command == rsbox::kDigitalOut) write_digital_out(ops[0], link);
}

// --- Camface

namespace {
namespace camface {
constexpr uint8_t kIdentify = 13, kIdentAnswer = 33;
constexpr uint8_t kDigitalOut = 72, kDigitalIn = 64;
constexpr uint8_t kAnalogIn1 = 48, kAnalogIn2 = 50;
constexpr uint8_t kAnalogOut1 = 58, kAnalogOut2 = 60;
} // namespace camface
} // namespace

CamfaceDevice::CamfaceDevice(const DeviceOptions &options) : InterfaceDevice(options, 19200) {}

bool CamfaceDevice::command(uint8_t byte, Link &link) {
  using namespace camface;
  switch (byte) {
  case kIdentify: answer(link, kIdentAnswer); return true;
  case kDigitalIn: answer(link, digital_in()); return true;
  case kAnalogIn1: answer(link, analog_in(1)); return true;
  case kAnalogIn2: answer(link, analog_in(2)); return true;
  case kDigitalOut:
  case kAnalogOut1:
  case kAnalogOut2: expect(byte, 1); return true;
  default: return false;
  }
}

void CamfaceDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  using namespace camface;
  if (command == kDigitalOut) write_digital_out(ops[0], link);
  else if (command == kAnalogOut1) write_analog_out(1, ops[0], link);
  else if (command == kAnalogOut2) write_analog_out(2, ops[0], link);
}

// --- C-Control

namespace {
namespace ccontrol { // otherwise the Sios's digital and analog bytes
constexpr uint8_t kIdentify = 1, kIdentAnswer = 20;
constexpr uint8_t kAnalogOutputs = 2;
} // namespace ccontrol
} // namespace

CControlDevice::CControlDevice(const DeviceOptions &options) : InterfaceDevice(options, 9600) {}

bool CControlDevice::command(uint8_t byte, Link &link) {
  using namespace ccontrol;
  if (byte == kIdentify) {
    if (!after_zero()) return false;
    answer(link, kIdentAnswer);
    return true;
  }
  return sios_io_command(byte, kAnalogOutputs, link);
}

void CControlDevice::operands(uint8_t command, const uint8_t *ops, Link &link) {
  sios_io_operands(command, ops, link);
}

} // namespace tavio::emu
