// Mode strings of any length and content for the opening functions of the
// primary port and the port table: the device name is at most the first
// four characters, the settings text starts at the sixth (or is empty),
// every device left open is held by the primary port or a slot (and closed
// by the closing sequence), and nothing reads past the end of the string.
#include <cstring>
#include <string>

#include "scripted_backend.h"
#include "serial/port.h"
#include "tavio32.h"

namespace {

// What the library must have handed on for one mode string.
void check_split(tavio::fuzz::ScriptedBackend &b, size_t names_before, size_t texts_before, const std::string &mode) {
  FUZZ_CHECK(b.opened_names.size() == names_before + 1);
  FUZZ_CHECK(b.opened_names.back() == mode.substr(0, 4));
  if (b.settings_texts.size() > texts_before) {
    FUZZ_CHECK(b.settings_texts.size() == texts_before + 1);
    FUZZ_CHECK(b.settings_texts.back() == (mode.size() >= 5 ? mode.substr(5) : std::string()));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  tavio::fuzz::ScriptedBackend b(in);
  tavio::fuzz::fresh_library();

  for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
    const uint8_t op = in.ConsumeIntegral<uint8_t>();
    std::string mode = in.ConsumeRandomLengthString(512);
    mode.resize(std::strlen(mode.c_str()));
    // The mode in an allocation of its own length.
    char *heap = new char[mode.size() + 1];
    std::memcpy(heap, mode.c_str(), mode.size() + 1);
    const size_t names = b.opened_names.size(), texts = b.settings_texts.size();

    if (op % 2 == 0) {
      const int32_t r = OPENCOM(heap);
      FUZZ_CHECK(r == 0 || r == 1);
      check_split(b, names, texts, mode);
      const int32_t h = GETCOM();
      if (r == 1) FUZZ_CHECK(b.is_open_handle(h));
      FUZZ_CHECK(h == -1 || b.is_open_handle(h)); // 0 only when closed
    } else {
      const int32_t slot = static_cast<int32_t>(op / 2) % 10 - 1; // -1..8, two out of range
      const int32_t r = IX_OPENCOM(slot, heap);
      if (slot < 0 || slot > 7) {
        FUZZ_CHECK(r == 0 && b.opened_names.size() == names);
      } else {
        check_split(b, names, texts, mode);
        FUZZ_CHECK(r == 0 || b.is_open_handle(r));
      }
    }
    FUZZ_CHECK(std::strcmp(heap, mode.c_str()) == 0); // the caller's text is left as it was
    delete[] heap;
    // Open handles are the primary port and the slots, nothing else.
    size_t held = tavio::is_open(tavio::COM) ? 1 : 0;
    for (int i = 0; i < tavio::kSlots; ++i) held += tavio::is_open(tavio::DMCOM[i]) ? 1 : 0;
    FUZZ_CHECK(b.open_count() == held);
  }
  b.close_all_and_check();
  return 0;
}
