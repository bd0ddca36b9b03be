// Block mode of the Sios and the Zelle: definition, triggers, start, the
// recording itself on an emulated clock, readout one byte per request byte,
// and program download and start. The Sios and Zelle emulators own one
// BlockMode each and route bytes to it; BlockDevice below wraps one alone.
//
// How the emulated interface behaves:
//
// - Definition. Sios: 112 and 14 bytes (count high, low, channel bytes 1 to
//   4, four setting bytes, stored interval high, low, two setting bytes);
//   Zelle: 1 and 8 bytes (count high, low, channel bytes 1 to 4, stored
//   interval high, low). The bytes are kept as they came and are the header
//   that the readout sends back. A new definition clears the memory and the
//   trigger.
// - Recording. Every start (Sios 113; Zelle 10 then 9) records one more
//   block of `count` measurements behind the blocks recorded before, until
//   the memory is full (a block that does not fit is recorded as far as it
//   fits). Measurement m (from 1) of a block takes each recorded channel, in
//   channel order, from the sampler at (m - 1) x interval ms of emulated
//   time after the trigger fired, where interval = stored interval + number
//   of channels. The recording is done the moment the start arrives: no
//   real time passes, however long it would take on the device.
// - Triggers (Sios only). 115 to 118 and a level v: the recording of the
//   next starts begins at the first emulated millisecond after the start at
//   which analog channel 1 to 4 (115 is channel 1) reads at least v; when
//   the level is not reached within 600 s of emulated time nothing is
//   recorded. 119: trigger off, recordings begin at the start (the state
//   after power-up and after every definition). 120: external trigger; no
//   trigger input is connected to the emulator, so it fires at the start.
// - Memory: 32768 data bytes on the Sios, 8192 on the Zelle.
// - Readout. Sios: 114 answers header byte 0 at once, then one byte per
//   request byte 1: header bytes 1 to 13, then the recorded data; Zelle: 2,
//   then one byte per request byte 1: header bytes 0 to 7, then the data.
//   Requests beyond the recorded data are answered with 0. The byte 0 ends
//   the readout.
// - Program download. Sios: 96, 1, 0; Zelle: 5. The interface answers the
//   handshake byte 6 at once and again after every pair (1, program byte),
//   so that the host's one receive per cycle finds a byte; the byte 0 in
//   place of a pair ends the download. Program start: Sios 97, 129, 0;
//   Zelle 6. Both are reported as notes on the link.
// - Byte 0 while idle (the link reset) is taken without an answer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pty_link.h"

namespace tavio::emu {

class BlockMode {
public:
  enum class Kind { Sios, Zelle };
  // The value (0..255) of analog channel 1..4 at t_ms of emulated time since
  // the start command.
  using Sampler = std::function<uint8_t(int channel, uint64_t t_ms)>;

  // Data memory of the interface, in bytes.
  static constexpr size_t kSiosMemory = 32768;
  static constexpr size_t kZelleMemory = 8192;
  // The handshake byte of the program download.
  static constexpr uint8_t kAck = 6;
  // How long a level trigger waits, in emulated ms, before giving up.
  static constexpr uint64_t kTriggerGiveUpMs = 600000;

  BlockMode(Kind kind, Sampler sampler);

  // True while an exchange is under way (operands of a block command, a
  // readout, a program download): the device then hands every byte here.
  bool busy() const;
  // Offered every command byte the device does not know itself while idle,
  // and every byte while busy. True when block mode took the byte; a byte
  // that is not block mode's own while idle is refused with false.
  bool on_byte(uint8_t byte, Link &link);
  // Called about every 10 ms. The recording needs no time, so nothing is
  // due here; kept for the devices that forward their ticks.
  void on_tick(Link &link);

  // What is in the interface, for tests and tools.
  const std::vector<uint8_t> &definition() const { return definition_; }
  const std::vector<uint8_t> &memory() const { return memory_; }
  int blocks_recorded() const { return blocks_; }
  const std::vector<uint8_t> &program() const { return program_; }
  int program_starts() const { return program_starts_; }

  // A sampler with a distinct, slowly changing wave on each channel.
  static uint8_t default_sampler(int channel, uint64_t t_ms);

private:
  enum class State {
    Idle,
    Operands,      // collecting the operand bytes of command_
    ZelleArmed,    // 10 arrived, waiting for 9
    Readout,       // answering request bytes
    LoadPair,      // waiting for 1 (a pair follows) or 0 (end)
    LoadByte,      // the program byte of a pair
  };

  bool idle_byte(uint8_t byte, Link &link);
  void command_complete(Link &link);
  void record(Link &link);
  uint8_t readout_byte(size_t index) const;
  size_t header_size() const { return kind_ == Kind::Sios ? 14 : 8; }
  size_t capacity() const { return kind_ == Kind::Sios ? kSiosMemory : kZelleMemory; }
  const char *name() const { return kind_ == Kind::Sios ? "Sios" : "Zelle"; }

  Kind kind_;
  Sampler sampler_;
  State state_ = State::Idle;
  uint8_t command_ = 0;
  size_t operands_needed_ = 0;
  std::vector<uint8_t> operands_;
  std::vector<uint8_t> definition_;
  std::vector<uint8_t> memory_;
  int blocks_ = 0;
  int trigger_channel_ = 0; // 0: no level trigger
  uint8_t trigger_level_ = 0;
  size_t readout_next_ = 0; // index into header + data of the next answer
  std::vector<uint8_t> program_;
  std::vector<uint8_t> loading_;
  int program_starts_ = 0;
};

// A device that is block mode alone: every byte goes to one BlockMode, and
// the zero bytes of the link reset are taken without an answer while idle.
// Stands in for a Sios or a Zelle wherever only block mode matters.
class BlockDevice final : public Device {
public:
  explicit BlockDevice(BlockMode::Kind kind, BlockMode::Sampler sampler = BlockMode::default_sampler)
      : block_(kind, std::move(sampler)), kind_(kind) {}
  const char *name() const override { return kind_ == BlockMode::Kind::Sios ? "block-sios" : "block-zelle"; }
  void on_byte(uint8_t byte, Link &link) override {
    if (byte == 0 && !block_.busy()) return;
    block_.on_byte(byte, link);
  }
  void on_tick(Link &link) override { block_.on_tick(link); }
  BlockMode &block() { return block_; }

private:
  BlockMode block_;
  BlockMode::Kind kind_;
};

} // namespace tavio::emu
