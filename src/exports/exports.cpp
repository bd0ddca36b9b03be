// The export table: the 83 functions that applications call, by name. Each
// one hands its arguments to the library's own operation; this is also where
// a null text or buffer is turned away with the function's failure value.
// No C++ exception leaves an export: callers are C, Visual Basic and Delphi
// programs that cannot catch one, so each export catches everything and
// returns its failure value instead.
#include "tavio32.h"

#include "block/block.h"
#include "frame/state.h"
#include "frame/frame.h"
#include "hardware/hardware.h"
#include "serial/port.h"
#include "serial/port_table.h"

namespace {
uint8_t *bytes(char *p) { return reinterpret_cast<uint8_t *>(p); }

template <typename R, typename F> R guarded(R failure, F &&call) noexcept {
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

template <typename F> void guarded(F &&call) noexcept {
  try {
    call();
  } catch (...) {
  }
}
} // namespace

extern "C" {

// 1-19: primary port
int32_t TAVIO32_CALL OPENCOM(char *mode) {
  return guarded<int32_t>(0, [&] { return mode ? tavio::OPEN_COM(mode) : 0; });
}
void TAVIO32_CALL CLOSECOM(void) {
  guarded([&] { tavio::CLOSECOM(); });
}
int32_t TAVIO32_CALL FLUSHIN(void) {
  return guarded<int32_t>(0, [&] { return tavio::FLUSHIN(); });
}
int32_t TAVIO32_CALL FLUSHOUT(void) {
  return guarded<int32_t>(0, [&] { return tavio::FLUSHOUT(); });
}
int32_t TAVIO32_CALL SENDBYTE(int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::SENDE(value); });
}
int32_t TAVIO32_CALL READBYTE(void) {
  return guarded<int32_t>(-1, [&] { return tavio::EMPFANG(); });
}
int32_t TAVIO32_CALL SENDSTRING(char *text) {
  return guarded<int32_t>(0, [&] { return text ? tavio::SENDSTRING(text) : 0; });
}
int32_t TAVIO32_CALL READSTRING(char *buffer) {
  return guarded<int32_t>(0, [&] { return buffer ? tavio::READSTRING(buffer) : 0; });
}
int32_t TAVIO32_CALL TIMEOUT(int32_t t) {
  return guarded<int32_t>(-1, [&] { return tavio::TIMEOUT(t); });
}
int32_t TAVIO32_CALL TIMEOUTOLD(int32_t t) {
  return guarded<int32_t>(-1, [&] { return tavio::TIMEOUTOLD(t); });
}
int32_t TAVIO32_CALL CTS(void) {
  return guarded<int32_t>(0, [&] { return tavio::CTS(); });
}
int32_t TAVIO32_CALL DCD(void) {
  return guarded<int32_t>(0, [&] { return tavio::DCD(); });
}
int32_t TAVIO32_CALL DSR(void) {
  return guarded<int32_t>(0, [&] { return tavio::DSR(); });
}
int32_t TAVIO32_CALL RI(void) {
  return guarded<int32_t>(0, [&] { return tavio::RI(); });
}
int32_t TAVIO32_CALL TXD(int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::TXD(flag); });
}
int32_t TAVIO32_CALL RTS(int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::RTS(flag); });
}
int32_t TAVIO32_CALL DTR(int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::DTR(flag); });
}
int32_t TAVIO32_CALL STRLENGTH(int32_t n) {
  return guarded<int32_t>(-1, [&] { return tavio::STRLENGTH(n); });
}
void TAVIO32_CALL STRREAD(char *buffer) {
  guarded([&] { if (buffer) tavio::STRREAD(buffer); });
}

// 20-36: port table
int32_t TAVIO32_CALL IX_OPENCOM(int32_t index, char *mode) {
  return guarded<int32_t>(0, [&] { return mode ? tavio::IX_OPENCOM(index, mode) : 0; });
}
int32_t TAVIO32_CALL IX_CLOSECOM(int32_t index) {
  return guarded<int32_t>(-1, [&] { return tavio::IX_CLOSECOM(index); });
}
int32_t TAVIO32_CALL IX_STRLENGTH(int32_t index, int32_t n) {
  return guarded<int32_t>(-1, [&] { return tavio::IX_STRLENGTH(index, n); });
}
void TAVIO32_CALL IX_STRREAD(int32_t index, char *buffer) {
  guarded([&] { if (buffer) tavio::IX_STRREAD(index, buffer); });
}
int32_t TAVIO32_CALL IX_TIMEOUT(int32_t index, int32_t t) {
  return guarded<int32_t>(-1, [&] { return tavio::IX_TIMEOUT(index, t); });
}
int32_t TAVIO32_CALL IX_TIMEOUTOLD(int32_t index, int32_t t) {
  return guarded<int32_t>(-1, [&] { return tavio::IX_TIMEOUTOLD(index, t); });
}
int32_t TAVIO32_CALL IX_SENDBYTE(int32_t index, int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::IX_SENDBYTE(index, value); });
}
int32_t TAVIO32_CALL IX_READBYTE(int32_t index) {
  return guarded<int32_t>(-1, [&] { return tavio::IX_READBYTE(index); });
}
int32_t TAVIO32_CALL IX_SENDSTRING(int32_t index, char *text) {
  return guarded<int32_t>(0, [&] { return text ? tavio::IX_SENDSTRING(index, text) : 0; });
}
int32_t TAVIO32_CALL IX_READSTRING(int32_t index, char *buffer) {
  return guarded<int32_t>(0, [&] { return buffer ? tavio::IX_READSTRING(index, buffer) : 0; });
}
int32_t TAVIO32_CALL IX_RTS(int32_t index, int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::IX_RTS(index, flag); });
}
int32_t TAVIO32_CALL IX_DTR(int32_t index, int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::IX_DTR(index, flag); });
}
int32_t TAVIO32_CALL IX_TXD(int32_t index, int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::IX_TXD(index, flag); });
}
int32_t TAVIO32_CALL IX_CTS(int32_t index) {
  return guarded<int32_t>(0, [&] { return tavio::IX_CTS(index); });
}
int32_t TAVIO32_CALL IX_DCD(int32_t index) {
  return guarded<int32_t>(0, [&] { return tavio::IX_DCD(index); });
}
int32_t TAVIO32_CALL IX_DSR(int32_t index) {
  return guarded<int32_t>(0, [&] { return tavio::IX_DSR(index); });
}
int32_t TAVIO32_CALL IX_RI(int32_t index) {
  return guarded<int32_t>(0, [&] { return tavio::IX_RI(index); });
}

// 37-50: interface selection, I/O, detection
int32_t TAVIO32_CALL SETHARD(int32_t code) {
  return guarded<int32_t>(-1, [&] { return tavio::SETHARD(code); });
}
int32_t TAVIO32_CALL GETHARD(void) {
  return guarded<int32_t>(0, [&] { return tavio::GETHARD(); });
}
int32_t TAVIO32_CALL INIT(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INIT(port); });
}
int32_t TAVIO32_CALL INITSIOS(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INITSIOS(port); });
}
int32_t TAVIO32_CALL INITCOMPULAB(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INITCOMPULAB(port); });
}
int32_t TAVIO32_CALL INITZELLE(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INITZELLE(port); });
}
int32_t TAVIO32_CALL INITCCONTROL(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INITCCONTROL(port); });
}
int32_t TAVIO32_CALL INITCAMFACE(int32_t port) {
  return guarded<int32_t>(0, [&] { return tavio::INITCAMFACE(port); });
}
int32_t TAVIO32_CALL GETCOM(void) {
  return guarded<int32_t>(0, [&] { return tavio::GETCOM(); });
}
int32_t TAVIO32_CALL DOUT(int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::DEZAUS(value); });
}
int32_t TAVIO32_CALL DIN(void) {
  return guarded<int32_t>(-1, [&] { return tavio::DEZEIN(); });
}
int32_t TAVIO32_CALL AIN(int32_t channel) {
  return guarded<int32_t>(-1, [&] { return tavio::AEIN(channel); });
}
int32_t TAVIO32_CALL AOUT(int32_t channel, int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::AAUS(channel, value); });
}
int32_t TAVIO32_CALL FINDHARD(int32_t flag) {
  return guarded<int32_t>(0, [&] { return tavio::FINDHARD(flag); });
}

// 51-53: keyboard
int32_t TAVIO32_CALL KBRESET(void) {
  return guarded<int32_t>(0, [&] { return tavio::KBRESET(); });
}
int32_t TAVIO32_CALL KBHIT(void) {
  return guarded<int32_t>(0, [&] { return tavio::KBHIT(); });
}
int32_t TAVIO32_CALL TASTE(void) {
  return guarded<int32_t>(0, [&] { return tavio::TASTE(); });
}

// 54-62: Zelle and Sios commands
int32_t TAVIO32_CALL UBAT(void) {
  return guarded<int32_t>(-1, [&] { return tavio::ZUBAT(); });
}
int32_t TAVIO32_CALL TASTER(void) {
  return guarded<int32_t>(-1, [&] { return tavio::ZTASTER(); });
}
int32_t TAVIO32_CALL STAUS(int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::ZSTAUS(value); });
}
int32_t TAVIO32_CALL STEIN(void) {
  return guarded<int32_t>(-1, [&] { return tavio::ZSTEIN(); });
}
int32_t TAVIO32_CALL SYSTEMRESET(void) {
  return guarded<int32_t>(0, [&] { return tavio::ZSYSTEMRESET(); });
}
int32_t TAVIO32_CALL REGAUS(int32_t reg, int32_t value) {
  return guarded<int32_t>(0, [&] { return tavio::ZREGAUS(reg, value); });
}
int32_t TAVIO32_CALL REGEIN(int32_t reg) {
  return guarded<int32_t>(-1, [&] { return tavio::ZREGEIN(reg); });
}
int32_t TAVIO32_CALL RAMAUS(int32_t value, int32_t address) {
  return guarded<int32_t>(0, [&] { return tavio::ZRAMAUS(address, value); });
}
int32_t TAVIO32_CALL RAMEIN(int32_t address) {
  return guarded<int32_t>(-1, [&] { return tavio::ZRAMEIN(address); });
}

// 63-77: block measurement
int32_t TAVIO32_CALL BLOCKDEF(int32_t count, int32_t channels, int32_t interval) {
  return guarded<int32_t>(0, [&] { return tavio::BLOCKDEF(count, channels, interval); });
}
int32_t TAVIO32_CALL BLOCKSTART(void) {
  return guarded<int32_t>(-1, [&] { return tavio::BLOCKSTART(); });
}
void TAVIO32_CALL BLOCKTRIGGER(int32_t value, int32_t mode) {
  guarded([&] { tavio::BLOCKTRIGGER(value, mode); });
}
int32_t TAVIO32_CALL MESSUNGEN(char *buffer) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::MESSUNGEN(bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL KANALZAHL(char *buffer) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::KANALZAHL(bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL ZEITINTERVALL(char *buffer) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::ZEITINTERVALL(bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL BLOCKINFO(char *buffer, int32_t blocks) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::BLOCKINFO(bytes(buffer), blocks) : -1; });
}
int32_t TAVIO32_CALL BLOCKZAHL(char *buffer) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::BLOCKZAHL(bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL DATENMENGE(char *buffer) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::DATENMENGE(bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL BLOCKEIN(char *buffer, int32_t blocks) {
  return guarded<int32_t>(-1, [&] { return buffer ? tavio::BLOCKEIN(bytes(buffer), blocks) : -1; });
}
int32_t TAVIO32_CALL PROLADEN(char *path) {
  return guarded<int32_t>(-1, [&] { return path ? tavio::PROLADEN(path) : -1; });
}
int32_t TAVIO32_CALL PROSTART(void) {
  return guarded<int32_t>(-1, [&] { return tavio::PROSTART(); });
}
int32_t TAVIO32_CALL DATENSPEICHERN(char *path, char *buffer) {
  return guarded<int32_t>(-1, [&] { return path && buffer ? tavio::DATENSPEICHERN(path, bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL DATENLADEN(char *path, char *buffer) {
  return guarded<int32_t>(-1, [&] { return path && buffer ? tavio::DATENLADEN(path, bytes(buffer)) : -1; });
}
int32_t TAVIO32_CALL TABELLESPEICHERN(char *path, char *buffer) {
  return guarded<int32_t>(-1, [&] { return path && buffer ? tavio::TABELLESPEICHERN(path, bytes(buffer)) : -1; });
}

// 78-83: timing and version
uint32_t TAVIO32_CALL DELAY(uint32_t ms) {
  return guarded<uint32_t>(0u, [&] { return tavio::DELAY(ms); });
}
uint32_t TAVIO32_CALL TIMEREAD(void) {
  return guarded<uint32_t>(0u, [&] { return tavio::TIMEREAD(); });
}
uint32_t TAVIO32_CALL TIMEINIT(void) {
  return guarded<uint32_t>(0u, [&] { return tavio::TIMEINIT(); });
}
double TAVIO32_CALL TIME(void) {
  return guarded<double>(0.0, [&] { return tavio::TIME(); });
}
int32_t TAVIO32_CALL VERSION(int32_t flag) {
  return guarded<int32_t>(tavio::kVersion, [&] { return tavio::VERSION(flag); });
}
int32_t TAVIO32_CALL RC(void) {
  return guarded<int32_t>(0, [&] { return tavio::RC(); });
}

void tavio32_set_message_handler(tavio32_message_handler handler) {
  guarded([&] { tavio::set_message_handler(handler); });
}

void tavio32_set_readout_progress(tavio32_readout_progress progress, void *context) {
  tavio::READPROGRESS = progress;
  tavio::READPROGRESSCONTEXT = context;
}

} // extern "C"
