// What every table export must look like, whatever the buffer held: only
// digits, letters of the headings, spaces, tabs, '-', '[', ']', ';' and
// lines ended by CR LF.
#pragma once

#include <cstdint>
#include <vector>

#include "scripted_backend.h"
#include "tavio32.h"

namespace tavio::fuzz {

// The lines a table export of this buffer writes (headings and their empty
// lines included), as the export bounds them: measurement lines only while
// their values lie inside the buffer, except without channels, where every
// line the header names is written with its time alone (up to 65535 x 65535
// under an interface code whose block count is not a header byte).
inline uint64_t table_lines(char *buffer, uint64_t capacity) {
  const uint64_t m = static_cast<uint32_t>(::MESSUNGEN(buffer));
  const uint64_t b = static_cast<uint32_t>(::BLOCKZAHL(buffer)) & 0xFFFFu;
  const uint64_t k = static_cast<uint32_t>(::KANALZAHL(buffer));
  uint64_t lines = m * b;
  if (k > 0 && lines > capacity / k) lines = capacity / k;
  const uint64_t blocks = m == 0 ? b : (lines + m - 1) / m;
  return lines + 2 * blocks;
}

// Long tables cost milliseconds per run, which the fuzzer cannot afford;
// the targets leave out buffers whose table would be longer than this. The
// Zelle's buffer filled to its last value with four channels stays in; the
// Sios's full buffer is left to the table tests of the normal suite.
inline constexpr uint64_t kFuzzTableLines = 2000;

inline void check_table_text(const std::vector<uint8_t> &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = text[i];
    if (c == '\r') {
      FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
      continue;
    }
    if (c == '\n') {
      FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
      continue;
    }
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' ||
                    c == '\t' || c == '-' || c == '[' || c == ']' || c == ';';
    FUZZ_CHECK(ok);
  }
  FUZZ_CHECK(text.empty() || text.back() == '\n');
}

} // namespace tavio::fuzz
