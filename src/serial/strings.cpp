// Strings, purges, lines and modem status of the primary port.
#include <cstring>

#include "frame/state.h"
#include "serial/line.h"
#include "serial/port.h"

namespace tavio {

namespace pf = platform;

int32_t FLUSHIN() { return line::ports().purge(COM, pf::kPurgeRxClear) ? 1 : 0; }
int32_t FLUSHOUT() { return line::ports().purge(COM, pf::kPurgeTxClear) ? 1 : 0; }

int32_t SENDSTRING(const char *text) { return write_string(COM, text); }
int32_t READSTRING(char *buffer) { return read_string(COM, buffer); }

int32_t CTS() { return modem_bit(COM, pf::kModemCts); }
int32_t DSR() { return modem_bit(COM, pf::kModemDsr); }
int32_t RI() { return modem_bit(COM, pf::kModemRing); }
int32_t DCD() { return modem_bit(COM, pf::kModemRlsd); }

int32_t TXD(int32_t flag) { return set_break(COM, flag); }
int32_t RTS(int32_t flag) { return set_line(COM, flag, pf::LineCode::SetRts, pf::LineCode::ClrRts); }
int32_t DTR(int32_t flag) { return set_line(COM, flag, pf::LineCode::SetDtr, pf::LineCode::ClrDtr); }

int32_t STRLENGTH(int32_t n) {
  int32_t before = READLENGTH;
  READLENGTH = n;
  return before;
}

void STRREAD(char *buffer) {
  buffer[0] = 0;
  for (int32_t i = 0; i < READLENGTH; ++i) {
    int32_t byte = EMPFANG();
    if (byte == -1) {
      std::memcpy(buffer, "Fehler", 7);
      return;
    }
    buffer[i] = static_cast<char>(byte);
  }
  if (READLENGTH > 0) buffer[READLENGTH] = 0;
}

} // namespace tavio
