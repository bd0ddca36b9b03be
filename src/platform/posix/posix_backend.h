// The POSIX backend of the platform interface.
#pragma once

#include "platform/platform.h"

#include <map>
#include <mutex>
#include <string>

namespace tavio::platform {

class PosixBackend final : public Backend {
public:
  bool device_path(const char *name, std::string &path) override;
  Handle open_device(const char *path) override;
  bool close(Handle h) override;
  bool request_low_latency(Handle h) override;
  bool clear_errors(Handle h) override;
  bool get_config(Handle h, LineConfig &config) override;
  bool apply_settings(const char *text, LineConfig &config) override;
  bool set_config(Handle h, const LineConfig &config) override;
  bool set_timeouts(Handle h, const Timeouts &timeouts) override;
  bool transmit_char(Handle h, uint8_t byte) override;
  bool read(Handle h, void *buffer, uint32_t n, uint32_t *done) override;
  bool write(Handle h, const void *buffer, uint32_t n, uint32_t *done) override;
  bool purge(Handle h, uint32_t flags) override;
  bool escape(Handle h, LineCode code) override;
  bool set_break(Handle h, bool on) override;
  bool modem_status(Handle h, uint32_t *bits) override;

  // Network connections (socket_posix.cpp).
  int32_t net_connect(const char *host, uint16_t port, uint32_t timeout_ms) override;
  int32_t net_send(int32_t c, const void *data, uint32_t n) override;
  int32_t net_receive(int32_t c, void *data, uint32_t n) override;
  int net_wait(int32_t c, bool want_write, uint64_t deadline_ns) override;
  void net_shutdown(int32_t c) override;
  void net_close(int32_t c) override;

  uint64_t now_ns() override;
  void sleep_ns(uint64_t ns) override;
  bool keyboard_present() override;
  bool take_key_input(bool start_polling) override;
  void end_key_input() override;
  bool pump_messages() override;
  void show_message(const char *caption, const char *text) override;

  int32_t file_open_read(const char *path) override;
  int32_t file_read(int32_t fh, void *buffer, uint32_t n) override;
  void file_close(int32_t fh) override;
  int32_t file_begin_replace(const char *path) override;
  int32_t file_write(int32_t fh, const void *buffer, uint32_t n) override;
  bool file_commit(int32_t fh) override;
  void file_abandon(int32_t fh) override;

private:
  struct Port {
    Timeouts timeouts;
  };
  // Ports this backend opened; every operation on another handle fails.
  bool lookup(Handle h, Timeouts *timeouts);
  std::mutex ports_mutex_;
  std::map<Handle, Port> ports_;
  // The serial driver flags found at open, where the library changed them.
  std::map<Handle, int> serial_flags_;

  struct Replacement {
    int fd = -1;
    bool failed = false;
    bool in_place = false; // written straight into the target
    bool regular = true;   // the file written is a regular file
    std::string target;    // the name replaced (symbolic links followed)
    std::string temp;      // the temporary file, unless in place
  };
  std::mutex files_mutex_;
  std::map<int32_t, Replacement> replacements_;
};

// Shared by the backend's serial and network parts (serial_posix.cpp): the
// monotonic clock in ns, and a wait until fd is ready for events or the
// deadline (on that clock; ~0 for none) passes: the revents, 0 at the
// deadline, -1 on a poll error.
uint64_t mono_ns();
int wait_ready(int fd, short events, uint64_t deadline);

// Line rates by number (rate_posix.cpp; Linux): sets the rate, both ways,
// without a Bxxx code; reads the rates in effect. False where the system
// offers neither.
bool set_rate_by_number(int fd, uint32_t baud);
bool rate_in_effect(int fd, uint32_t &out, uint32_t &in);

} // namespace tavio::platform
