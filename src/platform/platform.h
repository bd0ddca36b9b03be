// The platform interface: everything the portable core needs from the host
// system. The core calls nothing else; each backend (posix/ and win32/)
// implements this one class. It is shaped after what the library does with a
// port (open, configure, time-outs, one byte, read, write, purge, lines,
// break, status, close), with the network connections of network ports, and
// with the host (timer, keyboard, messages, files).
#pragma once

#include <cstdint>
#include <string>

namespace tavio::platform {

// A port handle as the library stores it: 0 means "no port", kInvalidHandle
// marks a device open that failed. A backend never hands out 0 or a negative
// value for an open port, and refuses every operation on a handle that it
// did not open.
using Handle = int32_t;
inline constexpr Handle kNoHandle = 0;
inline constexpr Handle kInvalidHandle = -1;

enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : uint8_t { One, OneHalf, Two };

// The portable part of a port configuration (what a DCB holds that the
// library uses). Every field survives a get/set round trip.
struct LineConfig {
  uint32_t baud = 9600;
  Parity parity = Parity::None;
  uint8_t data_bits = 8;
  StopBits stop_bits = StopBits::One;
  bool binary = true;          // no character translation
  bool dtr_auto = false;       // driver raises DTR by itself
  bool rts_auto = false;       // driver raises RTS by itself
  bool abort_on_error = false; // a line error stops transfers until cleared
  bool xon_xoff = false;       // software flow control
  bool cts_handshake = false;  // hardware flow control (RTS/CTS)
  bool dsr_handshake = false;  // output waits for DSR
  bool dtr_handshake = false;  // DTR follows the receiver's room (input flow control)
  bool rts_handshake = false;  // RTS follows the receiver's room (input flow control)
  bool rts_toggle = false;     // RTS raised while sending
  bool dsr_sensitivity = false; // received bytes are dropped while DSR is off
  bool dtr_named = false;      // the settings text set dtr_auto: put DTR so
  bool rts_named = false;      // the settings text set rts_auto: put RTS so
};

// A time-out set, all values in milliseconds. A read of n bytes ends when n
// bytes have arrived, when n * read_total_multiplier + read_total_constant
// ms have passed since it began, or (read_interval not 0) when more than
// read_interval ms pass between two received bytes. A write of n bytes ends
// after n * write_total_multiplier + write_total_constant ms.
struct Timeouts {
  uint32_t read_interval = 0;
  uint32_t read_total_multiplier = 0;
  uint32_t read_total_constant = 0;
  uint32_t write_total_multiplier = 0;
  uint32_t write_total_constant = 0;
};

// Line-control codes for escape().
enum class LineCode : uint8_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// Purge flags.
inline constexpr uint32_t kPurgeTxClear = 4;
inline constexpr uint32_t kPurgeRxClear = 8;

// Modem status bits.
inline constexpr uint32_t kModemCts = 0x10;
inline constexpr uint32_t kModemDsr = 0x20;
inline constexpr uint32_t kModemRing = 0x40;
inline constexpr uint32_t kModemRlsd = 0x80;

// Network connection results (Backend::net_*).
inline constexpr int32_t kNetNothing = -2;
inline constexpr int kNetReadable = 1;
inline constexpr int kNetWritable = 2;
inline constexpr uint64_t kNetForever = ~0ull;

class Backend {
public:
  virtual ~Backend() = default;

  // --- serial ports ---
  // Where a device name (up to four characters, such as "COM3") leads: the
  // value of TAVIO32_<NAME> in the process's environment when it is set
  // (empty: no device), else the platform's own device of that name. False
  // when there is none. The path may be a network address
  // ("rfc2217://HOST:PORT"), which the core serves itself.
  virtual bool device_path(const char *name, std::string &path) = 0;
  // Opens the local device at path for reading and writing, exclusively.
  // Returns a handle, or kInvalidHandle.
  virtual Handle open_device(const char *path) = 0;
  virtual bool close(Handle h) = 0;
  // Asks the driver to pass received bytes on at once (many USB adapters
  // hold them for up to 16 ms); close puts the driver's own setting back.
  // False where the device offers no such setting (pseudo-terminals): the
  // port works either way.
  virtual bool request_low_latency(Handle) { return false; }
  // Clears any pending line-error state; nothing is reported.
  virtual bool clear_errors(Handle h) = 0;
  virtual bool get_config(Handle h, LineConfig &config) = 0;
  // Applies a settings text such as "19200,N,8,2" to config; false when the
  // text cannot be parsed or names something unsupported (config is then
  // unchanged).
  virtual bool apply_settings(const char *text, LineConfig &config) = 0;
  virtual bool set_config(Handle h, const LineConfig &config) = 0;
  virtual bool set_timeouts(Handle h, const Timeouts &timeouts) = 0;
  // Sends one byte ahead of data queued for sending, where the platform can.
  virtual bool transmit_char(Handle h, uint8_t byte) = 0;
  // Transfers under the installed time-outs. *done counts the bytes moved,
  // also when the call fails.
  virtual bool read(Handle h, void *buffer, uint32_t n, uint32_t *done) = 0;
  virtual bool write(Handle h, const void *buffer, uint32_t n, uint32_t *done) = 0;
  virtual bool purge(Handle h, uint32_t flags) = 0;
  virtual bool escape(Handle h, LineCode code) = 0;
  virtual bool set_break(Handle h, bool on) = 0;
  virtual bool modem_status(Handle h, uint32_t *bits) = 0;

  // --- network connections: the byte transport of network ports ---
  // (Defaults for backends without them: every connection fails.) The
  // connection handles are distinct from every open port handle, so that
  // the core tells a network port by its handle.
  // Connects to host (a name, or a numeric IPv4/IPv6 address) and port
  // within timeout_ms: a handle of 3 or more, or -1 at once when the host
  // is unknown or the connection is refused.
  virtual int32_t net_connect(const char *, uint16_t, uint32_t) { return -1; }
  // Sends up to n bytes without waiting: the count taken (0 when nothing
  // can be taken now), or -1 when the connection failed.
  virtual int32_t net_send(int32_t, const void *, uint32_t) { return -1; }
  // Receives up to n bytes without waiting: the count, kNetNothing when
  // nothing is waiting, 0 when the peer has ended the connection, -1 when
  // it failed.
  virtual int32_t net_receive(int32_t, void *, uint32_t) { return -1; }
  // Waits until the connection has input (or an end) to read, or, with
  // want_write, can take output, or until deadline_ns (on the now_ns clock;
  // kNetForever for none). A mask of kNetReadable and kNetWritable, 0 at
  // the deadline, -1 on failure.
  virtual int net_wait(int32_t, bool, uint64_t) { return -1; }
  // Ends sending: the peer reads the end of the stream.
  virtual void net_shutdown(int32_t) {}
  virtual void net_close(int32_t) {}

  // --- host ---
  // Monotonic clock in nanoseconds; the millisecond timer is derived from it.
  virtual uint64_t now_ns() = 0;
  // Lets the processor go for up to ns; may return early.
  virtual void sleep_ns(uint64_t ns) = 0;
  // Whether the process has a keyboard to poll (a terminal on stdin).
  virtual bool keyboard_present() = 0;
  // Takes whatever keyboard input is pending; true when there was any.
  // start_polling false leaves a keyboard alone that is not being polled
  // yet, so that loading the library takes nothing from the host program.
  virtual bool take_key_input(bool start_polling) = 0;
  // Ends keyboard polling: the keyboard is left as it was found.
  virtual void end_key_input() = 0;
  // Processes pending host messages (none on a terminal); true when it ran.
  virtual bool pump_messages() = 0;
  // The default message output: shows caption and text, blocks until the
  // user has seen them where someone can.
  virtual void show_message(const char *caption, const char *text) = 0;

  // --- files ---
  // File handles are 0 or more; -1 reports a failure.
  virtual int32_t file_open_read(const char *path) = 0;
  // Reads up to n bytes; the count read (less at the end of the file) or -1.
  virtual int32_t file_read(int32_t fh, void *buffer, uint32_t n) = 0;
  virtual void file_close(int32_t fh) = 0;
  // Replacing a file: the writes go to a temporary file in the target's
  // directory; file_commit renames it over the target (false when that, or
  // an earlier write, failed: the target is then as it was), file_abandon
  // removes it. Either one ends the handle. Where a rename would not keep
  // what an ordinary overwrite keeps (a FIFO, a device), the writes go to
  // the target itself and commit only closes it.
  virtual int32_t file_begin_replace(const char *path) = 0;
  // Writes n bytes; the count written or -1.
  virtual int32_t file_write(int32_t fh, const void *buffer, uint32_t n) = 0;
  virtual bool file_commit(int32_t fh) = 0;
  virtual void file_abandon(int32_t fh) = 0;
  // The name under which the text table is written, made from the caller's
  // text. Windows converts the text itself to the OEM code page, in place
  // (CharToOemA), as programs written for TAVIO32.DLL expect: the buffer
  // then holds the name written. Text in memory that cannot be written (a
  // string literal) is converted in a copy instead and stays as it was.
  // Elsewhere the name stands as it is and the text never changes.
  virtual std::string table_file_name(char *path) { return path; }
};

// The backend in use. The platform's own backend unless one was installed.
Backend &backend();
// Installs a backend (tests, or a host with its own); null restores the
// platform's own. Returns the one that was installed before.
Backend *install_backend(Backend *b);
// The platform's own backend.
Backend &native_backend();

// Settings text parser for backends whose platform has none: the syntax of
// the MODE command as Windows reads it (BuildCommDCB). Takes any rate; the
// port decides at set_config which it can run.
bool parse_settings(const char *text, LineConfig &config);
// Whether the rate is one of the usual ones (110 to 921600).
bool is_supported_baud(uint32_t baud);

} // namespace tavio::platform

namespace tavio::platform {

// A lock for the core's own data, the platform's kind (the 32-bit Windows
// runtime has no C++ locks). It lives in place, needs nothing at load and
// gives nothing back: usable in objects made at load, until the process ends.
class Lock {
public:
  Lock();
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
  void lock();
  void unlock();

private:
  alignas(8) unsigned char place_[64];
};

// Holds a lock for its own lifetime.
class Locked {
public:
  explicit Locked(Lock &lock) : lock_(lock) { lock_.lock(); }
  ~Locked() { lock_.unlock(); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

private:
  Lock &lock_;
};

// The one-process rule: a system-wide lock held from load to unload, freed by
// the system however the process ends. False when another process holds it.
bool acquire_process_lock();
void release_process_lock();
} // namespace tavio::platform
