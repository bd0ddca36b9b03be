// The block-mode command bytes of the Sios and the Zelle, the block buffer
// layouts, and the small helpers that the block functions share.
#pragma once

#include <cstdint>

#include "block/block.h"
#include "frame/state.h"
#include "hardware/hardware.h"

namespace tavio::block {

// --- Sios (HARD 4) ---
inline constexpr int32_t kSiosDefine = 112;      // then 14 definition bytes
inline constexpr int32_t kSiosStart = 113;
inline constexpr int32_t kSiosReadout = 114;     // header byte 0 comes at once
inline constexpr int32_t kSiosTriggerBase = 114; // trigger mode m (1..6) is 114 + m
inline constexpr int32_t kSiosProgramLoad = 96;  // then 1, 0
inline constexpr int32_t kSiosProgramStart = 97; // then 129, 0
inline constexpr int32_t kSiosProgramStartOperands[2] = {129, 0};
// Setting bytes 6 to 9, 12 and 13 of the Sios definition: sent as they are,
// never interpreted by the library.
inline constexpr uint8_t kSiosSettings6to9[4] = {0, 0, 128, 128};
inline constexpr uint8_t kSiosSettings12to13[2] = {2, 1};

// --- Zelle (HARD 8) ---
inline constexpr int32_t kZelleDefine = 1; // then 8 definition bytes
inline constexpr int32_t kZelleReadout = 2;
inline constexpr int32_t kZelleArm = 10;   // the start is 10, then 9
inline constexpr int32_t kZelleStart = 9;
inline constexpr int32_t kZelleProgramLoad = 5;
inline constexpr int32_t kZelleProgramStart = 6;

// --- both ---
inline constexpr int32_t kRequest = 1; // asks for the next byte of an exchange
inline constexpr int32_t kClose = 0;   // ends an exchange

// Data capacity of the block buffer, behind the header.
inline constexpr int32_t kSiosCapacity = kSiosBufferSize - kSiosHeaderSize;   // 30704
inline constexpr int32_t kZelleCapacity = kZelleBufferSize - kZelleHeaderSize; // 6136

// Size of a raw data file, and of the buffer it is written from or read
// into: the Zelle's buffer with the Zelle selected, the Sios's otherwise.
inline int32_t file_size_for(int32_t hard) { return hard == kZelle ? kZelleBufferSize : kSiosBufferSize; }

// The result of a block function with an interface other than the Sios and
// the Zelle: the interface code less 8, wrapping like 32-bit arithmetic (a
// code set near the bottom of the range must not overflow).
inline int32_t not_served(int32_t hard) { return static_cast<int32_t>(static_cast<uint32_t>(hard) - 8u); }

// The low 8 bits of a value, as a byte goes on the wire or into a buffer.
inline uint8_t low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xFFu); }
inline uint8_t high8(int32_t v) { return static_cast<uint8_t>((static_cast<uint32_t>(v) >> 8) & 0xFFu); }

} // namespace tavio::block
