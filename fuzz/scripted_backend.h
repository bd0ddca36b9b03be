// A scripted device for the fuzz targets: a platform backend that touches no
// real device, file or clock. Every answer the library reads (bytes,
// silences, failures, modem lines, whether a device exists) is taken from
// the fuzz input; time is a counter that reads and pauses move on, so a
// time-out costs nothing. Files live in memory.
//
// It also checks what a backend can see of the library's conduct: no
// operation on a handle that is not open, no handle closed twice, no
// transfer longer than the caller's buffer could hold (AddressSanitizer sees
// the copies), and nothing left open after the closing sequence.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "frame/state.h"
#include "platform/platform.h"

namespace tavio::fuzz {

// Stops the run with a message: libFuzzer saves the input as a crash.
[[noreturn]] inline void fail(const char *what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)                                                                                               \
  do {                                                                                                                 \
    if (!(cond)) ::tavio::fuzz::fail(#cond);                                                                           \
  } while (0)

class ScriptedBackend : public platform::Backend {
public:
  explicit ScriptedBackend(FuzzedDataProvider &in) : in_(in) { before_ = platform::install_backend(this); }
  ~ScriptedBackend() override { platform::install_backend(before_); }
  ScriptedBackend(const ScriptedBackend &) = delete;
  ScriptedBackend &operator=(const ScriptedBackend &) = delete;

  // Device names the library asked to open, in order (for checks).
  std::vector<std::string> opened_names;
  // Settings texts handed to apply_settings, in order.
  std::vector<std::string> settings_texts;
  // Bytes the library sent, all ports together (kept short).
  std::vector<uint8_t> wire;
  // Files written and committed, by name; the program file PROLADEN reads.
  std::map<std::string, std::vector<uint8_t>> files;
  int messages = 0;

  bool is_open_handle(platform::Handle h) const { return open_.count(h) != 0; }
  size_t open_count() const { return open_.size(); }

  // --- serial ports: every name leads to a device of that name
  bool device_path(const char *name, std::string &path) override {
    path = name;
    return true;
  }
  platform::Handle open_device(const char *name) override {
    FUZZ_CHECK(name != nullptr && std::strlen(name) <= 4);
    opened_names.emplace_back(name);
    // A device is there unless the script says otherwise (an exhausted
    // script leaves every device present).
    if (in_.ConsumeIntegral<uint8_t>() >= 0xF0) return platform::kInvalidHandle;
    platform::Handle h = next_handle_++;
    if (next_handle_ > 1000000) next_handle_ = 3;
    open_.insert(h);
    configs_[h] = platform::LineConfig{};
    return h;
  }
  bool close(platform::Handle h) override {
    FUZZ_CHECK(open_.count(h) == 1); // never a handle closed twice or made up
    open_.erase(h);
    configs_.erase(h);
    timeouts_.erase(h);
    return true;
  }
  bool clear_errors(platform::Handle h) override { return is_open_handle(h); }
  bool get_config(platform::Handle h, platform::LineConfig &config) override {
    if (!is_open_handle(h)) return false;
    config = configs_[h];
    return true;
  }
  bool apply_settings(const char *text, platform::LineConfig &config) override {
    FUZZ_CHECK(text != nullptr);
    settings_texts.emplace_back(text);
    return platform::parse_settings(text, config);
  }
  bool set_config(platform::Handle h, const platform::LineConfig &config) override {
    if (!is_open_handle(h)) return false;
    FUZZ_CHECK(config.data_bits >= 5 && config.data_bits <= 8);
    configs_[h] = config;
    return true;
  }
  bool set_timeouts(platform::Handle h, const platform::Timeouts &t) override {
    if (!is_open_handle(h)) return false;
    timeouts_[h] = t;
    return true;
  }
  bool transmit_char(platform::Handle h, uint8_t byte) override {
    if (!is_open_handle(h)) return false;
    keep_sent(&byte, 1);
    return true;
  }
  bool read(platform::Handle h, void *buffer, uint32_t n, uint32_t *done) override {
    FUZZ_CHECK(done != nullptr);
    *done = 0;
    if (!is_open_handle(h)) return false;
    if (n == 0) return true;
    FUZZ_CHECK(buffer != nullptr);
    // The script decides: some bytes, then a silence (or a failing device).
    const uint8_t how = in_.ConsumeIntegral<uint8_t>();
    const uint32_t want = in_.ConsumeIntegralInRange<uint32_t>(0, n);
    std::vector<uint8_t> got = in_.ConsumeBytes<uint8_t>(want);
    if (!got.empty()) std::memcpy(buffer, got.data(), got.size());
    // Whatever the device does not send is a silence that lasts the time-out.
    if (got.size() < n) clock_ns_ += read_limit_ms(h, n) * 1000000ull;
    *done = static_cast<uint32_t>(got.size());
    return how < 0xF8; // else the device failed (vanished) after those bytes
  }
  bool write(platform::Handle h, const void *buffer, uint32_t n, uint32_t *done) override {
    FUZZ_CHECK(done != nullptr);
    *done = 0;
    if (!is_open_handle(h)) return false;
    if (n > 0) {
      FUZZ_CHECK(buffer != nullptr);
      keep_sent(static_cast<const uint8_t *>(buffer), n);
    }
    *done = n;
    return true;
  }
  bool purge(platform::Handle h, uint32_t) override { return is_open_handle(h); }
  bool escape(platform::Handle h, platform::LineCode) override { return is_open_handle(h); }
  bool set_break(platform::Handle h, bool) override { return is_open_handle(h); }
  bool modem_status(platform::Handle h, uint32_t *bits) override {
    if (!is_open_handle(h)) return false;
    *bits = in_.ConsumeIntegral<uint8_t>() & 0xF0u;
    return true;
  }

  // --- host: a clock that moves a little at every look and by whole pauses
  uint64_t now_ns() override {
    const uint64_t now = clock_ns_;
    clock_ns_ += 50000; // 50 us per look, so that spinning waits end
    return now;
  }
  void sleep_ns(uint64_t ns) override { clock_ns_ += ns; }
  bool keyboard_present() override { return false; }
  bool take_key_input(bool) override { return false; }
  void end_key_input() override {}
  bool pump_messages() override { return true; }
  void show_message(const char *caption, const char *text) override {
    FUZZ_CHECK(caption != nullptr && text != nullptr);
    FUZZ_CHECK(std::strlen(text) < 4096);
    ++messages;
  }

  // --- files, in memory
  int32_t file_open_read(const char *path) override {
    auto it = files.find(path);
    if (it == files.end()) return -1;
    reading_ = it->second;
    read_pos_ = 0;
    return 1;
  }
  int32_t file_read(int32_t fh, void *buffer, uint32_t n) override {
    FUZZ_CHECK(fh == 1);
    const size_t left = reading_.size() - read_pos_;
    const size_t k = n < left ? n : left;
    if (k > 0) std::memcpy(buffer, reading_.data() + read_pos_, k);
    read_pos_ += k;
    return static_cast<int32_t>(k);
  }
  void file_close(int32_t fh) override { FUZZ_CHECK(fh == 1); }
  int32_t file_begin_replace(const char *path) override {
    FUZZ_CHECK(!writing_);
    writing_ = true;
    writing_name_ = path;
    written_.clear();
    return 2;
  }
  int32_t file_write(int32_t fh, const void *buffer, uint32_t n) override {
    FUZZ_CHECK(fh == 2 && writing_);
    const uint8_t *p = static_cast<const uint8_t *>(buffer);
    written_.insert(written_.end(), p, p + n);
    return static_cast<int32_t>(n);
  }
  bool file_commit(int32_t fh) override {
    FUZZ_CHECK(fh == 2 && writing_);
    writing_ = false;
    files[writing_name_] = std::move(written_);
    return true;
  }
  void file_abandon(int32_t fh) override {
    FUZZ_CHECK(fh == 2 && writing_);
    writing_ = false;
  }

  // Runs the library's closing sequence and checks that nothing stays open.
  void close_all_and_check() {
    entry_notify();
    FUZZ_CHECK(open_.empty());
    FUZZ_CHECK(!writing_);
  }

private:
  uint64_t read_limit_ms(platform::Handle h, uint32_t n) {
    const platform::Timeouts &t = timeouts_[h];
    uint64_t total = uint64_t(n) * t.read_total_multiplier + t.read_total_constant;
    return total > 100000 ? 100000 : total;
  }
  void keep_sent(const uint8_t *p, size_t n) {
    if (wire.size() > 4096) wire.clear();
    wire.insert(wire.end(), p, p + (n < 4096 ? n : 4096));
  }

  FuzzedDataProvider &in_;
  platform::Backend *before_;
  std::set<platform::Handle> open_;
  std::map<platform::Handle, platform::LineConfig> configs_;
  std::map<platform::Handle, platform::Timeouts> timeouts_;
  platform::Handle next_handle_ = 3;
  uint64_t clock_ns_ = 1000000000ull;
  std::vector<uint8_t> reading_;
  size_t read_pos_ = 0;
  bool writing_ = false;
  std::string writing_name_;
  std::vector<uint8_t> written_;
};

// Starts an input from the state after load, with messages going to the
// backend.
inline void fresh_library() {
  reset_state_for_tests();
  set_message_handler(nullptr);
}

} // namespace tavio::fuzz
