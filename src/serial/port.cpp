#include "serial/port.h"

#include <cstring>
#include <string>

#include "frame/frame.h"
#include "frame/state.h"
#include "serial/line.h"

namespace tavio {

namespace pf = platform;

pf::Timeouts timeout_set(int32_t t) {
  uint32_t u = static_cast<uint32_t>(t);
  return {u, 1, u, 1, u};
}

pf::Timeouts timeout_old_set(int32_t t) {
  uint32_t u = static_cast<uint32_t>(t);
  return {0, 1, u, 10, 20};
}

bool open_port(const char *mode, Handle *port, int32_t timeout_ms, OpenOrder order) {
  pf::Backend &b = line::ports();
  // Split by position: the device name is characters 1 to 4, character 5 is
  // skipped unseen, the settings start at character 6. A shorter mode string
  // gives a shorter name and an empty settings text.
  char name[5] = {};
  size_t len = std::strlen(mode);
  std::memcpy(name, mode, len < 4 ? len : 4);
  const char *settings = len >= 5 ? mode + 5 : "";

  std::string path; // a network port's address, or a local device
  Handle h = b.device_path(name, path) ? b.open_device(path.c_str()) : pf::kInvalidHandle;
  *port = h;
  if (h == pf::kInvalidHandle) return false;
  b.request_low_latency(h); // result ignored: not every device offers it
  b.clear_errors(h);
  pf::LineConfig config;
  b.get_config(h, config); // a device that is no serial port fails below
  config.binary = true;
  config.dtr_auto = config.dtr_handshake = false; // DTR and RTS: neither automatic nor handshake
  config.rts_auto = config.rts_handshake = config.rts_toggle = false;
  config.abort_on_error = false;
  if (!b.apply_settings(settings, config)) return false;
  if (!b.set_config(h, config)) return false;
  if (order == OpenOrder::TimeoutsThenLines && !b.set_timeouts(h, timeout_set(timeout_ms))) return false;
  b.escape(h, pf::LineCode::ClrRts);
  b.escape(h, pf::LineCode::SetDtr);
  if (order == OpenOrder::LinesThenTimeouts && !b.set_timeouts(h, timeout_set(timeout_ms))) return false;
  return true;
}

void close_port(Handle h) {
  if (is_open(h)) line::ports().close(h);
}

int32_t send_byte(Handle h, int32_t value) {
  pf::Backend &b = line::ports();
  b.clear_errors(h);
  bool sent = b.transmit_char(h, static_cast<uint8_t>(value & 0xFF));
  DELAY(2);
  return sent ? 1 : 0;
}

int32_t receive_byte(Handle h) {
  pf::Backend &b = line::ports();
  b.clear_errors(h);
  uint8_t byte = 0;
  uint32_t count = 0;
  b.read(h, &byte, 1, &count);
  return count == 0 ? -1 : byte;
}

int32_t write_string(Handle h, const char *text) {
  uint32_t n = static_cast<uint32_t>(std::strlen(text));
  if (n == 0) return 0;
  uint32_t done = 0;
  line::ports().write(h, text, n, &done);
  return static_cast<int32_t>(done);
}

int32_t read_string(Handle h, char *buffer) {
  uint32_t n = static_cast<uint32_t>(std::strlen(buffer));
  if (n == 0) return 0;
  uint32_t done = 0;
  line::ports().read(h, buffer, n, &done);
  return static_cast<int32_t>(done);
}

int32_t set_line(Handle h, int32_t flag, pf::LineCode on, pf::LineCode off) {
  return line::ports().escape(h, flag != 0 ? on : off) ? 1 : 0;
}

int32_t set_break(Handle h, int32_t flag) { return line::ports().set_break(h, flag != 0) ? 1 : 0; }

int32_t modem_bit(Handle h, uint32_t bit) {
  uint32_t status = 0; // a status that cannot be read reads as all lines off
  if (!line::ports().modem_status(h, &status)) return 0;
  return (status & bit) ? 1 : 0;
}

// --- the primary port ---

void CLOSE_COM() {
  close_port(COM);
  COM = 0;
  HARD = 0;
}

int32_t OPEN_COM(const char *mode) {
  CLOSE_COM();
  return open_port(mode, &COM, READTIME, OpenOrder::TimeoutsThenLines) ? 1 : 0;
}

void CLOSECOM() {
  DELAY(1);
  CLOSE_COM();
}

int32_t SENDE(int32_t value) { return send_byte(COM, value); }

int32_t EMPFANG() { return receive_byte(COM); }

int32_t install_timeouts(Handle h, int32_t *value, const pf::Timeouts &set, int32_t t) {
  if (!line::ports().set_timeouts(h, set)) return -1;
  int32_t before = *value;
  *value = t;
  return before;
}

int32_t TIMEOUT(int32_t t) { return install_timeouts(COM, &READTIME, timeout_set(t), t); }
int32_t TIMEOUTOLD(int32_t t) { return install_timeouts(COM, &READTIME, timeout_old_set(t), t); }

int32_t GETCOM() { return COM; }

} // namespace tavio
