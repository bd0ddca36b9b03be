// The primary port and the port operations that the primary port and the
// port table share.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tavio {

using platform::Handle;

// --- shared by the primary port and the port table ---

// The two time-out sets, for the time-out value t in ms.
platform::Timeouts timeout_set(int32_t t);     // {t, 1, t, 1, t}
platform::Timeouts timeout_old_set(int32_t t); // {0, 1, t, 10, 20}

// Installs a time-out set on h; on success stores t in *value and returns
// what it held, else returns -1 and leaves it.
int32_t install_timeouts(Handle h, int32_t *value, const platform::Timeouts &set, int32_t t);

// Where the time-outs are installed relative to the RTS/DTR line setting.
enum class OpenOrder { TimeoutsThenLines, LinesThenTimeouts };

// Opens the device named by characters 1 to 4 of mode and configures it from
// the settings text that starts at character 6: binary mode, no automatic
// RTS/DTR, no abort on error, the settings, the TIMEOUT set with timeout_ms,
// RTS dropped and DTR raised. The handle (or kInvalidHandle when the device
// did not open) is stored in *port before configuring, so that a device
// whose configuration was refused stays open there. True when all went well.
bool open_port(const char *mode, Handle *port, int32_t timeout_ms, OpenOrder order);
// Whether a handle stands for an open device (not 0, not a failed open).
inline bool is_open(Handle h) { return h != platform::kNoHandle && h != platform::kInvalidHandle; }
// Closes an open device; nothing for none or a failed open.
void close_port(Handle h);
// One byte ahead of queued output, then DELAY(2); 1 taken, 0 not.
int32_t send_byte(Handle h, int32_t value);
// One byte under the installed time-outs: 0..255, or -1.
int32_t receive_byte(Handle h);
// One synchronous transfer of strlen(text) bytes; the count moved.
int32_t write_string(Handle h, const char *text);
int32_t read_string(Handle h, char *buffer);
// Line control, break and modem status; 1 done, 0 failed.
int32_t set_line(Handle h, int32_t flag, platform::LineCode on, platform::LineCode off);
int32_t set_break(Handle h, int32_t flag);
int32_t modem_bit(Handle h, uint32_t bit);

// --- the primary port ---
int32_t OPEN_COM(const char *mode);
void CLOSE_COM();
int32_t SENDE(int32_t value);
int32_t EMPFANG();
int32_t TIMEOUT(int32_t t);
int32_t TIMEOUTOLD(int32_t t);
int32_t GETCOM();
void CLOSECOM();

// --- primary port strings and lines ---
int32_t FLUSHIN();
int32_t FLUSHOUT();
int32_t SENDSTRING(const char *text);
int32_t READSTRING(char *buffer);
int32_t CTS();
int32_t DCD();
int32_t DSR();
int32_t RI();
int32_t TXD(int32_t flag);
int32_t RTS(int32_t flag);
int32_t DTR(int32_t flag);
int32_t STRLENGTH(int32_t n);
void STRREAD(char *buffer);

} // namespace tavio
