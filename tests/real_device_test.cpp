// The same port functions against a real serial device, when one is at hand:
// set TAVIO32_TEST_LOOPBACK to a device whose TX is wired to its RX (and,
// for the line checks, RTS to CTS and DTR to DSR/DCD). Skipped otherwise.
#include "test_support.h"

#include <cstdlib>

namespace tavio::test {
namespace {

class RealDevice : public LibraryTest {
protected:
  void SetUp() override {
    LibraryTest::SetUp();
    const char *path = std::getenv("TAVIO32_TEST_LOOPBACK");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "TAVIO32_TEST_LOOPBACK not set";
    ::setenv("TAVIO32_COM7", path, 1);
  }
};

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
