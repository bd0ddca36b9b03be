// String transfers, fixed-length reads and purges on the primary port, over
// real pseudo-terminals.
#include <array>
#include <cstring>
#include <vector>

#include "serial_helpers.h"
#include "test_support.h"

namespace tavio::test {
namespace {

class PrimaryStrings : public LibraryTest {};

// --- SENDSTRING / READSTRING ---

TEST_F(PrimaryStrings, ReadStringStoresWhatArrivedAndLeavesTheRestOfTheText) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  inject(link, "abc");
  // Five spaces ask for five bytes; after them the old NUL and bytes that
  // are no part of the text.
  char buf[8] = {' ', ' ', ' ', ' ', ' ', 0, 'Z', 'Z'};
  double t0 = now_ms();
  EXPECT_EQ(READSTRING(buf), 3);
  double took = now_ms() - t0;
  const char want[8] = {'a', 'b', 'c', ' ', ' ', 0, 'Z', 'Z'};
  EXPECT_EQ(std::memcmp(buf, want, sizeof buf), 0);
  // A short read ends when the line stays silent for the time-out (100 ms
  // after the last byte), not before.
  EXPECT_GE(took, 99.0);
  EXPECT_LT(took, 1000.0);
}

TEST_F(PrimaryStrings, ReadStringTakesZeroBytesAndHighBytesAsTheyCome) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  const std::vector<uint8_t> sent = {0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x80};
  inject(link, sent);
  char buf[9] = "........";
  EXPECT_EQ(READSTRING(buf), 8);
  EXPECT_EQ(std::memcmp(buf, sent.data(), sent.size()), 0);
  EXPECT_EQ(buf[8], 0);
}

TEST_F(PrimaryStrings, SendStringCarriesEveryNonZeroByteIntact) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  char text[256];
  for (int i = 0; i < 255; ++i) text[i] = static_cast<char>(i + 1);
  text[255] = 0;
  EXPECT_EQ(SENDSTRING(text), 255);
  ASSERT_TRUE(link.wait_for(255, 2000));
  std::vector<uint8_t> got = link.bytes();
  ASSERT_EQ(got.size(), 255u);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(got[i], i + 1) << "position " << i;
}

TEST_F(PrimaryStrings, LongStringRoundTripThroughAnEcho) {
  attach_new<emu::EchoDevice>(3);
  open_primary(3);
  std::vector<char> out(4097), in(4097);
  for (size_t i = 0; i < 4096; ++i) out[i] = static_cast<char>(1 + (i * 7) % 255);
  out[4096] = 0;
  std::memset(in.data(), ' ', 4096);
  in[4096] = 0;
  EXPECT_EQ(SENDSTRING(out.data()), 4096);
  EXPECT_EQ(READSTRING(in.data()), 4096);
  EXPECT_EQ(std::memcmp(in.data(), out.data(), 4097), 0);
}

TEST_F(PrimaryStrings, EmptyTextsMoveNothingAndDoNotWait) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  char empty[4] = {0, 'x', 'y', 0};
  double t0 = now_ms();
  EXPECT_EQ(SENDSTRING(empty), 0);
  EXPECT_EQ(READSTRING(empty), 0);
  EXPECT_LT(now_ms() - t0, 50.0);
  EXPECT_EQ(empty[1], 'x');
  EXPECT_FALSE(link.wait_for(1, 50));
}

TEST_F(PrimaryStrings, StringTransfersFailWithZeroWithoutAPort) {
  char text[] = "hello";
  EXPECT_EQ(SENDSTRING(text), 0);
  EXPECT_EQ(READSTRING(text), 0);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(SENDSTRING(nullptr), 0);
  EXPECT_EQ(READSTRING(nullptr), 0);
  // A failed open (device missing) behaves like no port.
  char bad[] = "COM6:19200,N,8,2";
  EXPECT_EQ(OPENCOM(bad), 0);
  EXPECT_EQ(SENDSTRING(text), 0);
  EXPECT_EQ(READSTRING(text), 0);
}

TEST_F(PrimaryStrings, AVanishedDeviceFailsTransfersAtOnce) {
  attach_new<emu::SilentDevice>(3);
  open_primary(3);
  links_.clear(); // the far end goes away, as a pulled adapter does
  char text[] = "hello";
  char buf[6] = "     ";
  double t0 = now_ms();
  EXPECT_EQ(READSTRING(buf), 0);
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(SENDSTRING(text), 0);
  EXPECT_LT(now_ms() - t0, 90.0); // no read time-out waited for
  char line[16] = "x";
  STRREAD(line);
  EXPECT_STREQ(line, "Fehler");
}

// --- STRREAD / STRLENGTH ---

TEST_F(PrimaryStrings, StrReadWithTooFewBytesLeavesFehler) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  inject(link, "0123456789");
  char buf[32];
  std::memset(buf, 'Z', sizeof buf);
  double t0 = now_ms();
  STRREAD(buf);
  double took = now_ms() - t0;
  EXPECT_STREQ(buf, "Fehler");
  EXPECT_EQ(buf[10], 'Z'); // nothing is written beyond the bytes that came
  EXPECT_GE(took, 100.0); // the 11th byte is waited for
  EXPECT_LT(took, 1000.0);
}

TEST_F(PrimaryStrings, StrReadWithAllBytesStoresThemAndANul) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  const std::vector<uint8_t> sent = {'A', 'B', 'C', 0, 'E', 'F', 'G', 0, 0xFF, 'J', 'K', 'L', 'M', 'N', 'x', 'y'};
  inject(link, sent); // 16 bytes: two more than READLENGTH
  char buf[32];
  std::memset(buf, 'Z', sizeof buf);
  STRREAD(buf);
  EXPECT_EQ(std::memcmp(buf, sent.data(), 14), 0); // zero bytes stored as they came
  EXPECT_EQ(buf[14], 0);
  EXPECT_EQ(buf[15], 'Z');
  EXPECT_STREQ(buf, "ABC"); // so the text looks shorter
  // The two extra bytes are left for the next read.
  EXPECT_EQ(READBYTE(), 'x');
  EXPECT_EQ(READBYTE(), 'y');
}

TEST_F(PrimaryStrings, StrReadFollowsStrLength) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  EXPECT_EQ(STRLENGTH(20), 14);
  EXPECT_EQ(STRLENGTH(20), 20);
  EXPECT_EQ(STRLENGTH(3), 20);
  inject(link, "wxyz");
  char buf[16];
  std::memset(buf, 'Z', sizeof buf);
  STRREAD(buf);
  EXPECT_STREQ(buf, "wxy");
  EXPECT_EQ(buf[4], 'Z');
  EXPECT_EQ(READBYTE(), 'z');
}

TEST_F(PrimaryStrings, StrReadWithNoLengthGivesAnEmptyTextAndReadsNothing) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  inject(link, "q");
  ASSERT_TRUE(input_waiting(GETCOM()));
  for (int n : {0, -5}) {
    STRLENGTH(n);
    char buf[8] = "abcdef";
    double t0 = now_ms();
    STRREAD(buf);
    EXPECT_LT(now_ms() - t0, 50.0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 'b');
  }
  EXPECT_EQ(READBYTE(), 'q');
}

TEST_F(PrimaryStrings, StrReadWithoutAPortLeavesFehlerAtOnce) {
  char buf[16] = "something";
  double t0 = now_ms();
  STRREAD(buf);
  EXPECT_LT(now_ms() - t0, 50.0);
  EXPECT_STREQ(buf, "Fehler");
  STRREAD(nullptr); // nothing happens
}

// --- FLUSHIN / FLUSHOUT ---

TEST_F(PrimaryStrings, FlushInDiscardsPendingInputOnly) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  inject(link, "stale bytes");
  ASSERT_TRUE(bytes_waiting(GETCOM(), 11));
  EXPECT_EQ(FLUSHIN(), 1);
  EXPECT_EQ(READBYTE(), -1);
  // Later input is received as usual.
  inject(link, "new");
  char buf[4] = "   ";
  EXPECT_EQ(READSTRING(buf), 3);
  EXPECT_STREQ(buf, "new");
}

TEST_F(PrimaryStrings, FlushOutLeavesThePortUsable) {
  // A pty hands written bytes to its master at once, so what FLUSHOUT
  // discards cannot be seen there; its result and the port after it can.
  emu::PtyLink &link = attach_new<emu::EchoDevice>(3);
  open_primary(3);
  EXPECT_EQ(FLUSHOUT(), 1);
  char text[] = "after";
  EXPECT_EQ(SENDSTRING(text), 5);
  ASSERT_TRUE(link.wait_for(5, 2000));
  char buf[6] = "     ";
  EXPECT_EQ(READSTRING(buf), 5);
  EXPECT_STREQ(buf, "after");
}

TEST_F(PrimaryStrings, FlushesFailWithoutAPort) {
  EXPECT_EQ(FLUSHIN(), 0);
  EXPECT_EQ(FLUSHOUT(), 0);
  char bad[] = "COM6:19200,N,8,2";
  EXPECT_EQ(OPENCOM(bad), 0);
  EXPECT_EQ(FLUSHIN(), 0);
  EXPECT_EQ(FLUSHOUT(), 0);
}

} // namespace
} // namespace tavio::test
