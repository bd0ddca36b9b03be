// Block definition, triggers and start, and the header functions that read a
// block header out of a caller's block buffer.
#include "block/block.h"

#include "block/commands.h"
#include "frame/frame.h"
#include "serial/port.h"

namespace tavio {

using namespace block;

int32_t BLOCKDEF(int32_t count, int32_t channels, int32_t interval) {
  uint8_t channel_byte[4];
  int32_t recorded = 0;
  for (int n = 1; n <= 4; ++n) {
    bool on = (channels >> (n - 1)) & 1;
    channel_byte[n - 1] = on ? static_cast<uint8_t>(n) : 0;
    recorded += on ? 1 : 0;
  }
  // The interface stores the interval less one millisecond per channel;
  // ZEITINTERVALL adds the channels back. Wraps modulo 65536 on the wire.
  const int32_t stored = static_cast<int32_t>(static_cast<uint32_t>(interval) - static_cast<uint32_t>(recorded));

  ZSYSTEMRESET();
  switch (HARD) {
  case kSios:
    SENDE(kSiosDefine);
    SENDE(high8(count));
    SENDE(low8(count));
    for (uint8_t c : channel_byte) SENDE(c);
    for (uint8_t s : kSiosSettings6to9) SENDE(s);
    SENDE(high8(stored));
    SENDE(low8(stored));
    for (uint8_t s : kSiosSettings12to13) SENDE(s);
    return static_cast<int32_t>(DELAY(2));
  case kZelle:
    SENDE(kZelleDefine);
    DELAY(2);
    SENDE(high8(count));
    SENDE(low8(count));
    DELAY(2);
    for (uint8_t c : channel_byte) SENDE(c);
    DELAY(2);
    SENDE(high8(stored));
    SENDE(low8(stored));
    return static_cast<int32_t>(DELAY(10));
  default:
    return not_served(HARD);
  }
}

void BLOCKTRIGGER(int32_t value, int32_t mode) {
  if (HARD != kSios || mode < 1 || mode > 6) return;
  SENDE(kSiosTriggerBase + mode);
  if (mode <= 4) SENDE(low8(value));
}

int32_t BLOCKSTART() {
  switch (HARD) {
  case kSios:
    SENDE(kSiosStart);
    break;
  case kZelle:
    ZSYSTEMRESET();
    SENDE(kZelleArm);
    DELAY(6);
    SENDE(kZelleStart);
    break;
  default:
    break;
  }
  return static_cast<int32_t>(DELAY(100));
}

int32_t MESSUNGEN(const uint8_t *buffer) { return buffer[0] * 256 + buffer[1]; }

int32_t KANALZAHL(const uint8_t *buffer) {
  int32_t k = 0;
  for (int i = 2; i <= 5; ++i) k += buffer[i] != 0 ? 1 : 0;
  return k;
}

int32_t ZEITINTERVALL(const uint8_t *buffer) {
  const int32_t k = KANALZAHL(buffer);
  switch (HARD) {
  case kSios:
    return (buffer[10] * 256 + buffer[11] + k) % 65536;
  case kZelle:
    return (buffer[6] * 256 + buffer[7] + k) % 65536;
  default:
    return not_served(HARD);
  }
}

int32_t BLOCKZAHL(const uint8_t *buffer) {
  switch (HARD) {
  case kSios:
    return buffer[15];
  case kZelle:
    return buffer[9];
  default:
    return not_served(HARD);
  }
}

int32_t DATENMENGE(const uint8_t *buffer) {
  // An unsigned 32-bit product: with no interface the block count is -8,
  // taken modulo 65536 as 65528, and the product may wrap.
  const uint32_t m = static_cast<uint32_t>(MESSUNGEN(buffer));
  const uint32_t k = static_cast<uint32_t>(KANALZAHL(buffer));
  const uint32_t b = static_cast<uint32_t>(BLOCKZAHL(buffer)) & 0xFFFFu;
  return static_cast<int32_t>(m * k * b);
}

} // namespace tavio
