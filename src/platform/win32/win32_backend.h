// The Win32 backend of the platform interface (TAVIO32.DLL).
#pragma once

#include "platform/platform.h"

#include <map>
#include <string>

#include <windows.h>

namespace tavio::platform {

// A small lock that needs no initialisation at run time (a slim
// reader/writer lock used exclusively).
class Win32Lock {
public:
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// Runs f with the lock held.
template <typename F> auto locked(Win32Lock &lock, F &&f) {
  lock.lock();
  struct Unlock {
    Win32Lock &l;
    ~Unlock() { l.unlock(); }
  } unlock{lock};
  return f();
}

class Win32Backend final : public Backend {
public:
  bool device_path(const char *name, std::string &path) override;
  Handle open_device(const char *path) override;
  bool close(Handle h) override;
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

  // Network connections (socket_win32.cpp): Winsock, started on first use.
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
  std::string table_file_name(char *path) override;

private:
  // The port's system handle when this backend opened h, else null.
  HANDLE port(Handle h);
  Win32Lock ports_lock_;
  std::map<Handle, HANDLE> ports_;

  struct Replacement {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool failed = false;
    bool in_place = false; // the target itself is written
    bool disk = true;      // a file, not a device
    DWORD attributes = INVALID_FILE_ATTRIBUTES; // the target's before the write
    std::string target;
    std::string temp;
  };
  // Ends a replacement: takes it out of the table; false when fh is none.
  bool take_replacement(int32_t fh, Replacement &rep);
  Win32Lock files_lock_;
  std::map<int32_t, Replacement> replacements_;
};

// Handles as the library stores them: the 32 significant bits of the system
// handle (Windows keeps kernel handles within 32 bits, also in 64-bit
// processes, so that they can be passed between the two).
inline Handle to_library_handle(HANDLE h) { return static_cast<Handle>(reinterpret_cast<intptr_t>(h)); }
inline HANDLE to_system_handle(Handle h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

namespace win32 {
// Set while the DLL's entry point runs: nothing may then ask for the 1 ms
// timer period (or call anything else outside KERNEL32).
void set_in_entry_point(bool in);
// Gives back the 1 ms timer period if the library asked for it.
void give_back_timer_period();
} // namespace win32

} // namespace tavio::platform
