#include "fake_backend.h"

namespace tavio::test {

namespace {
bool usable(platform::Handle h) { return h != platform::kNoHandle && h != platform::kInvalidHandle; }
} // namespace

FakeBackend::FakeBackend() { before_ = platform::install_backend(this); }
FakeBackend::~FakeBackend() { platform::install_backend(before_); }

bool FakeBackend::escape(platform::Handle h, platform::LineCode code) {
  if (!fake_lines) return native().escape(h, code);
  if (!usable(h)) return false;
  escapes.emplace_back(h, static_cast<int>(code));
  return !lines_fail;
}

bool FakeBackend::set_break(platform::Handle h, bool on) {
  if (!fake_lines) return native().set_break(h, on);
  if (!usable(h)) return false;
  breaks.emplace_back(h, on);
  return !lines_fail;
}

bool FakeBackend::modem_status(platform::Handle h, uint32_t *bits) {
  if (!fake_lines) return native().modem_status(h, bits);
  if (!usable(h) || lines_fail) return false;
  *bits = modem_bits;
  return true;
}

uint64_t FakeBackend::now_ns() {
  if (!fake_clock) return native().now_ns();
  uint64_t now = clock_ns;
  clock_ns += step_ns;
  return now;
}

void FakeBackend::sleep_ns(uint64_t ns) {
  if (!fake_clock) return native().sleep_ns(ns);
  clock_ns += ns;
}

bool FakeBackend::keyboard_present() { return fake_keyboard ? keyboard : native().keyboard_present(); }

bool FakeBackend::take_key_input(bool start_polling) {
  if (!fake_keyboard) return native().take_key_input(start_polling);
  bool any = pending_keys > 0;
  pending_keys = 0;
  return any;
}

} // namespace tavio::test
