#include "block_mode.h"

namespace tavio::emu {

BlockMode::BlockMode(Kind kind, Sampler sampler) : kind_(kind), sampler_(std::move(sampler)) {}
bool BlockMode::busy() const { return false; }
bool BlockMode::on_byte(uint8_t, Link &) { return false; }
void BlockMode::on_tick(Link &) {}

} // namespace tavio::emu
