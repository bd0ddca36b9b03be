// Line settings: what a POSIX port cannot carry out fails the open instead of
// being reported as applied, what it can is on the line afterwards; and every
// open asks the driver for low latency, carrying on where none is offered.
#include "test_support.h"

#include <termios.h>

#include "fake_backend.h"
#include "platform/platform.h"

namespace tavio::test {
namespace {

class LineSettings : public LibraryTest {
protected:
  static tcflag_t cflag() {
    termios t{};
    EXPECT_EQ(::tcgetattr(GETCOM(), &t), 0);
    return t.c_cflag;
  }
  static tcflag_t iflag() {
    termios t{};
    EXPECT_EQ(::tcgetattr(GETCOM(), &t), 0);
    return t.c_iflag;
  }
};

TEST_F(LineSettings, WhatThePortCannotCarryOutFailsTheOpen) {
  attach_new<emu::EchoDevice>(3);
  for (const char *settings : {
           "19200,N,8,2,p",          // its DSR half: no DSR handshake on POSIX
           "baud=19200 odsr=on",     // output waiting for DSR
           "baud=19200 dtr=hs",      // DTR handshake
           "baud=19200 rts=tg",      // RTS raised only while sending
           "baud=19200 dtr=tg",      // (no toggle for DTR at all)
           "19200,N,8,1.5",          // 1.5 stop bits exist only with 5 data bits...
           "19200,N,5,2",            // ...where 2 cannot be had
           "baud=19200 idsr=on",     // input gated by DSR
       }) {
    std::string m = mode(3, settings);
    EXPECT_EQ(OPENCOM(m.data()), 0) << settings;
    EXPECT_GE(GETCOM(), 3) << settings; // open, as after any refused settings
  }
}

TEST_F(LineSettings, WhatThePortCanCarryOutIsOnTheLine) {
  attach_new<emu::EchoDevice>(3);
  struct Case {
    const char *settings;
    bool rts_cts;
    bool xon_xoff;
  };
  for (const Case &c : {
           Case{"baud=19200 rts=hs", true, false},
           Case{"baud=19200 octs=on", true, false},
           Case{"19200,N,8,2", false, false}, // after a handshake: none left
           Case{"9600,N,8,1,x", false, true},
           Case{"baud=9600 dtr=on rts=off", false, true}, // the long form keeps what it does not name
           Case{"baud=9600 DTR=Off RTS=On odsr=off xon=off", false, false},
           Case{"19200,N,5,1.5", false, false},
       }) {
    std::string m = mode(3, c.settings);
    ASSERT_EQ(OPENCOM(m.data()), 1) << c.settings;
    EXPECT_EQ((cflag() & CRTSCTS) != 0, c.rts_cts) << c.settings;
    EXPECT_EQ((iflag() & (IXON | IXOFF)) == (IXON | IXOFF), c.xon_xoff) << c.settings;
    EXPECT_EQ(SENDBYTE(0x3C), 1) << c.settings;
    EXPECT_EQ(READBYTE(), 0x3C) << c.settings;
  }
}

TEST_F(LineSettings, EveryOpenAsksForLowLatencyAndCarriesOnWithoutIt) {
  FakeBackend fake;
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3);
  ASSERT_EQ(fake.low_latency_requests, std::vector<platform::Handle>{GETCOM()});
  // A pseudo-terminal offers none; the port works all the same.
  EXPECT_FALSE(platform::native_backend().request_low_latency(GETCOM()));
  EXPECT_EQ(SENDBYTE(0xA5), 1);
  EXPECT_EQ(READBYTE(), 0xA5);

  std::string slot = mode(4);
  int32_t h = IX_OPENCOM(2, slot.data());
  ASSERT_GE(h, 3);
  EXPECT_EQ(fake.low_latency_requests, (std::vector<platform::Handle>{GETCOM(), h}));
  EXPECT_EQ(IX_SENDBYTE(2, 0x11), 1);
  EXPECT_EQ(IX_READBYTE(2), 0x11);

  // A device that does not open is not asked; a handle that the backend
  // did not open is refused.
  std::string missing = mode(5);
  EXPECT_EQ(OPENCOM(missing.data()), 0);
  EXPECT_EQ(fake.low_latency_requests.size(), 2u);
  for (platform::Handle other : {0, -1, 1, h + 100}) {
    EXPECT_FALSE(platform::native_backend().request_low_latency(other)) << other;
  }
  IX_CLOSECOM(2);
}

} // namespace
} // namespace tavio::test
