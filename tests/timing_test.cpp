// Busy delays, the stopwatch, the RC curve, the throttled pump and keyboard
// polling. Wrap-around cases run on the fake backend's settable clock.
#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "fake_backend.h"
#include "frame/frame.h"
#include "frame/state.h"

namespace tavio::test {
namespace {

constexpr uint64_t kWrapMs = 1ull << 32;

class Timing : public LibraryTest {};

TEST_F(Timing, DelayWaitsAtLeastTheRealTimeAskedFor) {
  double t = now_ms();
  DELAY(0);
  EXPECT_LT(now_ms() - t, 1.0);
  for (uint32_t ms : {1u, 2u, 10u}) {
    t = now_ms();
    uint32_t returned = DELAY(ms);
    double waited = now_ms() - t;
    EXPECT_GE(waited, ms) << ms;
    EXPECT_LT(waited, ms + 20.0) << ms;
    // The result is the millisecond timer read last.
    EXPECT_LE(static_cast<uint32_t>(timer_ms() - returned), 2u);
  }
}

TEST_F(Timing, DelayAcrossTheTimerWrapAndNegativeWaits) {
  FakeBackend fake;
  fake.set_clock_ms(kWrapMs - 5);
  fake.step_ns = 100000; // every clock read advances 0.1 ms
  uint32_t returned = DELAY(10);
  EXPECT_GE(returned, 5u);
  EXPECT_LE(returned, 7u); // wrapped past 2^32 to a small value
  EXPECT_GE(fake.clock_ns, (kWrapMs + 5) * 1000000ull);
  // Negative as signed 32-bit values, waits end at once; the longest positive one lasts.
  EXPECT_LE(DELAY(static_cast<uint32_t>(-10)) + DELAY(0x80000000u) - 2 * returned, 2u);
  DELAY(0x7FFFFFFFu);
  EXPECT_GE(fake.clock_ns, (kWrapMs + 5 + 0x7FFFFFFFull) * 1000000ull);
}

TEST_F(Timing, StopwatchMeasuresModulo2To32) {
  FakeBackend fake;
  fake.set_clock_ms(kWrapMs - 100);
  EXPECT_EQ(TIMEINIT(), static_cast<uint32_t>(kWrapMs - 100));
  EXPECT_EQ(TIMEREAD(), 0u);
  EXPECT_DOUBLE_EQ(TIME(), 0.0);
  fake.set_clock_ms(kWrapMs + 50);
  EXPECT_EQ(TIMEREAD(), 150u);
  EXPECT_DOUBLE_EQ(TIME(), 0.15);
  // Before any TIMEINIT the stopwatch counts from timer value 0.
  T0 = 0;
  fake.set_clock_ms(123456);
  EXPECT_EQ(TIMEREAD(), 123456u);
}

TEST_F(Timing, RcDischargeCurve) {
  FakeBackend fake;
  fake.set_clock_ms(1000);
  TIMEINIT();
  const struct {
    uint64_t ms;
    int32_t value;
  } curve[] = {{0, 255}, {500, 154}, {1000, 93}, {2000, 34}, {3000, 12}, {5000, 1}, {5540, 1}, {5542, 0}, {60000, 0}};
  for (const auto &p : curve) {
    fake.set_clock_ms(1000 + p.ms);
    EXPECT_EQ(RC(), p.value) << p.ms << " ms";
  }
}

TEST_F(Timing, PumpRunsAtMostOncePerTenMilliseconds) {
  FakeBackend fake;
  fake.set_clock_ms(5);
  EXPECT_EQ(message_pump(), 0); // 5 - 0 < 10
  fake.set_clock_ms(10);
  EXPECT_EQ(message_pump(), 1);
  EXPECT_EQ(PUMPSTAMP, 10);
  fake.set_clock_ms(19);
  EXPECT_EQ(message_pump(), 0);
  fake.set_clock_ms(20);
  EXPECT_EQ(message_pump(), 1);
  EXPECT_EQ(fake.pumps, 2);
}

TEST_F(Timing, PumpKeepsItsTenMillisecondPaceWhenTheSixteenBitStampWraps) {
  FakeBackend fake;
  fake.set_clock_ms(65530);
  EXPECT_EQ(message_pump(), 1);
  EXPECT_EQ(PUMPSTAMP, 65530);
  // The low 16 bits wrap between the stamp and the next call: 65536 + 3 is
  // 9 ms on, too early ...
  fake.set_clock_ms(65536 + 3);
  EXPECT_EQ(message_pump(), 0);
  // ... and 10 ms on the pump runs again, as it does everywhere else.
  fake.set_clock_ms(65536 + 4);
  EXPECT_EQ(message_pump(), 1);
  EXPECT_EQ(PUMPSTAMP, 4);
  fake.set_clock_ms(65536 + 14);
  EXPECT_EQ(message_pump(), 1);
  EXPECT_EQ(fake.pumps, 3);
}

TEST_F(Timing, KeyboardHitsAreReportedOnceAndReset) {
  FakeBackend fake;
  fake.fake_keyboard = true;
  fake.set_clock_ms(100);
  EXPECT_EQ(KBHIT(), 0);
  fake.pending_keys = 1;
  EXPECT_EQ(KBHIT(), -1);
  EXPECT_EQ(KBHIT(), 0);
  fake.pending_keys = 3;
  EXPECT_EQ(KBRESET(), 0);
  EXPECT_EQ(KBHIT(), 0);
  fake.pending_keys = 1;
  EXPECT_EQ(TASTE(), 1);
  // Without a keyboard no key can come: TASTE does not wait for ever.
  fake.keyboard = false;
  EXPECT_EQ(TASTE(), 1);
}

TEST_F(Timing, WithoutATerminalThereIsNeverAKeyHit) {
  // The test runner's standard input is not a terminal under CTest.
  if (platform::native_backend().keyboard_present()) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_EQ(KBHIT(), 0);
  EXPECT_EQ(KBRESET(), 0);
  EXPECT_EQ(TASTE(), 1);
}

TEST(KeyboardOnATerminal, AKeyTypedOnTheTerminalIsOneHit) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::string slave = ::ptsname(master);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int fd = ::open(slave.c_str(), O_RDWR);
    if (fd < 0) ::_exit(1);
    ::dup2(fd, 0);
    if (KBHIT() != 0) ::_exit(2); // starts polling: keys now come one by one
    char c = 1;
    (void)!::write(ready[1], &c, 1);
    int32_t hit = 0;
    for (int i = 0; i < 2000 && hit == 0; ++i) {
      hit = KBHIT();
      if (hit == 0) ::usleep(1000);
    }
    if (hit != -1) ::_exit(3);
    if (KBHIT() != 0) ::_exit(4);
    platform::backend().end_key_input();
    termios t;
    if (::tcgetattr(0, &t) != 0 || !(t.c_lflag & ICANON) || !(t.c_lflag & ECHO)) ::_exit(5);
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(::write(master, "x", 1), 1); // a single key, no Enter
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::close(ready[0]);
  ::close(master);
}

} // namespace
} // namespace tavio::test
