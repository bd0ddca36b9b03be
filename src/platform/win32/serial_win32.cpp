// Serial ports on Windows: the Win32 communications calls on a handle opened
// with CreateFileA. The time-out sets map one to one onto COMMTIMEOUTS.
#include "platform/win32/win32_backend.h"

#include <cctype>
#include <cstring>

namespace tavio::platform {

namespace {

BYTE parity_code(Parity p) {
  switch (p) {
  case Parity::Odd: return ODDPARITY;
  case Parity::Even: return EVENPARITY;
  case Parity::Mark: return MARKPARITY;
  case Parity::Space: return SPACEPARITY;
  default: return NOPARITY;
  }
}

Parity parity_of(BYTE code) {
  switch (code) {
  case ODDPARITY: return Parity::Odd;
  case EVENPARITY: return Parity::Even;
  case MARKPARITY: return Parity::Mark;
  case SPACEPARITY: return Parity::Space;
  default: return Parity::None;
  }
}

BYTE stop_code(StopBits s) {
  return s == StopBits::Two ? TWOSTOPBITS : s == StopBits::OneHalf ? ONE5STOPBITS : ONESTOPBIT;
}

DWORD dtr_code(const LineConfig &c) {
  return c.dtr_handshake ? DTR_CONTROL_HANDSHAKE : c.dtr_auto ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
}

DWORD rts_code(const LineConfig &c) {
  return c.rts_handshake ? RTS_CONTROL_HANDSHAKE
         : c.rts_toggle  ? RTS_CONTROL_TOGGLE
         : c.rts_auto    ? RTS_CONTROL_ENABLE
                         : RTS_CONTROL_DISABLE;
}

// The fields of a DCB that a LineConfig holds.
void read_dcb(const DCB &d, LineConfig &c) {
  c.baud = d.BaudRate;
  c.parity = parity_of(d.Parity);
  c.data_bits = d.ByteSize;
  c.stop_bits = d.StopBits == TWOSTOPBITS ? StopBits::Two : d.StopBits == ONE5STOPBITS ? StopBits::OneHalf : StopBits::One;
  c.binary = d.fBinary != 0;
  c.dtr_auto = d.fDtrControl == DTR_CONTROL_ENABLE;
  c.dtr_handshake = d.fDtrControl == DTR_CONTROL_HANDSHAKE;
  c.rts_auto = d.fRtsControl == RTS_CONTROL_ENABLE;
  c.rts_handshake = d.fRtsControl == RTS_CONTROL_HANDSHAKE;
  c.rts_toggle = d.fRtsControl == RTS_CONTROL_TOGGLE;
  c.abort_on_error = d.fAbortOnError != 0;
  c.xon_xoff = d.fOutX || d.fInX;
  c.cts_handshake = d.fOutxCtsFlow != 0;
  c.dsr_handshake = d.fOutxDsrFlow != 0;
  c.dsr_sensitivity = d.fDsrSensitivity != 0;
}

// Writes into d the fields that c holds; every other field of d keeps its
// value (the program's own XON/XOFF characters and limits, parity checking,
// the error and null characters). Each field c holds is written whole, with
// a valid code: a port may report a value that no code stands for (Wine's
// line format on a pseudo-terminal after mark or space parity), and Windows
// refuses it back. XON/XOFF alone is written only when c says otherwise, so
// that a program's one-way XON/XOFF survives.
void write_dcb(const LineConfig &c, DCB &d) {
  d.BaudRate = c.baud;
  d.Parity = parity_code(c.parity);
  d.ByteSize = c.data_bits;
  d.StopBits = stop_code(c.stop_bits);
  d.fBinary = c.binary;
  d.fDtrControl = dtr_code(c);
  d.fRtsControl = rts_code(c);
  d.fAbortOnError = c.abort_on_error;
  if (c.xon_xoff != (d.fOutX || d.fInX)) d.fOutX = d.fInX = c.xon_xoff;
  d.fOutxCtsFlow = c.cts_handshake;
  d.fOutxDsrFlow = c.dsr_handshake;
  d.fDsrSensitivity = c.dsr_sensitivity;
}

} // namespace

HANDLE Win32Backend::port(Handle h) {
  if (h == kNoHandle || h == kInvalidHandle) return nullptr;
  return locked(ports_lock_, [&]() -> HANDLE {
    auto it = ports_.find(h);
    return it == ports_.end() ? nullptr : it->second;
  });
}

bool Win32Backend::device_path(const char *name, std::string &path) {
  const size_t len = name == nullptr ? 0 : std::strlen(name);
  if (len == 0 || len > 4) return false;
  // TAVIO32_<NAME> first, as on every platform (a name that cannot be part
  // of a variable's name has none).
  char var[16] = "TAVIO32_";
  bool plain = true;
  for (size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    plain = plain && std::isalnum(c);
    var[8 + i] = static_cast<char>(std::toupper(c));
  }
  if (plain) {
    char value[1024];
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(var, value, sizeof value);
    if (n >= sizeof value) return false; // longer than any device path
    if (n > 0) {
      path.assign(value, n);
      return true;
    }
    if (GetLastError() != ERROR_ENVVAR_NOT_FOUND) return false; // set and empty: no device
  }
  // The system's device of that name. The device namespace prefix reaches
  // COM10 and above as well as COM1..9.
  path = std::string("\\\\.\\") + name;
  return true;
}

Handle Win32Backend::open_device(const char *path) {
  if (path == nullptr || *path == '\0') return kInvalidHandle;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  const Handle h = to_library_handle(file);
  if (h == kNoHandle || h == kInvalidHandle) { // never the case; refuse rather than mislead
    CloseHandle(file);
    return kInvalidHandle;
  }
  // Until the library installs its own, transfers run under its default set
  // (100 ms), so that a port whose settings were refused cannot block.
  COMMTIMEOUTS t{100, 1, 100, 1, 100};
  SetCommTimeouts(file, &t);
  locked(ports_lock_, [&] { return ports_[h] = file; });
  return h;
}

bool Win32Backend::close(Handle h) {
  HANDLE file = port(h);
  if (file == nullptr) return false;
  locked(ports_lock_, [&] { return ports_.erase(h); });
  return CloseHandle(file) != 0;
}

bool Win32Backend::clear_errors(Handle h) {
  HANDLE file = port(h);
  DWORD errors = 0;
  COMSTAT status;
  return file != nullptr && ClearCommError(file, &errors, &status) != 0;
}

bool Win32Backend::get_config(Handle h, LineConfig &c) {
  HANDLE file = port(h);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (file == nullptr || !GetCommState(file, &dcb)) return false;
  read_dcb(dcb, c);
  return true;
}

bool Win32Backend::apply_settings(const char *text, LineConfig &config) {
  // The system's own parser, BuildCommDCBA, on the configuration read from
  // the port with the library's four changes: what Windows takes or refuses
  // is what the library takes or refuses. It sets only fields that a
  // LineConfig holds, so it gets them all, and what it does not set is not
  // lost: set_config writes only what differs from the port's DCB.
  if (text == nullptr) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  write_dcb(config, dcb);
  if (!BuildCommDCBA(text, &dcb)) return false;
  read_dcb(dcb, config);
  return true;
}

bool Win32Backend::set_config(Handle h, const LineConfig &c) {
  HANDLE file = port(h);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (file == nullptr || !GetCommState(file, &dcb)) return false;
  // Built on the port's configuration: every field the configuration does
  // not change keeps its value (the program's own XON/XOFF characters and
  // limits, parity checking, the error and null characters).
  write_dcb(c, dcb);
  if (!SetCommState(file, &dcb)) return false;
  // A driver may take a rate that it cannot run and run another instead
  // (Wine on a pseudo-terminal without termios2): the rate read back must
  // be the one asked for.
  DCB check{};
  check.DCBlength = sizeof check;
  return GetCommState(file, &check) && check.BaudRate == dcb.BaudRate;
}

bool Win32Backend::set_timeouts(Handle h, const Timeouts &t) {
  HANDLE file = port(h);
  COMMTIMEOUTS ct{t.read_interval, t.read_total_multiplier, t.read_total_constant, t.write_total_multiplier,
                  t.write_total_constant};
  return file != nullptr && SetCommTimeouts(file, &ct) != 0;
}

bool Win32Backend::transmit_char(Handle h, uint8_t byte) {
  HANDLE file = port(h);
  return file != nullptr && TransmitCommChar(file, static_cast<char>(byte)) != 0;
}

bool Win32Backend::read(Handle h, void *buffer, uint32_t n, uint32_t *done) {
  HANDLE file = port(h);
  DWORD got = 0;
  const bool ok = file != nullptr && ReadFile(file, buffer, n, &got, nullptr) != 0;
  if (done) *done = got;
  return ok;
}

bool Win32Backend::write(Handle h, const void *buffer, uint32_t n, uint32_t *done) {
  HANDLE file = port(h);
  DWORD put = 0;
  const bool ok = file != nullptr && WriteFile(file, buffer, n, &put, nullptr) != 0;
  if (done) *done = put;
  return ok;
}

bool Win32Backend::purge(Handle h, uint32_t flags) {
  HANDLE file = port(h);
  return file != nullptr && PurgeComm(file, flags) != 0;
}

bool Win32Backend::escape(Handle h, LineCode code) {
  HANDLE file = port(h);
  return file != nullptr && EscapeCommFunction(file, static_cast<DWORD>(code)) != 0;
}

bool Win32Backend::set_break(Handle h, bool on) {
  HANDLE file = port(h);
  if (file == nullptr) return false;
  return (on ? SetCommBreak(file) : ClearCommBreak(file)) != 0;
}

bool Win32Backend::modem_status(Handle h, uint32_t *bits) {
  HANDLE file = port(h);
  DWORD status = 0;
  if (file == nullptr || !GetCommModemStatus(file, &status)) return false;
  if (bits) *bits = status;
  return true;
}

} // namespace tavio::platform
