#include "block_mode.h"

#include <cmath>
#include <numbers>

namespace tavio::emu {

namespace {

// Command bytes as the interfaces see them.
namespace sios {
constexpr uint8_t kDefine = 112, kStart = 113, kReadout = 114;
constexpr uint8_t kTrigger1 = 115, kTrigger4 = 118, kTriggerOff = 119, kTriggerExternal = 120;
constexpr uint8_t kProgramLoad = 96, kProgramStart = 97;
} // namespace sios
namespace zelle {
constexpr uint8_t kDefine = 1, kReadout = 2, kArm = 10, kStart = 9;
constexpr uint8_t kProgramLoad = 5, kProgramStart = 6;
} // namespace zelle
constexpr uint8_t kRequest = 1, kClose = 0;

} // namespace

BlockMode::BlockMode(Kind kind, Sampler sampler)
    : kind_(kind), sampler_(std::move(sampler)), definition_(header_size(), 0) {}

uint8_t BlockMode::default_sampler(int channel, uint64_t t_ms) {
  // Channel c: a sine of period c seconds around mid-scale.
  const double period = 1000.0 * channel;
  const double x = std::sin(2.0 * std::numbers::pi * static_cast<double>(t_ms % static_cast<uint64_t>(period)) / period);
  return static_cast<uint8_t>(std::lround(128.0 + 100.0 * x));
}

bool BlockMode::busy() const { return state_ != State::Idle; }

void BlockMode::on_tick(Link &) {}

bool BlockMode::on_byte(uint8_t byte, Link &link) {
  switch (state_) {
  case State::Idle:
    return idle_byte(byte, link);
  case State::Operands:
    operands_.push_back(byte);
    if (operands_.size() == operands_needed_) {
      state_ = State::Idle;
      command_complete(link);
    }
    return true;
  case State::ZelleArmed:
    state_ = State::Idle;
    if (byte == zelle::kStart) {
      record(link);
      return true;
    }
    return idle_byte(byte, link);
  case State::Readout:
    if (byte == kRequest) {
      link.reply(readout_byte(readout_next_++));
      return true;
    }
    state_ = State::Idle;
    if (byte == kClose) return true;
    return idle_byte(byte, link);
  case State::LoadPair:
    if (byte == kRequest) {
      state_ = State::LoadByte;
      return true;
    }
    state_ = State::Idle;
    if (byte == kClose) {
      program_ = loading_;
      link.note(std::string(name()) + ": program downloaded, " + std::to_string(program_.size()) + " bytes");
      return true;
    }
    link.note(std::string(name()) + ": program download broken off");
    return idle_byte(byte, link);
  case State::LoadByte:
    loading_.push_back(byte);
    link.reply(kAck);
    state_ = State::LoadPair;
    return true;
  }
  return false;
}

bool BlockMode::idle_byte(uint8_t byte, Link &link) {
  auto collect = [&](size_t n) {
    command_ = byte;
    operands_.clear();
    operands_needed_ = n;
    state_ = State::Operands;
    return true;
  };
  auto start_readout = [&](size_t first) {
    readout_next_ = first;
    state_ = State::Readout;
  };
  auto start_load = [&] {
    loading_.clear();
    link.reply(kAck);
    state_ = State::LoadPair;
  };

  if (byte == 0) return true; // the link reset passes without an answer
  if (kind_ == Kind::Sios) {
    switch (byte) {
    case sios::kDefine: return collect(14);
    case sios::kStart: record(link); return true;
    case sios::kReadout:
      link.reply(readout_byte(0));
      start_readout(1);
      return true;
    case sios::kTriggerOff:
    case sios::kTriggerExternal:
      trigger_channel_ = 0;
      return true;
    case sios::kProgramLoad: return collect(2);
    case sios::kProgramStart: return collect(2);
    default:
      if (byte >= sios::kTrigger1 && byte <= sios::kTrigger4) return collect(1);
      return false;
    }
  }
  switch (byte) {
  case zelle::kDefine: return collect(8);
  case zelle::kArm: state_ = State::ZelleArmed; return true;
  case zelle::kReadout: start_readout(0); return true;
  case zelle::kProgramLoad: start_load(); return true;
  case zelle::kProgramStart:
    ++program_starts_;
    link.note("Zelle: program started, " + std::to_string(program_.size()) + " bytes");
    return true;
  default: return false;
  }
}

void BlockMode::command_complete(Link &link) {
  switch (command_) {
  case sios::kDefine:
  case zelle::kDefine:
    definition_ = operands_;
    memory_.clear();
    blocks_ = 0;
    trigger_channel_ = 0;
    break;
  case sios::kProgramLoad: // 96, 1, 0: the download opens
    loading_.clear();
    link.reply(kAck);
    state_ = State::LoadPair;
    break;
  case sios::kProgramStart: // 97, 129, 0
    ++program_starts_;
    link.note("Sios: program started, " + std::to_string(program_.size()) + " bytes");
    break;
  default: // a level trigger, 115 to 118
    trigger_channel_ = command_ - sios::kTrigger1 + 1;
    trigger_level_ = operands_[0];
    break;
  }
}

void BlockMode::record(Link &link) {
  const std::vector<uint8_t> &d = definition_;
  const uint32_t count = d[0] * 256u + d[1];
  std::vector<int> channels;
  for (int c = 1; c <= 4; ++c)
    if (d[1 + c] != 0) channels.push_back(c);
  const size_t hi = kind_ == Kind::Sios ? 10 : 6;
  const uint64_t interval = (d[hi] * 256u + d[hi + 1] + channels.size()) & 0xFFFFu;

  uint64_t t0 = 0;
  if (trigger_channel_ != 0) {
    while (t0 <= kTriggerGiveUpMs && sampler_(trigger_channel_, t0) < trigger_level_) ++t0;
    if (t0 > kTriggerGiveUpMs) {
      link.note(std::string(name()) + ": trigger level " + std::to_string(trigger_level_) + " on channel " +
                std::to_string(trigger_channel_) + " not reached, nothing recorded");
      return;
    }
  }
  const size_t before = memory_.size();
  for (uint32_t m = 0; m < count && memory_.size() < capacity(); ++m)
    for (int c : channels) {
      if (memory_.size() >= capacity()) break;
      memory_.push_back(sampler_(c, t0 + m * interval));
    }
  ++blocks_;
  link.note(std::string(name()) + ": block " + std::to_string(blocks_) + " recorded, " + std::to_string(count) +
            " measurements of " + std::to_string(channels.size()) + " channels every " + std::to_string(interval) +
            " ms" + (t0 ? ", trigger at " + std::to_string(t0) + " ms" : std::string()) + ", " +
            std::to_string(memory_.size() - before) + " bytes");
}

uint8_t BlockMode::readout_byte(size_t index) const {
  if (index < definition_.size()) return definition_[index];
  const size_t i = index - definition_.size();
  return i < memory_.size() ? memory_[i] : 0;
}

} // namespace tavio::emu
