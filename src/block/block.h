// Block measurement on the Sios and the Zelle: definition, header,
// readout, program download, raw data files and the text table.
#pragma once

#include <cstdint>

namespace tavio {

inline constexpr int32_t kSiosBufferSize = 30720;
inline constexpr int32_t kSiosHeaderSize = 16;
inline constexpr int32_t kZelleBufferSize = 6146;
inline constexpr int32_t kZelleHeaderSize = 10;

int32_t BLOCKDEF(int32_t count, int32_t channels, int32_t interval);
void BLOCKTRIGGER(int32_t value, int32_t mode);
int32_t BLOCKSTART();
int32_t MESSUNGEN(const uint8_t *buffer);
int32_t KANALZAHL(const uint8_t *buffer);
int32_t ZEITINTERVALL(const uint8_t *buffer);
int32_t BLOCKZAHL(const uint8_t *buffer);
int32_t DATENMENGE(const uint8_t *buffer);
int32_t BLOCKINFO(uint8_t *buffer, int32_t blocks);
int32_t BLOCKEIN(uint8_t *buffer, int32_t blocks);
int32_t PROLADEN(const char *path);
int32_t PROSTART();
int32_t DATENSPEICHERN(const char *path, const uint8_t *buffer);
int32_t DATENLADEN(const char *path, uint8_t *buffer);
int32_t TABELLESPEICHERN(char *path, const uint8_t *buffer);

} // namespace tavio
