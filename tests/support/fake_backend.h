// A backend for what a pseudo-terminal cannot show: modem lines, break, a
// clock that can be set (timer wrap), a keyboard and message capture. Every
// operation it does not take over goes on as the library's own would.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "serial/line.h"

namespace tavio::test {

class FakeBackend : public platform::Backend {
public:
  // Installs itself for the lifetime of the object.
  FakeBackend();
  ~FakeBackend() override;

  // --- clock: when fake_clock, now_ns() returns clock_ns and then advances
  // it by step_ns; sleep_ns(n) advances it by n.
  bool fake_clock = false;
  uint64_t clock_ns = 0;
  uint64_t step_ns = 0;
  void set_clock_ms(uint64_t ms) {
    fake_clock = true;
    clock_ns = ms * 1000000ull;
  }

  // --- lines: when fake_lines, escape/set_break/modem_status on any handle
  // other than 0 and -1 are recorded here and succeed (unless lines_fail).
  bool fake_lines = false;
  bool lines_fail = false;
  std::vector<std::pair<platform::Handle, int>> escapes; // handle, code 3..6
  std::vector<std::pair<platform::Handle, bool>> breaks;
  uint32_t modem_bits = 0;

  // --- low latency: every request, passed on to the platform's backend.
  std::vector<platform::Handle> low_latency_requests;

  // --- keyboard
  bool fake_keyboard = false;
  bool keyboard = true;
  int pending_keys = 0;
  int pumps = 0;

  // --- messages shown through the default output
  std::vector<std::pair<std::string, std::string>> messages;

  bool device_path(const char *name, std::string &path) override { return native().device_path(name, path); }
  platform::Handle open_device(const char *path) override { return native().open_device(path); }
  bool close(platform::Handle h) override { return native().close(h); }
  bool request_low_latency(platform::Handle h) override {
    low_latency_requests.push_back(h);
    return native().request_low_latency(h);
  }
  bool clear_errors(platform::Handle h) override { return native().clear_errors(h); }
  bool get_config(platform::Handle h, platform::LineConfig &c) override { return native().get_config(h, c); }
  bool apply_settings(const char *t, platform::LineConfig &c) override { return native().apply_settings(t, c); }
  bool set_config(platform::Handle h, const platform::LineConfig &c) override { return native().set_config(h, c); }
  bool set_timeouts(platform::Handle h, const platform::Timeouts &t) override { return native().set_timeouts(h, t); }
  bool transmit_char(platform::Handle h, uint8_t b) override { return native().transmit_char(h, b); }
  bool read(platform::Handle h, void *b, uint32_t n, uint32_t *d) override { return native().read(h, b, n, d); }
  bool write(platform::Handle h, const void *b, uint32_t n, uint32_t *d) override {
    return native().write(h, b, n, d);
  }
  bool purge(platform::Handle h, uint32_t f) override { return native().purge(h, f); }
  bool escape(platform::Handle h, platform::LineCode code) override;
  bool set_break(platform::Handle h, bool on) override;
  bool modem_status(platform::Handle h, uint32_t *bits) override;
  uint64_t now_ns() override;
  void sleep_ns(uint64_t ns) override;
  bool keyboard_present() override;
  bool take_key_input(bool start_polling) override;
  void end_key_input() override {}
  bool pump_messages() override {
    ++pumps;
    return true;
  }
  void show_message(const char *caption, const char *text) override { messages.emplace_back(caption, text); }
  int32_t file_open_read(const char *p) override { return native().file_open_read(p); }
  int32_t file_read(int32_t fh, void *b, uint32_t n) override { return native().file_read(fh, b, n); }
  void file_close(int32_t fh) override { native().file_close(fh); }
  int32_t file_begin_replace(const char *p) override { return native().file_begin_replace(p); }
  int32_t file_write(int32_t fh, const void *b, uint32_t n) override { return native().file_write(fh, b, n); }
  bool file_commit(int32_t fh) override { return native().file_commit(fh); }
  void file_abandon(int32_t fh) override { native().file_abandon(fh); }

private:
  // The core's port router over the platform's backend: network ports too.
  static platform::Backend &native() { return line::router(); }
  platform::Backend *before_;
};

// Records when the library hands each byte to the port: gaps measured here
// do not depend on when an emulator's reader thread gets to the bytes.
class SendClock : public FakeBackend {
public:
  struct Sent {
    uint8_t byte;
    double t_ms;
  };
  std::vector<Sent> sent;
  bool transmit_char(platform::Handle h, uint8_t b) override {
    sent.push_back({b, static_cast<double>(platform::native_backend().now_ns()) / 1e6});
    return FakeBackend::transmit_char(h, b);
  }
  // Milliseconds between the sends k-1 and k.
  double gap(size_t k) const { return sent.at(k).t_ms - sent.at(k - 1).t_ms; }
  // Milliseconds between the sends `from` and `to` places from the end (1 is
  // the last byte).
  double gap_from_end(size_t from, size_t to) const {
    return sent.at(sent.size() - to).t_ms - sent.at(sent.size() - from).t_ms;
  }
};

} // namespace tavio::test
