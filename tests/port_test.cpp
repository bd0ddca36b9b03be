// The primary port over real pseudo-terminals: opening from a mode string,
// its three states, single bytes, time-out sets, pacing, exclusivity.
#include "test_support.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "frame/state.h"
#include "platform/platform.h"
#include "serial/line.h"

namespace tavio::test {
namespace {

class PrimaryPort : public LibraryTest {};

TEST_F(PrimaryPort, OpenConfiguresTheRequestedLineAndClearsHard) {
  auto &link = attach_new<emu::EchoDevice>(2);
  SETHARD(4);
  std::string m = mode(2, "19200,N,8,2");
  ASSERT_EQ(OPENCOM(m.data()), 1);
  EXPECT_GE(GETCOM(), 3);
  EXPECT_EQ(GETHARD(), 0);
  emu::LineState line = link.line();
  EXPECT_EQ(line.baud, 19200u);
  EXPECT_EQ(line.parity, 'N');
  EXPECT_EQ(line.data_bits, 8);
  EXPECT_EQ(line.stop_bits, 2);

  // (A pseudo-terminal keeps 8 bits without parity whatever is asked.)
  std::string m2 = mode(2, "9600,N,8,1");
  ASSERT_EQ(OPENCOM(m2.data()), 1);
  line = link.line();
  EXPECT_EQ(line.baud, 9600u);
  EXPECT_EQ(line.stop_bits, 1);

  std::string m3 = mode(2, "baud=115200 parity=N data=8 stop=2");
  ASSERT_EQ(OPENCOM(m3.data()), 1);
  line = link.line();
  EXPECT_EQ(line.baud, 115200u);
  EXPECT_EQ(line.stop_bits, 2);
}

TEST_F(PrimaryPort, ModeStringIsSplitByPosition) {
  attach_new<emu::EchoDevice>(3);
  char hyphen[] = "COM3-19200,N,8,2"; // the fifth character is never examined
  EXPECT_EQ(OPENCOM(hyphen), 1);
  char lower[] = "com3:19200,N,8,2";
  EXPECT_EQ(OPENCOM(lower), 1);
  // "COM32:..." names COM3 and hands ":19200,..." to the parser, which refuses
  // it: the result is 0 but the device stays open.
  char longer[] = "COM32:19200,N,8,2";
  EXPECT_EQ(OPENCOM(longer), 0);
  EXPECT_GE(GETCOM(), 3);
  CLOSECOM();
  EXPECT_EQ(GETCOM(), 0);
}

TEST_F(PrimaryPort, ThreeStatesClosedOpenFailed) {
  EXPECT_EQ(GETCOM(), 0);
  char missing[] = "COM4:19200,N,8,2"; // COM4 points nowhere
  EXPECT_EQ(OPENCOM(missing), 0);
  EXPECT_EQ(GETCOM(), -1);
  EXPECT_EQ(SENDBYTE(1), 0);
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(TIMEOUT(50), -1);
  CLOSECOM();
  EXPECT_EQ(GETCOM(), 0);

  for (const char *bad : {"", "C", "COM", "COM3", "COM3:"}) {
    std::string m = bad;
    EXPECT_EQ(OPENCOM(m.data()), 0) << '"' << bad << '"';
  }
}

TEST_F(PrimaryPort, BadSettingsLeaveTheDeviceOpenWithResultZero) {
  auto &link = attach_new<emu::EchoDevice>(3);
  for (const char *settings : {"19200,X,8,2", "19200,N,8", "19200,N,9,2", "19200,N,8,3", "fast", "baud=19200 speed=2",
                               "19200,N,8,2,q,extra"}) {
    std::string m = mode(3, settings);
    EXPECT_EQ(OPENCOM(m.data()), 0) << settings;
    EXPECT_GE(GETCOM(), 3) << settings;
  }
  // The device is taken: opening it through another handle fails.
  std::string path;
  ASSERT_TRUE(line::ports().device_path("COM3", path));
  EXPECT_EQ(line::ports().open_device(path.c_str()), platform::kInvalidHandle);
  CLOSECOM();
  open_primary(3);
  EXPECT_EQ(link.line().baud, 19200u);
}

TEST_F(PrimaryPort, DeviceHeldByAnotherOpenerCannotBeOpened) {
  auto &link = attach_new<emu::EchoDevice>(3);
  // Another program holding the device with the advisory lock (as root too).
  int other = ::open(link.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  std::string m = mode(3);
  EXPECT_EQ(OPENCOM(m.data()), 0);
  EXPECT_EQ(GETCOM(), -1);
  ::close(other);
  EXPECT_EQ(OPENCOM(m.data()), 1);
  // And while the library holds it, a second opener is refused.
  int again = ::open(link.slave_path().c_str(), O_RDWR | O_NOCTTY);
  if (again >= 0) { // root passes TIOCEXCL; the lock still stops it
    EXPECT_NE(::flock(again, LOCK_EX | LOCK_NB), 0);
    ::close(again);
  }
}

TEST_F(PrimaryPort, AllByteValuesPassBothWays) {
  auto &link = attach_new<emu::EchoDevice>(3);
  open_primary(3);
  for (int v = 0; v < 256; ++v) {
    ASSERT_EQ(SENDBYTE(v), 1);
    ASSERT_EQ(READBYTE(), v);
  }
  std::vector<uint8_t> seen = link.bytes();
  ASSERT_EQ(seen.size(), 256u);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(seen[v], v);
}

TEST_F(PrimaryPort, OnlyTheLowEightBitsAreSent) {
  auto &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  SENDBYTE(321);
  SENDBYTE(-1);
  SENDBYTE(256);
  ASSERT_TRUE(link.wait_for(3, 1000));
  EXPECT_EQ(link.bytes(), (std::vector<uint8_t>{65, 255, 0}));
}

TEST_F(PrimaryPort, SentBytesAreAtLeastTwoMillisecondsApart) {
  auto &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  for (int i = 0; i < 20; ++i) {
    double t = now_ms();
    SENDBYTE(i);
    EXPECT_GE(now_ms() - t, 2.0);
  }
  ASSERT_TRUE(link.wait_for(20, 1000));
  std::vector<emu::Received> r = link.received();
  std::vector<double> gaps;
  for (size_t i = 1; i < r.size(); ++i) gaps.push_back(gap_ms(r[i - 1], r[i]));
  std::sort(gaps.begin(), gaps.end());
  // The device sees the bytes through a reader thread whose wake-ups jitter
  // on a loaded machine (a late wake-up reads two bytes at once), so only
  // the typical gap is asserted here.
  EXPECT_GE(gaps[gaps.size() / 2], 1.9);
}

TEST_F(PrimaryPort, ReceiveTimeOutFollowsTheInstalledSet) {
  attach_new<emu::SilentDevice>(3);
  open_primary(3);
  double t = now_ms();
  EXPECT_EQ(READBYTE(), -1);
  double waited = now_ms() - t;
  EXPECT_GE(waited, 101.0);
  EXPECT_LT(waited, 160.0);

  EXPECT_EQ(TIMEOUT(0), 100);
  t = now_ms();
  EXPECT_EQ(READBYTE(), -1);
  waited = now_ms() - t;
  EXPECT_GE(waited, 1.0);
  EXPECT_LT(waited, 30.0);
}

TEST_F(PrimaryPort, TimeoutBookkeepingAcrossReopen) {
  attach_new<emu::SilentDevice>(3);
  EXPECT_EQ(TIMEOUT(500), -1); // no port: refused, READTIME unchanged
  EXPECT_EQ(READTIME, 100);
  open_primary(3);
  EXPECT_EQ(TIMEOUT(250), 100);
  EXPECT_EQ(TIMEOUTOLD(300), 250);
  EXPECT_EQ(READTIME, 300);
  CLOSECOM();
  EXPECT_EQ(READTIME, 300); // kept while closed
  EXPECT_EQ(TIMEOUTOLD(10), -1);
  open_primary(3); // installs the TIMEOUT set with 300
  double t = now_ms();
  EXPECT_EQ(READBYTE(), -1);
  double waited = now_ms() - t;
  EXPECT_GE(waited, 301.0);
  EXPECT_LT(waited, 380.0);
}

TEST_F(PrimaryPort, IntervalLimitEndsAMultiByteRead) {
  // A device that answers two bytes of the five asked for: the TIMEOUT set's
  // gap limit ends the read about T after the last byte; the older set has no
  // gap limit and waits out the total of 5 + T.
  auto &link = attach_new<emu::ScriptDevice>(3, [](uint8_t b, emu::Link &l) {
    const uint8_t two[] = {b, b};
    l.reply(two, 2);
  });
  (void)link;
  open_primary(3);
  EXPECT_EQ(TIMEOUT(200), 100);
  char buf[] = "     ";
  SENDBYTE('a');
  double t = now_ms();
  EXPECT_EQ(READSTRING(buf), 2);
  double waited = now_ms() - t;
  EXPECT_GE(waited, 190.0);
  EXPECT_LT(waited, 300.0);
  EXPECT_STREQ(buf, "aa   ");
}

TEST_F(PrimaryPort, CloseWithoutPortPausesAndClearsHard) {
  SETHARD(16);
  double t = now_ms();
  CLOSECOM();
  EXPECT_GE(now_ms() - t, 1.0);
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(GETCOM(), 0);
}

TEST_F(PrimaryPort, VanishedDeviceFailsTransfersWithoutHanging) {
  attach_new<emu::EchoDevice>(3);
  open_primary(3);
  links_.clear(); // the device goes away: pty master and slave closed
  double t = now_ms();
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_LT(now_ms() - t, 150.0);
  EXPECT_EQ(SENDBYTE(1), 0);
  char buf[] = "xyz";
  EXPECT_EQ(READSTRING(buf), 0);
  CLOSECOM();
  EXPECT_EQ(GETCOM(), 0);
}

TEST_F(PrimaryPort, NullPointersNeverCrash) {
  attach_new<emu::EchoDevice>(3);
  EXPECT_EQ(OPENCOM(nullptr), 0);
  open_primary(3);
  EXPECT_EQ(SENDSTRING(nullptr), 0);
  EXPECT_EQ(READSTRING(nullptr), 0);
  STRREAD(nullptr);
  EXPECT_EQ(IX_OPENCOM(0, nullptr), 0);
  IX_STRREAD(0, nullptr);
  EXPECT_EQ(IX_SENDSTRING(0, nullptr), 0);
  EXPECT_EQ(IX_READSTRING(0, nullptr), 0);
  EXPECT_EQ(MESSUNGEN(nullptr), -1);
  EXPECT_EQ(KANALZAHL(nullptr), -1);
  EXPECT_EQ(ZEITINTERVALL(nullptr), -1);
  EXPECT_EQ(BLOCKZAHL(nullptr), -1);
  EXPECT_EQ(DATENMENGE(nullptr), -1);
  EXPECT_EQ(BLOCKINFO(nullptr, 1), -1);
  EXPECT_EQ(BLOCKEIN(nullptr, 1), -1);
  EXPECT_EQ(PROLADEN(nullptr), -1);
  char name[] = "/tmp/tavio32-null-test";
  char buffer[16] = {};
  EXPECT_EQ(DATENSPEICHERN(nullptr, buffer), -1);
  EXPECT_EQ(DATENSPEICHERN(name, nullptr), -1);
  EXPECT_EQ(DATENLADEN(nullptr, buffer), -1);
  EXPECT_EQ(DATENLADEN(name, nullptr), -1);
  EXPECT_EQ(TABELLESPEICHERN(nullptr, buffer), -1);
  EXPECT_EQ(TABELLESPEICHERN(name, nullptr), -1);
  EXPECT_EQ(::access(name, F_OK), -1);
  tavio32_set_message_handler(nullptr);
  EXPECT_EQ(GETCOM() >= 3, true); // the port is untouched by all of it
}

} // namespace
} // namespace tavio::test
