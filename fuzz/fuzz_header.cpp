// Block headers of any content fed to the header functions under every
// interface code: they read only the header (a 16-byte allocation) and give
// results that follow from it.
#include <cstring>
#include <memory>

#include "block/block.h"
#include "hardware/hardware.h"
#include "scripted_backend.h"
#include "tavio32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  tavio::fuzz::ScriptedBackend b(in);
  tavio::fuzz::fresh_library();
  const int32_t codes[] = {0, 1, 4, 8, 16, 32, 64, in.ConsumeIntegral<int32_t>()};
  std::unique_ptr<char[]> header(new char[tavio::kSiosHeaderSize]);
  std::memset(header.get(), 0, tavio::kSiosHeaderSize);
  std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(tavio::kSiosHeaderSize);
  if (!bytes.empty()) std::memcpy(header.get(), bytes.data(), bytes.size());
  const uint8_t *u = reinterpret_cast<const uint8_t *>(header.get());

  for (int32_t code : codes) {
    SETHARD(code);
    const int32_t m = MESSUNGEN(header.get());
    const int32_t k = KANALZAHL(header.get());
    const int32_t t = ZEITINTERVALL(header.get());
    const int32_t z = BLOCKZAHL(header.get());
    const int32_t d = DATENMENGE(header.get());
    FUZZ_CHECK(m == u[0] * 256 + u[1]);
    FUZZ_CHECK(k >= 0 && k <= 4);
    const int32_t not_served = static_cast<int32_t>(static_cast<uint32_t>(code) - 8u);
    if (code == tavio::kSios) {
      FUZZ_CHECK(t == (u[10] * 256 + u[11] + k) % 65536 && z == u[15]);
    } else if (code == tavio::kZelle) {
      FUZZ_CHECK(t == (u[6] * 256 + u[7] + k) % 65536 && z == u[9]);
    } else {
      FUZZ_CHECK(t == not_served && z == not_served);
    }
    const uint32_t product = uint32_t(m) * uint32_t(k) * (uint32_t(z) & 0xFFFFu);
    FUZZ_CHECK(d == static_cast<int32_t>(product));
  }
  b.close_all_and_check();
  return 0;
}
