#include "serial/port_table.h"

#include <cstring>

#include "frame/state.h"
#include "serial/port.h"

namespace tavio {

namespace pf = platform;

namespace {
bool in_range(int32_t index) { return index >= 0 && index < kSlots; }
} // namespace

int32_t IX_OPENCOM(int32_t index, const char *mode) {
  if (!in_range(index)) return 0;
  close_port(DMCOM[index]);
  DMCOM[index] = 0;
  if (!open_port(mode, &DMCOM[index], DMOUT[index], OpenOrder::LinesThenTimeouts)) return 0;
  return DMCOM[index];
}

int32_t IX_CLOSECOM(int32_t index) {
  if (!in_range(index)) return -1;
  close_port(DMCOM[index]);
  DMCOM[index] = 0;
  return 0;
}

int32_t IX_STRLENGTH(int32_t index, int32_t n) {
  if (!in_range(index)) return -1;
  int32_t before = DMLEN[index];
  DMLEN[index] = n;
  return before;
}

void IX_STRREAD(int32_t index, char *buffer) {
  if (!in_range(index) || buffer[0] == 0) return;
  buffer[0] = 0;
  for (int32_t i = 0; i < DMLEN[index]; ++i) {
    int32_t byte = IX_READBYTE(index);
    if (byte == -1) {
      std::memcpy(buffer, "Fehler", 7);
      return;
    }
    buffer[i] = static_cast<char>(byte);
  }
  if (DMLEN[index] > 0) buffer[DMLEN[index]] = 0;
}

int32_t IX_TIMEOUT(int32_t index, int32_t t) {
  if (!in_range(index)) return -1;
  return install_timeouts(DMCOM[index], &DMOUT[index], timeout_set(t), t);
}

int32_t IX_TIMEOUTOLD(int32_t index, int32_t t) {
  if (!in_range(index)) return -1;
  return install_timeouts(DMCOM[index], &DMOUT[index], timeout_old_set(t), t);
}

int32_t IX_SENDBYTE(int32_t index, int32_t value) {
  if (!in_range(index)) return -1;
  if (DMCOM[index] == 0) return 0; // empty slot: no pause
  return send_byte(DMCOM[index], value);
}

int32_t IX_READBYTE(int32_t index) {
  if (!in_range(index)) return -1;
  if (DMCOM[index] == 0) return 0; // empty slot: a zero byte, at once
  return receive_byte(DMCOM[index]);
}

int32_t IX_SENDSTRING(int32_t index, const char *text) {
  if (!in_range(index)) return 0;
  return write_string(DMCOM[index], text);
}

int32_t IX_READSTRING(int32_t index, char *buffer) {
  if (!in_range(index)) return 0;
  return read_string(DMCOM[index], buffer);
}

int32_t IX_RTS(int32_t index, int32_t flag) {
  if (!in_range(index)) return 0;
  return set_line(DMCOM[index], flag, pf::LineCode::SetRts, pf::LineCode::ClrRts);
}

int32_t IX_DTR(int32_t index, int32_t flag) {
  if (!in_range(index)) return 0;
  return set_line(DMCOM[index], flag, pf::LineCode::SetDtr, pf::LineCode::ClrDtr);
}

int32_t IX_TXD(int32_t index, int32_t flag) {
  if (!in_range(index)) return 0;
  return set_break(DMCOM[index], flag);
}

int32_t IX_CTS(int32_t index) { return in_range(index) ? modem_bit(DMCOM[index], pf::kModemCts) : 0; }
int32_t IX_DCD(int32_t index) { return in_range(index) ? modem_bit(DMCOM[index], pf::kModemRlsd) : 0; }
int32_t IX_DSR(int32_t index) { return in_range(index) ? modem_bit(DMCOM[index], pf::kModemDsr) : 0; }
int32_t IX_RI(int32_t index) { return in_range(index) ? modem_bit(DMCOM[index], pf::kModemRing) : 0; }

} // namespace tavio
