// Transfers and waits while the process takes a timer signal every
// millisecond, from a handler installed without SA_RESTART (so that every
// blocking call it lands in fails with EINTR): nothing is lost or doubled,
// and time-outs and DELAY are measured against the clock, not restarted.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <string>
#include <sys/time.h>

#include "test_support.h"

namespace tavio::test {
namespace {

std::atomic<long> g_ticks{0};
void on_tick(int) { g_ticks.fetch_add(1, std::memory_order_relaxed); }

class SignalStorm : public LibraryTest {
protected:
  void SetUp() override {
    LibraryTest::SetUp();
    // The emulators' threads are started with the signal blocked, so that
    // every tick lands in the library's calls on this thread.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
  }
  // Starts the ticks once the devices are attached.
  void storm() {
    struct sigaction sa {};
    sa.sa_handler = on_tick;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART
    ASSERT_EQ(::sigaction(SIGALRM, &sa, &previous_), 0);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
    itimerval every_ms{{0, 1000}, {0, 1000}};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &every_ms, nullptr), 0);
    ticks_at_start_ = g_ticks.load();
  }
  long ticks() const { return g_ticks.load() - ticks_at_start_; }
  void TearDown() override {
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    // A tick already generated may still be on its way (valgrind delivers
    // signals late): ignoring the signal discards it before the previous
    // disposition, perhaps the default that ends the process, comes back.
    ::signal(SIGALRM, SIG_IGN);
    ::sigaction(SIGALRM, &previous_, nullptr);
    LibraryTest::TearDown();
  }

  // Bytes 1..255 only: the string functions measure their buffers with strlen.
  static std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(1 + (seed + i * 7 + i / 251) % 255);
    return s;
  }

  struct sigaction previous_ {};
  long ticks_at_start_ = 0;
};

TEST_F(SignalStorm, StreamsThroughThePrimaryPortAndASlotByteExact) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3, "115200,N,8,1");
  std::string slot_mode = mode(4, "115200,N,8,1");
  ASSERT_GT(IX_OPENCOM(0, slot_mode.data()), 0);
  storm();

  size_t moved = 0;
  for (unsigned round = 0; round < 100; ++round) {
    std::string out = pattern(512, round);
    std::string in(out.size(), 'x');
    ASSERT_EQ(SENDSTRING(out.data()), 512) << "round " << round;
    ASSERT_EQ(READSTRING(in.data()), 512) << "round " << round;
    ASSERT_EQ(in, out) << "round " << round;
    std::string slot_in(out.size(), 'x');
    ASSERT_EQ(IX_SENDSTRING(0, out.data()), 512) << "round " << round;
    ASSERT_EQ(IX_READSTRING(0, slot_in.data()), 512) << "round " << round;
    ASSERT_EQ(slot_in, out) << "round " << round;
    moved += 2 * out.size();
  }
  // Single bytes, each with its 2 ms pause, through both.
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(SENDBYTE(i), 1);
    ASSERT_EQ(READBYTE(), i);
    ASSERT_EQ(IX_SENDBYTE(0, 255 - i), 1);
    ASSERT_EQ(IX_READBYTE(0), 255 - i);
  }
  // Nothing left over: no byte was doubled.
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(IX_READBYTE(0), -1);
  EXPECT_GT(ticks(), 100) << "the signals did not come";
  RecordProperty("bytes_moved", static_cast<int>(moved));
}

TEST_F(SignalStorm, ReadTimeOutEndsOnTheClock) {
  attach_new<emu::SilentDevice>(3);
  attach_new<emu::SilentDevice>(4);
  open_primary(3);
  std::string slot_mode = mode(4);
  ASSERT_GT(IX_OPENCOM(0, slot_mode.data()), 0);
  storm();
  for (int i = 0; i < 3; ++i) {
    double t0 = now_ms();
    EXPECT_EQ(READBYTE(), -1);
    double primary = now_ms() - t0;
    t0 = now_ms();
    EXPECT_EQ(IX_READBYTE(0), -1);
    double slot = now_ms() - t0;
    // 101 ms of silence; a wait restarted at every signal would never end.
    EXPECT_GE(primary, 95.0);
    EXPECT_LE(primary, 300.0);
    EXPECT_GE(slot, 95.0);
    EXPECT_LE(slot, 300.0);
  }
  EXPECT_GT(ticks(), 100) << "the signals did not come";
}

TEST_F(SignalStorm, DelayWaitsAtLeastTheTimeAsked) {
  storm();
  for (uint32_t ms : {1u, 2u, 5u, 20u, 50u}) {
    for (int i = 0; i < 5; ++i) {
      uint64_t t0 = now_ns();
      DELAY(ms);
      double waited = static_cast<double>(now_ns() - t0) / 1e6;
      EXPECT_GE(waited, static_cast<double>(ms)) << "DELAY(" << ms << ")";
      EXPECT_LT(waited, ms + 100.0) << "DELAY(" << ms << ")";
    }
  }
  EXPECT_GT(ticks(), 100) << "the signals did not come";
}

} // namespace
} // namespace tavio::test
