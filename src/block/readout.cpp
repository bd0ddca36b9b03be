// Block readout: the header, and with BLOCKEIN the recorded data, requested
// one byte at a time from the Sios or the Zelle.
#include "block/block.h"

#include <algorithm>
#include <cstring>

#include "block/commands.h"
#include "frame/frame.h"
#include "serial/port.h"

namespace tavio {

using namespace block;

namespace {

// Asks for one byte with the request byte and stores it; false on time-out.
bool request_into(uint8_t *place) {
  SENDE(kRequest);
  const int32_t b = EMPFANG();
  if (b < 0) return false;
  *place = static_cast<uint8_t>(b);
  return true;
}

// The header exchange, up to and including the channel and block counts;
// the exchange is left open. clear_bytes of the buffer are cleared first.
// False when the interface fell silent (counts then not written).
bool read_header(uint8_t *buffer, int32_t blocks, int32_t clear_bytes) {
  std::memset(buffer, 0, static_cast<size_t>(clear_bytes));
  ZSYSTEMRESET();
  if (HARD == kSios) {
    SENDE(kSiosReadout);
    // Header byte 0 comes without a request and is not tested: a time-out
    // stores 255 and the exchange goes on; the next byte decides.
    buffer[0] = low8(EMPFANG());
    for (int i = 1; i <= 13; ++i)
      if (!request_into(&buffer[i])) return false;
    buffer[14] = static_cast<uint8_t>(KANALZAHL(buffer));
    buffer[15] = low8(blocks);
  } else {
    SENDE(kZelleReadout);
    DELAY(4);
    for (int i = 0; i <= 7; ++i)
      if (!request_into(&buffer[i])) return false;
    buffer[8] = static_cast<uint8_t>(KANALZAHL(buffer));
    buffer[9] = low8(blocks);
  }
  return true;
}

} // namespace

int32_t BLOCKINFO(uint8_t *buffer, int32_t blocks) {
  if (HARD != kSios && HARD != kZelle) return not_served(HARD);
  if (!read_header(buffer, blocks, kSiosHeaderSize)) return -1;
  SENDE(kClose);
  return HARD == kSios ? 15 : 8;
}

int32_t BLOCKEIN(uint8_t *buffer, int32_t blocks) {
  int32_t size, header;
  switch (HARD) {
  case kSios:
    size = kSiosBufferSize;
    header = kSiosHeaderSize;
    break;
  case kZelle:
    size = kZelleBufferSize;
    header = kZelleHeaderSize;
    break;
  default:
    return not_served(HARD);
  }
  if (!read_header(buffer, blocks, size)) return -1;
  // One byte more than the header's data count, but never past the buffer.
  const int32_t n = DATENMENGE(buffer) & 0xFFFF;
  const int32_t d = std::min(n + 1, size - header);
  for (int32_t i = 0; i < d; ++i) {
    if (!request_into(&buffer[header + i])) return -1;
    // A progress hook that says stop ends the exchange as a complete readout
    // would, so that the interface is ready for the next command.
    if (READPROGRESS != nullptr && READPROGRESS(i + 1, d, READPROGRESSCONTEXT) == 0) {
      SENDE(kClose);
      return -1;
    }
  }
  SENDE(kClose);
  return HARD == kSios ? 17 + d : 10 + d;
}

} // namespace tavio
