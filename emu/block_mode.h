// Block mode of the Sios and the Zelle: definition, triggers, start, the
// recording itself on an emulated clock, readout one byte per request byte,
// and program download and start. The Sios and Zelle emulators own one
// BlockMode each and route bytes to it.
#pragma once

#include <cstdint>
#include <functional>

#include "pty_link.h"

namespace tavio::emu {

class BlockMode {
public:
  enum class Kind { Sios, Zelle };
  // The value (0..255) of analog channel 1..4 at t_ms of emulated time since
  // the recording started.
  using Sampler = std::function<uint8_t(int channel, uint64_t t_ms)>;

  BlockMode(Kind kind, Sampler sampler);

  // True while an exchange is under way (operands of a block command, a
  // readout, a program download): the device then hands every byte here.
  bool busy() const;
  // Offered every command byte the device does not know itself while idle,
  // and every byte while busy. True when block mode took the byte.
  bool on_byte(uint8_t byte, Link &link);
  // Called about every 10 ms.
  void on_tick(Link &link);

private:
  Kind kind_;
  Sampler sampler_;
};

} // namespace tavio::emu
