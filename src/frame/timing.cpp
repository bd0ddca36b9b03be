#include <cmath>

#include "frame/frame.h"
#include "frame/state.h"

namespace tavio {

namespace {
constexpr uint64_t kNsPerMs = 1000000ull;
// Waits longer than this let the processor go for all but the last
// millisecond, which is spun, so that the wait ends on time.
constexpr uint64_t kSpinNs = 1000000ull;
constexpr uint64_t kSleepAboveNs = 1500000ull;
} // namespace

uint32_t timer_ms() { return static_cast<uint32_t>(platform::backend().now_ns() / kNsPerMs); }

uint32_t DELAY(uint32_t ms) {
  // Measured on the fine clock: at least ms milliseconds of real time pass,
  // so two bytes sent with a 2 ms pause between them are 2 ms apart on the
  // wire, whatever the millisecond phase at the start.
  platform::Backend &b = platform::backend();
  // A wait that is negative as a signed 32-bit value is a deadline already
  // past (DELAY(interval - TIMEREAD()) from a program that is late): it
  // ends at once instead of lasting up to 49.7 days.
  if (static_cast<int32_t>(ms) < 0) return timer_ms();
  const uint64_t end = b.now_ns() + uint64_t(ms) * kNsPerMs;
  uint64_t now;
  while ((now = b.now_ns()) < end) {
    uint64_t left = end - now;
    if (left > kSleepAboveNs) b.sleep_ns(left - kSpinNs);
  }
  return static_cast<uint32_t>(now / kNsPerMs);
}

uint32_t TIMEINIT() {
  T0 = timer_ms();
  return T0;
}

uint32_t TIMEREAD() { return timer_ms() - T0; }

double TIME() {
  uint32_t elapsed = timer_ms() - T0;
  return static_cast<double>(static_cast<long double>(elapsed) * 0.001L);
}

int32_t RC() {
  double t = static_cast<double>(TIMEREAD()) * 0.001;
  double u = std::exp(-t / 1.0);
  return static_cast<int32_t>(255.0 * u);
}

int32_t message_pump() {
  // The stamp keeps the low 16 bits of the timer; the distance is taken
  // modulo 2^16 as well, so that the pump goes on running every 10 ms when
  // the low bits wrap instead of pausing for a minute.
  const uint16_t a = static_cast<uint16_t>(timer_ms());
  const uint16_t since = static_cast<uint16_t>(a - PUMPSTAMP);
  if (since < 10) return 0;
  platform::backend().pump_messages();
  PUMPSTAMP = static_cast<uint16_t>(timer_ms());
  return 1;
}

namespace {
// What the entry point left to the keyboard functions comes before their
// own work: keys pressed before the load or a thread's start are no hit.
void keyboard_part_if_due() {
  if (KBDUE.exchange(false)) entry_keyboard_part();
}
} // namespace

int32_t KBRESET() {
  keyboard_part_if_due();
  platform::backend().take_key_input(true);
  return 0;
}

int32_t KBHIT() {
  keyboard_part_if_due();
  bool hit = platform::backend().take_key_input(true);
  message_pump();
  return hit ? -1 : 0;
}

int32_t TASTE() {
  // Without a terminal no key can ever come: waiting for one would hang the
  // caller for good, so the wait ends at once.
  keyboard_part_if_due();
  platform::Backend &b = platform::backend();
  if (!b.keyboard_present()) return 1;
  // The same holds for a terminal that goes away while the wait goes on (a
  // closed terminal window, a dropped remote session).
  while (KBHIT() == 0) {
    if (!b.keyboard_present()) return 1;
    b.sleep_ns(kNsPerMs);
  }
  return 1;
}

} // namespace tavio
