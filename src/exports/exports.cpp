// The export table: the 83 functions that applications call, by name. Each
// one hands its arguments to the library's own operation; this is also where
// a null text or buffer is turned away with the function's failure value.
#include "tavio32.h"

#include "block/block.h"
#include "frame/state.h"
#include "frame/frame.h"
#include "hardware/hardware.h"
#include "serial/port.h"
#include "serial/port_table.h"

namespace {
uint8_t *bytes(char *p) { return reinterpret_cast<uint8_t *>(p); }
} // namespace

extern "C" {

// 1-19: primary port
int32_t OPENCOM(char *mode) { return mode ? tavio::OPEN_COM(mode) : 0; }
void CLOSECOM(void) { tavio::CLOSECOM(); }
int32_t FLUSHIN(void) { return tavio::FLUSHIN(); }
int32_t FLUSHOUT(void) { return tavio::FLUSHOUT(); }
int32_t SENDBYTE(int32_t value) { return tavio::SENDE(value); }
int32_t READBYTE(void) { return tavio::EMPFANG(); }
int32_t SENDSTRING(char *text) { return text ? tavio::SENDSTRING(text) : 0; }
int32_t READSTRING(char *buffer) { return buffer ? tavio::READSTRING(buffer) : 0; }
int32_t TIMEOUT(int32_t t) { return tavio::TIMEOUT(t); }
int32_t TIMEOUTOLD(int32_t t) { return tavio::TIMEOUTOLD(t); }
int32_t CTS(void) { return tavio::CTS(); }
int32_t DCD(void) { return tavio::DCD(); }
int32_t DSR(void) { return tavio::DSR(); }
int32_t RI(void) { return tavio::RI(); }
int32_t TXD(int32_t flag) { return tavio::TXD(flag); }
int32_t RTS(int32_t flag) { return tavio::RTS(flag); }
int32_t DTR(int32_t flag) { return tavio::DTR(flag); }
int32_t STRLENGTH(int32_t n) { return tavio::STRLENGTH(n); }
void STRREAD(char *buffer) {
  if (buffer) tavio::STRREAD(buffer);
}

// 20-36: port table
int32_t IX_OPENCOM(int32_t index, char *mode) { return mode ? tavio::IX_OPENCOM(index, mode) : 0; }
int32_t IX_CLOSECOM(int32_t index) { return tavio::IX_CLOSECOM(index); }
int32_t IX_STRLENGTH(int32_t index, int32_t n) { return tavio::IX_STRLENGTH(index, n); }
void IX_STRREAD(int32_t index, char *buffer) {
  if (buffer) tavio::IX_STRREAD(index, buffer);
}
int32_t IX_TIMEOUT(int32_t index, int32_t t) { return tavio::IX_TIMEOUT(index, t); }
int32_t IX_TIMEOUTOLD(int32_t index, int32_t t) { return tavio::IX_TIMEOUTOLD(index, t); }
int32_t IX_SENDBYTE(int32_t index, int32_t value) { return tavio::IX_SENDBYTE(index, value); }
int32_t IX_READBYTE(int32_t index) { return tavio::IX_READBYTE(index); }
int32_t IX_SENDSTRING(int32_t index, char *text) { return text ? tavio::IX_SENDSTRING(index, text) : 0; }
int32_t IX_READSTRING(int32_t index, char *buffer) { return buffer ? tavio::IX_READSTRING(index, buffer) : 0; }
int32_t IX_RTS(int32_t index, int32_t flag) { return tavio::IX_RTS(index, flag); }
int32_t IX_DTR(int32_t index, int32_t flag) { return tavio::IX_DTR(index, flag); }
int32_t IX_TXD(int32_t index, int32_t flag) { return tavio::IX_TXD(index, flag); }
int32_t IX_CTS(int32_t index) { return tavio::IX_CTS(index); }
int32_t IX_DCD(int32_t index) { return tavio::IX_DCD(index); }
int32_t IX_DSR(int32_t index) { return tavio::IX_DSR(index); }
int32_t IX_RI(int32_t index) { return tavio::IX_RI(index); }

// 37-50: interface selection, I/O, detection
int32_t SETHARD(int32_t code) { return tavio::SETHARD(code); }
int32_t GETHARD(void) { return tavio::GETHARD(); }
int32_t INIT(int32_t port) { return tavio::INIT(port); }
int32_t INITSIOS(int32_t port) { return tavio::INITSIOS(port); }
int32_t INITCOMPULAB(int32_t port) { return tavio::INITCOMPULAB(port); }
int32_t INITZELLE(int32_t port) { return tavio::INITZELLE(port); }
int32_t INITCCONTROL(int32_t port) { return tavio::INITCCONTROL(port); }
int32_t INITCAMFACE(int32_t port) { return tavio::INITCAMFACE(port); }
int32_t GETCOM(void) { return tavio::GETCOM(); }
int32_t DOUT(int32_t value) { return tavio::DEZAUS(value); }
int32_t DIN(void) { return tavio::DEZEIN(); }
int32_t AIN(int32_t channel) { return tavio::AEIN(channel); }
int32_t AOUT(int32_t channel, int32_t value) { return tavio::AAUS(channel, value); }
int32_t FINDHARD(int32_t flag) { return tavio::FINDHARD(flag); }

// 51-53: keyboard
int32_t KBRESET(void) { return tavio::KBRESET(); }
int32_t KBHIT(void) { return tavio::KBHIT(); }
int32_t TASTE(void) { return tavio::TASTE(); }

// 54-62: Zelle and Sios commands
int32_t UBAT(void) { return tavio::ZUBAT(); }
int32_t TASTER(void) { return tavio::ZTASTER(); }
int32_t STAUS(int32_t value) { return tavio::ZSTAUS(value); }
int32_t STEIN(void) { return tavio::ZSTEIN(); }
int32_t SYSTEMRESET(void) { return tavio::ZSYSTEMRESET(); }
int32_t REGAUS(int32_t reg, int32_t value) { return tavio::ZREGAUS(reg, value); }
int32_t REGEIN(int32_t reg) { return tavio::ZREGEIN(reg); }
int32_t RAMAUS(int32_t value, int32_t address) { return tavio::ZRAMAUS(address, value); }
int32_t RAMEIN(int32_t address) { return tavio::ZRAMEIN(address); }

// 63-77: block measurement
int32_t BLOCKDEF(int32_t count, int32_t channels, int32_t interval) {
  return tavio::BLOCKDEF(count, channels, interval);
}
int32_t BLOCKSTART(void) { return tavio::BLOCKSTART(); }
void BLOCKTRIGGER(int32_t value, int32_t mode) { tavio::BLOCKTRIGGER(value, mode); }
int32_t MESSUNGEN(char *buffer) { return buffer ? tavio::MESSUNGEN(bytes(buffer)) : -1; }
int32_t KANALZAHL(char *buffer) { return buffer ? tavio::KANALZAHL(bytes(buffer)) : -1; }
int32_t ZEITINTERVALL(char *buffer) { return buffer ? tavio::ZEITINTERVALL(bytes(buffer)) : -1; }
int32_t BLOCKINFO(char *buffer, int32_t blocks) { return buffer ? tavio::BLOCKINFO(bytes(buffer), blocks) : -1; }
int32_t BLOCKZAHL(char *buffer) { return buffer ? tavio::BLOCKZAHL(bytes(buffer)) : -1; }
int32_t DATENMENGE(char *buffer) { return buffer ? tavio::DATENMENGE(bytes(buffer)) : -1; }
int32_t BLOCKEIN(char *buffer, int32_t blocks) { return buffer ? tavio::BLOCKEIN(bytes(buffer), blocks) : -1; }
int32_t PROLADEN(char *path) { return path ? tavio::PROLADEN(path) : -1; }
int32_t PROSTART(void) { return tavio::PROSTART(); }
int32_t DATENSPEICHERN(char *path, char *buffer) {
  return path && buffer ? tavio::DATENSPEICHERN(path, bytes(buffer)) : -1;
}
int32_t DATENLADEN(char *path, char *buffer) { return path && buffer ? tavio::DATENLADEN(path, bytes(buffer)) : -1; }
int32_t TABELLESPEICHERN(char *path, char *buffer) {
  return path && buffer ? tavio::TABELLESPEICHERN(path, bytes(buffer)) : -1;
}

// 78-83: timing and version
uint32_t DELAY(uint32_t ms) { return tavio::DELAY(ms); }
uint32_t TIMEREAD(void) { return tavio::TIMEREAD(); }
uint32_t TIMEINIT(void) { return tavio::TIMEINIT(); }
double TIME(void) { return tavio::TIME(); }
int32_t VERSION(int32_t flag) { return tavio::VERSION(flag); }
int32_t RC(void) { return tavio::RC(); }

void tavio32_set_message_handler(tavio32_message_handler handler) { tavio::set_message_handler(handler); }

void tavio32_set_readout_progress(tavio32_readout_progress progress, void *context) {
  tavio::READPROGRESS = progress;
  tavio::READPROGRESSCONTEXT = context;
}

} // extern "C"
