#include "block/block.h"
// Placeholder until block measurement lands: no interface is served.
namespace tavio {
int32_t BLOCKDEF(int32_t, int32_t, int32_t) { return -8; }
void BLOCKTRIGGER(int32_t, int32_t) {}
int32_t BLOCKSTART() { return 0; }
int32_t MESSUNGEN(const uint8_t *) { return 0; }
int32_t KANALZAHL(const uint8_t *) { return 0; }
int32_t ZEITINTERVALL(const uint8_t *) { return -8; }
int32_t BLOCKZAHL(const uint8_t *) { return -8; }
int32_t DATENMENGE(const uint8_t *) { return 0; }
int32_t BLOCKINFO(uint8_t *, int32_t) { return -8; }
int32_t BLOCKEIN(uint8_t *, int32_t) { return -8; }
int32_t PROLADEN(const char *) { return -1; }
int32_t PROSTART() { return -1; }
int32_t DATENSPEICHERN(const char *, const uint8_t *) { return -1; }
int32_t DATENLADEN(const char *, uint8_t *) { return -1; }
int32_t TABELLESPEICHERN(const char *, const uint8_t *) { return -1; }
}
