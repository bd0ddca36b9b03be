// The same port functions against a real serial device, when one is at hand:
// set TAVIO32_TEST_LOOPBACK to a device whose TX is wired to its RX (and,
// for the line checks, RTS to CTS and DTR to DSR/DCD). Skipped otherwise.
#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace tavio::test {
namespace {

class RealDevice : public LibraryTest {
protected:
  void SetUp() override {
    LibraryTest::SetUp();
    const char *path = std::getenv("TAVIO32_TEST_LOOPBACK");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "TAVIO32_TEST_LOOPBACK not set";
    ::setenv("TAVIO32_COM7", path, 1);
    device = path;
  }
  std::string device;

  // Median milliseconds of a one-byte request and its answer, as an AIN
  // exchange costs (the send includes the library's 2 ms pause).
  static double round_trip_ms() {
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
      double t0 = now_ms();
      EXPECT_EQ(SENDBYTE(i), 1);
      EXPECT_EQ(READBYTE(), i);
      times.push_back(now_ms() - t0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }
};

#ifdef TIOCGSERIAL
// The driver's flags, or -1 where it has none to tell.
int serial_flags(int fd) {
  serial_struct ss{};
  return ::ioctl(fd, TIOCGSERIAL, &ss) == 0 ? ss.flags : -1;
}

int serial_flags(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  int flags = serial_flags(fd);
  ::close(fd);
  return flags;
}

bool set_low_latency(int fd, bool on) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  ss.flags = on ? ss.flags | ASYNC_LOW_LATENCY : ss.flags & ~ASYNC_LOW_LATENCY;
  return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

TEST_F(RealDevice, LowLatencyWhileOpenAndTheDriverSettingBackAfterClose) {
  const int before = serial_flags(device);
  if (before < 0) GTEST_SKIP() << device << ": the driver describes no serial line";
  open_primary(7, "19200,N,8,2");
  const int open_flags = serial_flags(GETCOM());
  EXPECT_NE(open_flags & ASYNC_LOW_LATENCY, 0) << "low latency not taken by the driver";
  double fast = round_trip_ms();
  // The same exchange with the driver's latency, for comparison.
  double slow = set_low_latency(GETCOM(), false) ? round_trip_ms() : -1;
  std::cout << "request/answer round trip: " << fast << " ms with low latency, " << slow
            << " ms without (-1: not measured)\n";
  RecordProperty("round_trip_low_latency_ms", std::to_string(fast));
  RecordProperty("round_trip_driver_latency_ms", std::to_string(slow));
  EXPECT_LT(fast, 2 + 16 + 5); // generous: at most one latency-timer period
  CLOSECOM();
  EXPECT_EQ(serial_flags(device), before);
}
#endif

TEST_F(RealDevice, FramesThatOpenAreTheFramesOnTheLine) {
  // A driver that cannot do a frame fails the open; one that opens has it.
  struct Frame {
    const char *settings;
    tcflag_t bits;
    bool common; // every adapter does it
  };
  for (const Frame &f : {
           Frame{"9600,N,8,1", CS8, true},
           Frame{"9600,E,7,1", CS7 | PARENB, true},
           Frame{"9600,O,8,2", CS8 | PARENB | PARODD | CSTOPB, true},
           Frame{"9600,M,8,1", CS8 | PARENB | PARODD | CMSPAR, false},
           Frame{"9600,S,7,2", CS7 | PARENB | CMSPAR | CSTOPB, false},
           Frame{"9600,N,6,1", CS6, false},
           Frame{"9600,N,5,1.5", CS5 | CSTOPB, false},
       }) {
    std::string m = mode(7, f.settings);
    int32_t opened = OPENCOM(m.data());
    if (f.common) {
      EXPECT_EQ(opened, 1) << f.settings;
    }
    if (opened == 1) {
      termios t{};
      ASSERT_EQ(::tcgetattr(GETCOM(), &t), 0);
      EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), f.bits) << f.settings;
    } else {
      std::cout << f.settings << ": refused by the driver\n";
    }
  }
}

TEST_F(RealDevice, BytesComeBackThroughTheLoopback) {
  open_primary(7, "19200,N,8,2");
  for (int v : {0, 1, 0x55, 0xAA, 255}) {
    EXPECT_EQ(SENDBYTE(v), 1);
    EXPECT_EQ(READBYTE(), v);
  }
  EXPECT_EQ(READBYTE(), -1);
  char text[] = "tavio32";
  EXPECT_EQ(SENDSTRING(text), 7);
  char back[] = "       ";
  EXPECT_EQ(READSTRING(back), 7);
  EXPECT_STREQ(back, "tavio32");
}

TEST_F(RealDevice, ModemLinesAndBreakAreCarriedOut) {
  open_primary(7, "19200,N,8,2");
  EXPECT_EQ(RTS(1), 1);
  EXPECT_EQ(DTR(1), 1);
  DELAY(5);
  int32_t cts_on = CTS(), dsr_on = DSR();
  EXPECT_EQ(RTS(0), 1);
  EXPECT_EQ(DTR(0), 1);
  DELAY(5);
  if (cts_on == 1) { // only where RTS is wired to CTS
    EXPECT_EQ(CTS(), 0);
  }
  if (dsr_on == 1) { // only where DTR is wired to DSR
    EXPECT_EQ(DSR(), 0);
  }
  EXPECT_EQ(TXD(1), 1);
  DELAY(20);
  EXPECT_EQ(TXD(0), 1);
  FLUSHIN();
}

} // namespace
} // namespace tavio::test
