// The port table: eight further ports in slots 0 to 7, independent of the
// primary port and of the interface code.
#pragma once

#include <cstdint>

namespace tavio {

int32_t IX_OPENCOM(int32_t index, const char *mode);
int32_t IX_CLOSECOM(int32_t index);
int32_t IX_STRLENGTH(int32_t index, int32_t n);
void IX_STRREAD(int32_t index, char *buffer);
int32_t IX_TIMEOUT(int32_t index, int32_t t);
int32_t IX_TIMEOUTOLD(int32_t index, int32_t t);
int32_t IX_SENDBYTE(int32_t index, int32_t value);
int32_t IX_READBYTE(int32_t index);
int32_t IX_SENDSTRING(int32_t index, const char *text);
int32_t IX_READSTRING(int32_t index, char *buffer);
int32_t IX_RTS(int32_t index, int32_t flag);
int32_t IX_DTR(int32_t index, int32_t flag);
int32_t IX_TXD(int32_t index, int32_t flag);
int32_t IX_CTS(int32_t index);
int32_t IX_DCD(int32_t index);
int32_t IX_DSR(int32_t index);
int32_t IX_RI(int32_t index);

} // namespace tavio
