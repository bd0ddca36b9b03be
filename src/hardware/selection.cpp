// Interface selection: the interface code HARD, set by hand or by opening
// the primary port with an interface's fixed line settings.
#include <cstdio>

#include "frame/state.h"
#include "hardware/hardware.h"
#include "serial/port.h"

namespace tavio {

namespace {

// Default mode texts. Index 3 (the digit after "COM") is replaced by the
// port digit before the text is used.
constexpr const char *kMode19200 = "COM2:19200,N,8,2"; // CompuLab, Sios, RS-Box, Camface
constexpr const char *kMode9600 = "COM2:9600,N,8,2";   // C-Control
constexpr const char *kModeZelle = "COM1:9600,N,8,2";  // Zelle

constexpr size_t kWorkBuffer = 256;

// The common path of the opening functions with a range test: port 1..9
// only; the primary port is reopened with the interface's settings and the
// interface's code is recorded.
int32_t open_interface(int32_t port, const char *default_mode, int32_t code) {
  if (port < 1 || port > 9) return 0;
  char mode[kWorkBuffer];
  std::snprintf(mode, sizeof mode, "%s", default_mode);
  mode[3] = static_cast<char>('0' + port);
  CLOSE_COM();
  if (OPEN_COM(mode) == 0) return 0;
  HARD = code;
  return port;
}

} // namespace

int32_t SETHARD(int32_t code) {
  int32_t before = HARD;
  HARD = code;
  return before;
}

int32_t GETHARD() { return HARD; }

int32_t INIT(int32_t port) { return open_interface(port, kMode19200, kRsBox); }
int32_t INITSIOS(int32_t port) { return open_interface(port, kMode19200, kSios); }
int32_t INITCOMPULAB(int32_t port) { return open_interface(port, kMode19200, kCompuLab); }
int32_t INITCCONTROL(int32_t port) { return open_interface(port, kMode9600, kCControl); }
int32_t INITCAMFACE(int32_t port) { return open_interface(port, kMode19200, kCamface); }

int32_t ZINIT(int32_t port) {
  // The port digit is the character '0' + port. A number outside 0..9 has no
  // digit of its own (10 would make "COM:", 257 would wrap round to "COM1"),
  // so it opens nothing instead of some other device; the primary port is
  // closed all the same, as every opening does.
  if (port < 0 || port > 9) {
    CLOSE_COM();
    return 0;
  }
  char mode[kWorkBuffer];
  std::snprintf(mode, sizeof mode, "%s", kModeZelle);
  mode[3] = static_cast<char>('0' + port);
  return OPEN_COM(mode);
}

int32_t INITZELLE(int32_t port) {
  if (ZINIT(port) == 0) return 0;
  HARD = kZelle;
  return port;
}

} // namespace tavio
