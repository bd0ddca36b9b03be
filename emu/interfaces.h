// Emulators of the six measurement interfaces: Sios, CompuLab, Zelle,
// RS-Box, Camface and C-Control. Each listens at its own line rate, answers
// its identification and I/O commands from a port state that tests can set
// and read (PtyLink::with_device<SiosDevice>(...)), and ignores what it does
// not understand without answering, as a real device on a serial line does.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "block_mode.h"
#include "devices.h"

namespace tavio::emu {

// The analog signals that the emulated inputs follow unless fixed, as
// functions of time: channel 1 a slow sine (20 s), channel 2 an RC
// discharge (time constant 2 s, recharged every 10 s), channel 3 a
// triangle (16 s), channel 4 a slow drift (60 s), channels 5 to 8 sines of
// 15 to 24 s. 0..255.
uint8_t signal_value(int channel, uint64_t t_ms);

// What the six devices have in common: digital port, analog inputs and
// outputs, and a small state machine that collects a command's operands.
class InterfaceDevice : public Device {
public:
  static constexpr int kMaxChannels = 8;

  uint32_t baud() const override { return baud_; }
  void on_byte(uint8_t byte, Link &link) override;

  // --- port state
  uint8_t digital_out() const { return dout_; }
  uint8_t digital_in() const { return din_; }
  void set_digital_in(uint8_t value) { din_ = value; }
  // Fixes analog input channel (1..8) at value; -1 lets it follow its signal.
  void set_analog_in(int channel, int value);
  // The analog input now, and at t_ms of emulated time.
  uint8_t analog_in(int channel) const { return analog_in_at(channel, elapsed_ms()); }
  uint8_t analog_in_at(int channel, uint64_t t_ms) const;
  // The last level written to analog output channel (1..8), -1 if none.
  int analog_out(int channel) const;
  // Emulated time: ms since the device was made.
  uint64_t elapsed_ms() const;

protected:
  InterfaceDevice(const DeviceOptions &options, uint32_t default_baud);

  // A byte at the start of an exchange. False when the device does not know it.
  virtual bool command(uint8_t byte, Link &link) = 0;
  // The operands of a command that asked for them with expect().
  virtual void operands(uint8_t command, const uint8_t *ops, Link &link) = 0;
  // A byte that no command took; ignored unless a device does more with it.
  virtual void unknown(uint8_t byte, Link &link) { (void)byte, (void)link; }

  // Collects count (1..3) further bytes for command, then calls operands().
  void expect(uint8_t command, int count);
  // True when the byte before the current command byte was a 0.
  bool after_zero() const { return after_zero_; }
  void answer(Link &link, uint8_t byte) { link.reply(byte); }
  void write_digital_out(uint8_t value, Link &link);
  // The digital and analog commands of the Sios, which the C-Control speaks
  // too: 16 v, 32, 48 + (channel - 1), 64 + (channel - 1) v. True when the
  // byte (or the command whose operands came) was one of them.
  bool sios_io_command(uint8_t byte, int analog_outputs, Link &link);
  bool sios_io_operands(uint8_t command, const uint8_t *ops, Link &link);
  void write_analog_out(int channel, uint8_t value, Link &link);

private:
  uint32_t baud_;
  uint8_t dout_ = 0;
  uint8_t din_ = 0xFF; // open inputs read high
  std::array<int, kMaxChannels + 1> fixed_{};
  std::array<int, kMaxChannels + 1> aout_{};
  uint64_t start_ns_;
  bool after_zero_ = false;
  bool last_was_zero_ = false;
  uint8_t pending_ = 0;
  int need_ = 0;
  int have_ = 0;
  uint8_t ops_[3] = {};
};

// Registers and RAM of the Sios and the Zelle, as real memory.
class Memory {
public:
  uint8_t reg(int n) const { return regs_[static_cast<uint8_t>(n)]; }
  void set_reg(int n, uint8_t v) { regs_[static_cast<uint8_t>(n)] = v; }
  uint8_t ram(int address) const { return ram_[static_cast<uint16_t>(address)]; }
  void set_ram(int address, uint8_t v) { ram_[static_cast<uint16_t>(address)] = v; }

private:
  std::array<uint8_t, 256> regs_{};
  std::vector<uint8_t> ram_ = std::vector<uint8_t>(65536, 0);
};

// Sios, 19200 baud: 0, 1 -> 10; digital 16 v / 32; analog in 48..55
// (channels 1..8); analog out 64..67 v (channels 1..4); registers 100 r v /
// 101 r; RAM 98 hi lo v / 99 hi lo; everything else goes to block mode.
class SiosDevice final : public InterfaceDevice, public Memory {
public:
  explicit SiosDevice(const DeviceOptions &options = {});
  const char *name() const override { return "sios"; }
  void on_byte(uint8_t byte, Link &link) override;
  void on_tick(Link &link) override { block_.on_tick(link); }
  BlockMode &block() { return block_; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;
  void unknown(uint8_t byte, Link &link) override { block_.on_byte(byte, link); }

private:
  BlockMode block_;
};

// CompuLab, 19200 baud: 0, 1 -> its identification (200..209, default 205);
// digital 81 v / 211; analog in 60 (channel 1), 58 (channel 2).
class CompuLabDevice final : public InterfaceDevice {
public:
  explicit CompuLabDevice(const DeviceOptions &options = {});
  const char *name() const override { return "compulab"; }
  uint8_t ident() const { return ident_; }
  void set_ident(uint8_t v) { ident_ = v; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;

private:
  uint8_t ident_;
};

// Zelle, 9600 baud: analog 7 c (channels 1..4; 4 is the battery); digital
// 11 v (outputs in the high half) / 12 (inputs in the high half of the
// answer; the digital input byte is answered as it stands); push button 13
// (1 released, 0 pressed); status 14 v / 15; registers 17 r v / 16 r; RAM
// 19 hi lo v / 18 hi lo; everything else goes to block mode.
class ZelleDevice final : public InterfaceDevice, public Memory {
public:
  static constexpr uint8_t kDefaultBattery = 180; // UBAT 4800
  explicit ZelleDevice(const DeviceOptions &options = {});
  const char *name() const override { return "zelle"; }
  void on_byte(uint8_t byte, Link &link) override;
  void on_tick(Link &link) override { block_.on_tick(link); }
  BlockMode &block() { return block_; }

  // digital_out() holds the four outputs (the high half of the byte after 11).
  bool button_pressed() const { return pressed_; }
  void set_button_pressed(bool pressed) { pressed_ = pressed; }
  uint8_t status_out() const { return status_out_; }
  uint8_t status_in() const { return status_in_; }
  void set_status_in(uint8_t v) { status_in_ = v; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;
  void unknown(uint8_t byte, Link &link) override { block_.on_byte(byte, link); }

private:
  BlockMode block_;
  bool pressed_ = false;
  uint8_t status_out_ = 0;
  uint8_t status_in_ = 0;
};

// RS-Box, 19200 baud: 0, 211 -> the digital input byte (so an input of 0 is
// not taken for an RS-Box); digital 81 v / 211; analog: 176 takes both
// channels, then each 210 clocks out one byte: a status byte (176), channel
// 2, channel 1.
class RsBoxDevice final : public InterfaceDevice {
public:
  static constexpr uint8_t kStatus = 176;
  explicit RsBoxDevice(const DeviceOptions &options = {});
  const char *name() const override { return "rsbox"; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;

private:
  std::array<uint8_t, 3> shift_{};
  int shifted_ = 3; // bytes of shift_ clocked out; 3 = none pending
};

// Camface, 19200 baud: 13 -> 33; digital 72 v / 64; analog in 48 (channel
// 1), 50 (channel 2); analog out 58 v (channel 1), 60 v (channel 2).
class CamfaceDevice final : public InterfaceDevice {
public:
  explicit CamfaceDevice(const DeviceOptions &options = {});
  const char *name() const override { return "camface"; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;
};

// C-Control, 9600 baud (options.baud 19200 makes one that listens there
// instead): 0, 1 -> 20; digital 16 v / 32; analog in 48..55; analog out 64, 65.
class CControlDevice final : public InterfaceDevice {
public:
  explicit CControlDevice(const DeviceOptions &options = {});
  const char *name() const override { return "ccontrol"; }

protected:
  bool command(uint8_t byte, Link &link) override;
  void operands(uint8_t command, const uint8_t *ops, Link &link) override;
};

} // namespace tavio::emu
