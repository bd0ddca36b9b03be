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
  c.baud = dcb.BaudRate;
  c.parity = parity_of(dcb.Parity);
  c.data_bits = dcb.ByteSize;
  c.stop_bits = dcb.StopBits == TWOSTOPBITS ? StopBits::Two
                : dcb.StopBits == ONE5STOPBITS ? StopBits::OneHalf
                                               : StopBits::One;
  c.binary = dcb.fBinary != 0;
  c.dtr_auto = dcb.fDtrControl == DTR_CONTROL_ENABLE;
  c.rts_auto = dcb.fRtsControl == RTS_CONTROL_ENABLE;
  c.abort_on_error = dcb.fAbortOnError != 0;
  c.xon_xoff = dcb.fOutX || dcb.fInX;
  c.cts_handshake = dcb.fOutxCtsFlow != 0;
  c.dsr_handshake = dcb.fOutxDsrFlow != 0;
  return true;
}

bool Win32Backend::apply_settings(const char *text, LineConfig &config) {
  // The library's own parser, as on every platform: the same mode strings
  // are accepted and refused everywhere.
  return parse_settings(text, config);
}

bool Win32Backend::set_config(Handle h, const LineConfig &c) {
  HANDLE file = port(h);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (file == nullptr || !is_supported_baud(c.baud) || !GetCommState(file, &dcb)) return false;
  dcb.BaudRate = c.baud;
  dcb.Parity = parity_code(c.parity);
  dcb.fParity = FALSE; // bytes come as received, line errors are not reported
  dcb.ByteSize = c.data_bits;
  dcb.StopBits = c.stop_bits == StopBits::Two ? TWOSTOPBITS : c.stop_bits == StopBits::OneHalf ? ONE5STOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fDtrControl = c.dtr_auto ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = c.cts_handshake ? RTS_CONTROL_HANDSHAKE : c.rts_auto ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = c.abort_on_error;
  dcb.fOutX = dcb.fInX = c.xon_xoff;
  dcb.fOutxCtsFlow = c.cts_handshake;
  dcb.fOutxDsrFlow = c.dsr_handshake;
  dcb.fDsrSensitivity = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return SetCommState(file, &dcb) != 0;
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
