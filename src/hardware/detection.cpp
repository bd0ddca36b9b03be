// Interface detection: COM1 to COM8 in turn, six probes on each, until an
// interface gives its identifying answer.
#include <cstdio>

#include "frame/frame.h"
#include "frame/state.h"
#include "hardware/commands.h"
#include "hardware/hardware.h"
#include "serial/port.h"

namespace tavio {

namespace {

constexpr size_t kWorkBuffer = 256;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 8; // COM9 is never probed

constexpr const char *kNotFound = "Keine Hardware gefunden: Simulation";

// A probe's answer when the port did not open: the rest of the port is skipped.
constexpr int32_t kNoPort = -2;

// Opens the port with the given settings text, sends first, optionally
// pauses, sends second (when not negative) and reads one byte.
int32_t probe(const char *port_name, const char *settings, int32_t first, bool pause, int32_t second) {
  char mode[kWorkBuffer];
  std::snprintf(mode, sizeof mode, "%s%s", port_name, settings);
  if (OPEN_COM(mode) == 0) return kNoPort;
  SENDE(first);
  if (pause) DELAY(cmd::probe::kPauseMs);
  if (second >= 0) SENDE(second);
  return EMPFANG();
}

// The found message, "Gefundene Hardware: \n<interface> an <port>", when asked for.
void announce(int32_t flag, const char *interface_name, const char *port_name) {
  if (flag == 0) return;
  char message[kWorkBuffer];
  std::snprintf(message, sizeof message, "Gefundene Hardware: \n%s an %s", interface_name, port_name);
  MES(message);
}

// Probes 1 and 2 find: the outputs go off before the message.
int32_t found_switching_off(int32_t flag, int32_t code, const char *interface_name, const char *port_name) {
  HARD = code;
  DEZAUS(0);
  announce(flag, interface_name, port_name);
  return code;
}

// Probes 3 to 5 find: the outputs are left as they are.
int32_t found(int32_t flag, int32_t code, const char *interface_name, const char *port_name) {
  announce(flag, interface_name, port_name);
  HARD = code;
  return code;
}

// Runs the six probes on one port: the code found, or 0.
int32_t probe_port(int32_t flag, const char *name) {
  using namespace cmd::probe;

  // 1: Sios or CompuLab, 19200 baud.
  int32_t answer = probe(name, k19200, 0, false, 1);
  if (answer == kNoPort) return 0;
  if (answer == kSiosAnswer) return found_switching_off(flag, kSios, "Sios", name);
  if (answer >= kCompuLabFirst && answer <= kCompuLabLast)
    return found_switching_off(flag, kCompuLab, "CompuLab", name);

  // 2: Camface, 19200 baud.
  answer = probe(name, k19200, cmd::camface::kIdentify, false, -1);
  if (answer == kNoPort) return 0;
  if (answer == kCamfaceAnswer) return found_switching_off(flag, kCamface, "Camface", name);

  // 3: Zelle, 9600 baud: its push button, not pressed.
  answer = probe(name, k9600, 0, true, cmd::zelle::kButton);
  if (answer == kNoPort) return 0;
  if (answer == kZelleAnswer) return found(flag, kZelle, "Zelle", name);

  // 4 and 5: C-Control, at 9600 and at 19200 baud.
  answer = probe(name, k9600, 0, true, 1);
  if (answer == kNoPort) return 0;
  if (answer == kCControlAnswer) return found(flag, kCControl, "C-Control", name);
  answer = probe(name, k19200, 0, true, 1);
  if (answer == kNoPort) return 0;
  if (answer == kCControlAnswer) return found(flag, kCControl, "C-Control", name);

  // 6: RS-Box, 19200 baud: its digital input, which must not be 0.
  answer = probe(name, k19200, 0, true, cmd::rsbox::kDigitalIn);
  if (answer == kNoPort) return 0;
  if (answer >= 1 && answer <= 255) {
    announce(flag, "RS-Box", name);
    HARD = kRsBox;
    DEZAUS(0);
    return kRsBox;
  }
  return 0;
}

} // namespace

int32_t FINDHARD(int32_t flag) {
  HARD = kNoInterface;
  char name[kWorkBuffer] = "COM1";
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    name[3] = static_cast<char>('0' + n);
    int32_t code = probe_port(flag, name);
    if (code != kNoInterface) return code;
  }
  CLOSE_COM();
  if (flag != 0) MES(kNotFound);
  return kNoInterface;
}

} // namespace tavio
