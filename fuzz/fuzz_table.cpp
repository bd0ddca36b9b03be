// The table export and the raw data file of random block buffers under
// every interface code: the export reads nothing outside the buffer size it
// documents (an allocation of exactly that size), writes a well-formed
// table, and a raw file read back gives the buffer again.
#include <cstring>
#include <memory>

#include "block/block.h"
#include "hardware/hardware.h"
#include "scripted_backend.h"
#include "table_check.h"
#include "tavio32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  tavio::fuzz::ScriptedBackend b(in);
  tavio::fuzz::fresh_library();
  const int32_t codes[] = {0, 1, 4, 8, 16, 32, 64, in.ConsumeIntegral<int32_t>()};
  const int32_t code = codes[in.ConsumeIntegralInRange<int>(0, 7)];
  SETHARD(code);

  // The header and the first values from the input, the rest a pattern.
  const size_t n = code == tavio::kSios ? tavio::kSiosBufferSize : tavio::kZelleBufferSize;
  std::unique_ptr<char[]> buf(new char[n]);
  for (size_t i = 0; i < n; ++i) buf[i] = static_cast<char>(i * 7);
  std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  if (!bytes.empty()) std::memcpy(buf.get(), bytes.data(), std::min(bytes.size(), n));

  const uint64_t capacity_lines = tavio::fuzz::table_lines(buf.get(), n - (code == tavio::kSios ? 16 : 10));
  if (capacity_lines > tavio::fuzz::kFuzzTableLines) {
    b.close_all_and_check();
    return 0;
  }
  char table[] = "table.txt";
  const int32_t r = TABELLESPEICHERN(table, buf.get());
  tavio::fuzz::check_table_text(b.files[table]);
  // Exactly the lines the header describes, as far as they lie inside the
  // buffer: a heading and an empty line per block, one line per measurement.
  size_t lines = 0;
  for (uint8_t c : b.files[table]) lines += c == '\n';
  FUZZ_CHECK(lines == capacity_lines);
  const bool measured = MESSUNGEN(buf.get()) > 0 && (BLOCKZAHL(buf.get()) & 0xFFFF) > 0;
  FUZZ_CHECK(r == (measured ? 1 : 0));

  // The raw file of the buffer (its file size for the Zelle, the Sios's
  // buffer otherwise) comes back unchanged.
  if (code == tavio::kZelle || code == tavio::kSios) {
    char raw[] = "raw.dat";
    FUZZ_CHECK(DATENSPEICHERN(raw, buf.get()) == static_cast<int32_t>(n));
    std::unique_ptr<char[]> back(new char[n]);
    FUZZ_CHECK(DATENLADEN(raw, back.get()) == static_cast<int32_t>(n));
    FUZZ_CHECK(std::memcmp(back.get(), buf.get(), n) == 0);
  }
  b.close_all_and_check();
  return 0;
}
