// The settings-text parser, on any text: it accepts or refuses, never reads
// past the text, and leaves the configuration untouched when it refuses.
// What it accepts has 5 to 8 data bits, and parsing the same text again
// gives the same configuration.
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "scripted_backend.h"

using tavio::platform::LineConfig;

namespace {

bool same(const LineConfig &a, const LineConfig &b) {
  return a.baud == b.baud && a.parity == b.parity && a.data_bits == b.data_bits && a.stop_bits == b.stop_bits &&
         a.binary == b.binary && a.dtr_auto == b.dtr_auto && a.rts_auto == b.rts_auto &&
         a.abort_on_error == b.abort_on_error && a.xon_xoff == b.xon_xoff && a.cts_handshake == b.cts_handshake &&
         a.dsr_handshake == b.dsr_handshake && a.dsr_sensitivity == b.dsr_sensitivity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The text exactly as long as the input, in its own allocation, so that a
  // read past its end is seen.
  std::string text(reinterpret_cast<const char *>(data), size);
  text.resize(std::strlen(text.c_str()));
  char *heap = new char[text.size() + 1];
  std::memcpy(heap, text.c_str(), text.size() + 1);

  LineConfig odd;
  odd.baud = 300;
  odd.parity = tavio::platform::Parity::Mark;
  odd.data_bits = 5;
  odd.stop_bits = tavio::platform::StopBits::OneHalf;
  odd.xon_xoff = odd.dtr_auto = true;
  LineConfig config = odd;
  const bool ok = tavio::platform::parse_settings(heap, config);
  if (!ok) {
    FUZZ_CHECK(same(config, odd));
  } else {
    FUZZ_CHECK(config.data_bits >= 5 && config.data_bits <= 8);
    FUZZ_CHECK(!(config.xon_xoff && config.cts_handshake && text.find('=') == std::string::npos));
    LineConfig again = odd;
    FUZZ_CHECK(tavio::platform::parse_settings(heap, again));
    FUZZ_CHECK(same(again, config));
  }
  delete[] heap;
  return 0;
}
