// Program download and start, and the raw data file: the image of a block
// buffer, 6146 bytes with the Zelle selected and 30720 bytes otherwise.
#include "block/block.h"

#include "block/commands.h"
#include "frame/frame.h"
#include "platform/platform.h"
#include "serial/port.h"

namespace tavio {

using namespace block;

int32_t PROLADEN(const char *path) {
  platform::Backend &files = platform::backend();
  const int32_t fh = files.file_open_read(path);
  if (fh < 0) return -1; // nothing sent, link not reset

  ZSYSTEMRESET();
  switch (HARD) {
  case kSios:
    SENDE(kSiosProgramLoad);
    SENDE(kRequest);
    SENDE(kClose);
    break;
  case kZelle:
    SENDE(kZelleProgramLoad);
    DELAY(4);
    break;
  default:
    break;
  }
  // One cycle per program byte: take the interface's handshake byte (never
  // tested; silence only costs the read time-out), then the request byte and
  // the program byte. A short or failing read ends the download like the end
  // of the file, and so does a port that takes no more bytes (the interface
  // has gone: the rest of the file could reach nothing).
  uint8_t byte = 0;
  while (files.file_read(fh, &byte, 1) == 1) {
    EMPFANG();
    if (SENDE(kRequest) == 0 || SENDE(byte) == 0) break;
  }
  files.file_close(fh);
  EMPFANG();
  SENDE(kClose);
  return fh;
}

int32_t PROSTART() {
  switch (HARD) {
  case kSios:
    SENDE(kSiosProgramStart);
    SENDE(kSiosProgramStartOperands[0]);
    return SENDE(kSiosProgramStartOperands[1]);
  case kZelle: {
    const int32_t sent = SENDE(kZelleProgramStart);
    DELAY(4);
    return sent;
  }
  default:
    return -1;
  }
}

int32_t DATENSPEICHERN(const char *path, const uint8_t *buffer) {
  // The file is replaced only by a complete one: written under a temporary
  // name in the same directory and renamed over the target at the end. Any
  // failure leaves the old file as it was and reports -1.
  platform::Backend &files = platform::backend();
  const int32_t fh = files.file_begin_replace(path);
  if (fh < 0) return -1;
  const int32_t n = file_size_for(HARD);
  const int32_t written = files.file_write(fh, buffer, static_cast<uint32_t>(n));
  if (written != n) {
    files.file_abandon(fh);
    return -1;
  }
  return files.file_commit(fh) ? n : -1;
}

int32_t DATENLADEN(const char *path, uint8_t *buffer) {
  platform::Backend &files = platform::backend();
  const int32_t fh = files.file_open_read(path);
  if (fh < 0) return -1;
  const int32_t got = files.file_read(fh, buffer, static_cast<uint32_t>(file_size_for(HARD)));
  files.file_close(fh);
  return got;
}

} // namespace tavio
