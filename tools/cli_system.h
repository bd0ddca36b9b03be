// What the tavio32 command asks the system: where a COM name leads, whether
// a device can be opened and who holds it, who holds the library, Ctrl-C,
// the clock and the terminal, files. One implementation per system, in
// platform/posix/ and platform/win32/; the subcommands use only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavio::cli {

// The device path a port name maps to under the library's rules, and where
// the mapping comes from ("TAVIO32_COM3", "default", ""). An empty path: no
// device.
struct Mapping {
  std::string path;
  std::string source;
  std::string adapter; // a numbered USB adapter: what it says it is
  bool absent = false; // the numbered adapter is not plugged in
};
Mapping map_port(int n);
// How port names map on this system, for the help text.
const char *port_naming();

// Processes (pid and command name) that have `path` open; only those whose
// descriptors this user may see.
struct Holder {
  long pid;
  std::string name;
};
std::vector<Holder> holders_of(const std::string &path);
// The process holding the library's one-process lock; pid 0 when free or
// when the system does not tell.
Holder library_holder(bool *held);

// The library, loaded at run time (library.cpp): its handle, or null with
// `error` saying why; the address of one of its exports, or null.
void *open_library(std::string &error);
void *library_address(void *library, const char *name);

bool device_exists(const std::string &path);
// Why a device cannot be opened, as a sentence that says what to do; empty
// when it can be opened (it is closed again at once).
std::string open_problem(const std::string &port_name, const Mapping &m);

// Serial devices present on the machine, with what the system calls them
// where it tells ("" otherwise).
struct SerialDevice {
  std::string path;
  std::string description;
};
std::vector<SerialDevice> serial_devices();

// When a transfer on COMn failed: "the USB adapter of COM3 was removed ..."
// when its device went away (`handle`, the port's handle before it was
// closed, or 0), "" when it is still there.
std::string removed_problem(int port, int32_t handle);

// USB serial adapters and their COM numbers (on Linux the library's own
// numbering; Windows gives them numbers itself).
struct UsbAdapter {
  std::string device;
  std::string about;
  int com = 0; // 0: none yet
};
std::vector<UsbAdapter> usb_adapters();
// Numbers the adapters that have none (device empty), or puts the adapter
// `device` on COMn; `lines` says what was done. False with `error`.
bool number_adapters(int com, const std::string &device, std::vector<std::string> &lines, std::string &error);
bool forget_number(int com, std::string &error);
// Where the numbers live, for the help text.
std::string numbers_place();

// Which COM port the primary port is (after FINDHARD); 0 when unknown.
int port_of_primary();

std::string describe(const std::vector<Holder> &holders);

// Ctrl-C and the system's requests to end (SIGINT and SIGTERM; on Windows
// the console's control events: Ctrl-C, Ctrl-Break, closing the window,
// logging off, shutting down) set g_interrupted once catch_interrupts() ran.
void catch_interrupts();
// For a server: the ending requests are only noted (no thread is disturbed
// by them), and wait_for_end() returns when one came: kExitInterrupted for
// Ctrl-C, 0 for the others.
void prepare_wait_for_end();
int wait_for_end();

bool terminal(); // standard output is a terminal
double now_ms(); // the monotonic clock
// Sleeps until the monotonic time `ms`; false when interrupted.
bool sleep_until(double ms);

// Writes `text` to `path` completely or not at all, as the library replaces
// files (a write-protected file stays as it is). False with errno set when it
// could not.
bool write_file(const std::string &path, const std::string &text);
// Why the existing file `path` may not be written by this user (its
// permissions; on Windows its read-only, hidden or system attribute), in
// words; empty when it may, or when there is no such file.
std::string write_protection(const std::string &path);
// A new private directory for temporary files; "" with `error` set when
// none could be made. remove_directory removes it with the named files.
std::string make_temporary_directory(std::string &error);
void remove_directory(const std::string &dir, const std::vector<std::string> &files);

// Bytes from the system's random source; false when it failed.
bool random_bytes(unsigned char *out, size_t n);
// The machine's own address for printed links (an address of an interface
// that is up, else the host name).
std::string own_address();
// The listening socket's options: the address may be taken again at once
// after the program ended (but not by another program while it runs), and
// each connection's send buffer has `send_buffer` bytes.
void listening_socket_options(std::uintptr_t socket, int send_buffer);

// monitor's terminal: bytes from the port opened in slot 0 (handle `handle`)
// to standard output, keys or standard input to the port, until Ctrl-] on a
// terminal, Ctrl-C, or the end of the input (and 300 ms of quiet). False
// when the port went away.
bool monitor_loop(int32_t handle, bool hex, const std::string &port, const std::string &banner);

// The tavio32 command was started by a double-click, with a console of its
// own (nobody else uses it); tavio32.cpp then serves and opens the page.
bool started_from_explorer();
void open_in_browser(const std::string &url);

} // namespace tavio::cli
