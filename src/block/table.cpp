// Table export: a block buffer as a tab-separated text table, one heading
// line per block and one line per measurement, every line ended by CR LF.
//
// The table never reads outside the block buffer. The buffer is taken to be
// 30720 bytes with the Sios selected, 6146 bytes with the Zelle selected and,
// with any other interface code, 6146 bytes: the smallest block buffer there
// is. When the header describes more values than that, the table ends with
// the last measurement line whose values all lie inside the buffer; no
// heading follows it.
#include "block/block.h"

#include <algorithm>
#include <string>
#include <vector>

#include "block/commands.h"
#include "platform/platform.h"

namespace tavio {

using namespace block;

namespace {

// Collects text in a 64 KiB chunk and hands full chunks to the file.
class ChunkWriter {
public:
  explicit ChunkWriter(int32_t fh) : fh_(fh), chunk_(kChunk) {}

  bool ok() const { return ok_; }
  // Room for one more line of at most kLineMax bytes; flushes when needed.
  void reserve_line() {
    if (kChunk - used_ < kLineMax) flush();
  }
  void text(const char *s) {
    while (*s != '\0') chunk_[used_++] = *s++;
  }
  void unsigned_number(uint32_t v) {
    char digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) chunk_[used_++] = digits[--n];
  }
  void signed_number(int32_t v) {
    if (v < 0) {
      chunk_[used_++] = '-';
      unsigned_number(0u - static_cast<uint32_t>(v));
    } else {
      unsigned_number(static_cast<uint32_t>(v));
    }
  }
  void flush() {
    if (ok_ && used_ > 0) {
      const int32_t written = platform::backend().file_write(fh_, chunk_.data(), static_cast<uint32_t>(used_));
      ok_ = written == static_cast<int32_t>(used_);
    }
    used_ = 0;
  }

  // Longest line: "Zeit [ms];\t" and four "Kanal 255\t", or a time of 11
  // characters and four values, each with a tab, plus the line ends.
  static constexpr size_t kLineMax = 64;

private:
  static constexpr size_t kChunk = 64 * 1024;
  int32_t fh_;
  std::vector<char> chunk_;
  size_t used_ = 0;
  bool ok_ = true;
};

} // namespace

int32_t TABELLESPEICHERN(char *path, const uint8_t *buffer) {
  const int32_t hard = HARD;
  const uint64_t first = hard == kSios ? kSiosHeaderSize : kZelleHeaderSize;
  const uint64_t size = hard == kSios ? kSiosBufferSize : kZelleBufferSize;

  platform::Backend &files = platform::backend();
  const std::string name = files.table_file_name(path);
  const int32_t fh = files.file_begin_replace(name.c_str());
  if (fh < 0) return -1;

  const uint64_t m_count = static_cast<uint32_t>(MESSUNGEN(buffer));
  const uint32_t interval = static_cast<uint32_t>(ZEITINTERVALL(buffer)) & 0xFFFFu;
  const uint64_t k_count = static_cast<uint32_t>(KANALZAHL(buffer));
  const uint64_t b_count = static_cast<uint32_t>(BLOCKZAHL(buffer)) & 0xFFFFu;

  // Measurement lines in the whole table, block after block: all that the
  // header describes, as far as their values lie inside the buffer.
  uint64_t lines = b_count * m_count;
  if (k_count > 0) lines = std::min(lines, (size - first) / k_count);

  ChunkWriter out(fh);
  uint64_t line = 0; // measurement lines written so far
  for (uint64_t b = 0; b < b_count && out.ok(); ++b) {
    if (m_count > 0 && line >= lines) break;
    out.reserve_line();
    out.text("Zeit [ms];\t");
    for (int i = 2; i <= 5; ++i) {
      if (buffer[i] == 0) continue;
      out.text("Kanal ");
      out.unsigned_number(buffer[i]);
      out.text("\t");
    }
    out.text("\r\n\r\n");
    // The time column restarts in every block; (m - 1) x T is a signed
    // 32-bit product and wraps as one.
    uint32_t time = 0;
    for (uint64_t m = 0; m < m_count && line < lines && out.ok(); ++m, ++line) {
      out.reserve_line();
      out.signed_number(static_cast<int32_t>(time));
      out.text("\t");
      const uint8_t *value = buffer + first + line * k_count;
      for (uint64_t k = 0; k < k_count; ++k) {
        out.unsigned_number(value[k]);
        out.text("\t");
      }
      out.text("\r\n");
      time += interval;
    }
  }
  out.flush();

  if (!out.ok()) {
    files.file_abandon(fh);
    return -1;
  }
  if (!files.file_commit(fh)) return -1;
  return line > 0 ? 1 : 0;
}

} // namespace tavio
