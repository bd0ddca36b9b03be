// The port table: eight slots beside the primary port, over real
// pseudo-terminals.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "recording_backend.h"
#include "serial_helpers.h"
#include "test_support.h"

namespace tavio::test {
namespace {

class PortTable : public LibraryTest {
protected:
  // Opens COM<com> in a slot; the handle, or 0.
  int32_t open_slot(int32_t index, int com, const char *settings = "19200,N,8,2") {
    std::string m = mode(com, settings);
    return IX_OPENCOM(index, m.data());
  }
};

// A device that answers every byte with byte + offset, so that each port's
// replies can be told apart.
std::unique_ptr<emu::Device> adder(int offset) {
  return std::make_unique<emu::ScriptDevice>(
      [offset](uint8_t b, emu::Link &link) { link.reply(static_cast<uint8_t>(b + offset)); });
}

// --- index range ---

TEST_F(PortTable, IndexOutOfRangeDoesNothingAndGivesFixedResults) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(4);
  for (int32_t index : {-1, 8, 9, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(open_slot(index, 4), 0);
    EXPECT_EQ(IX_CLOSECOM(index), -1);
    EXPECT_EQ(IX_STRLENGTH(index, 20), -1);
    EXPECT_EQ(IX_TIMEOUT(index, 300), -1);
    EXPECT_EQ(IX_TIMEOUTOLD(index, 300), -1);
    EXPECT_EQ(IX_SENDBYTE(index, 65), -1);
    EXPECT_EQ(IX_READBYTE(index), -1);
    EXPECT_EQ(IX_CTS(index), 0);
    EXPECT_EQ(IX_DCD(index), 0);
    EXPECT_EQ(IX_DSR(index), 0);
    EXPECT_EQ(IX_RI(index), 0);
    char text[] = "abc";
    EXPECT_EQ(IX_SENDSTRING(index, text), 0);
    EXPECT_EQ(IX_READSTRING(index, text), 0);
    EXPECT_EQ(IX_RTS(index, 1), 0);
    EXPECT_EQ(IX_DTR(index, 1), 0);
    EXPECT_EQ(IX_TXD(index, 1), 0);
    char buf[16] = "untouched";
    IX_STRREAD(index, buf);
    EXPECT_STREQ(buf, "untouched");
  }
  EXPECT_FALSE(link.wait_for(1, 50));
  // None of this opened the device: a slot can have it.
  EXPECT_NE(open_slot(0, 4), 0);
  // Nor changed any slot's settings.
  EXPECT_EQ(IX_STRLENGTH(0, 14), 14);
  EXPECT_EQ(IX_TIMEOUT(0, 100), 100);
}

// --- empty slots ---

TEST_F(PortTable, EmptySlotResults) {
  EXPECT_EQ(IX_STRLENGTH(0, 20), 14);
  EXPECT_EQ(IX_STRLENGTH(0, 20), 20);
  EXPECT_EQ(IX_TIMEOUT(0, 300), -1);
  EXPECT_EQ(IX_TIMEOUTOLD(0, 300), -1);
  EXPECT_EQ(IX_CLOSECOM(5), 0);
  EXPECT_EQ(IX_CLOSECOM(5), 0);
  char text[] = "abc";
  EXPECT_EQ(IX_SENDSTRING(2, text), 0);
  EXPECT_EQ(IX_READSTRING(2, text), 0);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(IX_RTS(2, 1), 0);
  EXPECT_EQ(IX_DTR(2, 1), 0);
  EXPECT_EQ(IX_TXD(2, 1), 0);
  EXPECT_EQ(IX_TXD(2, 0), 0);
  EXPECT_EQ(IX_CTS(2), 0);
  EXPECT_EQ(IX_DCD(2), 0);
  EXPECT_EQ(IX_DSR(2), 0);
  EXPECT_EQ(IX_RI(2), 0);
}

TEST_F(PortTable, EmptySlotBytesAreZeroAtOnceWithoutThePause) {
  // 50 sends with their 2 ms pauses would take 100 ms at least.
  double t0 = now_ms();
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(IX_SENDBYTE(2, 65), 0);
    ASSERT_EQ(IX_READBYTE(2), 0);
  }
  EXPECT_LT(now_ms() - t0, 50.0);
}

TEST_F(PortTable, StrReadOnAnEmptySlot) {
  // An empty text is left alone, whatever the slot.
  char empty[8] = {0, 'k', 'e', 'e', 'p', 0, 'Z', 'Z'};
  const char before[8] = {0, 'k', 'e', 'e', 'p', 0, 'Z', 'Z'};
  IX_STRREAD(0, empty);
  EXPECT_EQ(std::memcmp(empty, before, 8), 0);
  // A non-empty text becomes an empty one: every byte comes as a zero.
  IX_STRLENGTH(0, 5);
  char buf[8] = {'h', 'e', 'l', 'l', 'o', '!', 0, 'Z'};
  double t0 = now_ms();
  IX_STRREAD(0, buf);
  EXPECT_LT(now_ms() - t0, 50.0);
  const char want[8] = {0, 0, 0, 0, 0, 0, 0, 'Z'};
  EXPECT_EQ(std::memcmp(buf, want, 8), 0);
  IX_STRREAD(0, nullptr); // nothing happens
}

// --- failed opens ---

TEST_F(PortTable, MissingDeviceLeavesAFailedSlotThatCloseEmpties) {
  EXPECT_EQ(open_slot(1, 6), 0); // COM6 points nowhere
  double t0 = now_ms();
  EXPECT_EQ(IX_READBYTE(1), -1); // refused by the platform: not the empty-slot 0
  EXPECT_LT(now_ms() - t0, 50.0);
  t0 = now_ms();
  EXPECT_EQ(IX_SENDBYTE(1, 65), 0);
  EXPECT_GE(now_ms() - t0, 2.0); // a failed slot is not empty: the pause is kept
  char buf[16] = "text";
  IX_STRREAD(1, buf);
  EXPECT_STREQ(buf, "Fehler");
  EXPECT_EQ(IX_TIMEOUT(1, 300), -1);
  EXPECT_EQ(IX_CLOSECOM(1), 0);
  EXPECT_EQ(IX_READBYTE(1), 0); // empty again
}

TEST_F(PortTable, RefusedSettingsLeaveTheDeviceOpenInTheSlot) {
  attach_new<emu::EchoDevice>(4);
  EXPECT_EQ(open_slot(0, 4, "fast please"), 0);
  EXPECT_EQ(open_slot(1, 4), 0); // still held by slot 0
  EXPECT_EQ(IX_CLOSECOM(0), 0);
  EXPECT_NE(open_slot(1, 4), 0);
}

// --- open slots ---

TEST_F(PortTable, OpenGivesTheHandleAndLeavesThePrimaryPortAlone) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3);
  SETHARD(4);
  int32_t com = GETCOM();
  int32_t h = open_slot(3, 4);
  EXPECT_GE(h, 3);
  EXPECT_NE(h, com);
  EXPECT_EQ(GETCOM(), com);
  EXPECT_EQ(GETHARD(), 4);
  EXPECT_EQ(IX_SENDBYTE(3, 321), 1); // the low 8 bits: 65
  EXPECT_EQ(IX_READBYTE(3), 65);
  EXPECT_EQ(IX_TIMEOUT(3, 50), 100);
  EXPECT_EQ(IX_CLOSECOM(3), 0);
  EXPECT_EQ(GETCOM(), com);
  EXPECT_EQ(GETHARD(), 4);
  // Reopening a slot that holds a port closes it first.
  int32_t h1 = open_slot(3, 4);
  EXPECT_NE(h1, 0);
  EXPECT_NE(open_slot(3, 4), 0);
  EXPECT_EQ(GETHARD(), 4);
}

TEST_F(PortTable, TwoSlotsAndThePrimaryPortKeepTheirTrafficApart) {
  emu::PtyLink &primary = attach(3, adder(1));
  emu::PtyLink &slot0 = attach(4, adder(2));
  emu::PtyLink &slot1 = attach(5, adder(3));
  open_primary(3);
  ASSERT_NE(open_slot(0, 4), 0);
  ASSERT_NE(open_slot(1, 5), 0);

  // Bytes: all three sent first, then all three answers read.
  EXPECT_EQ(SENDBYTE(10), 1);
  EXPECT_EQ(IX_SENDBYTE(0, 20), 1);
  EXPECT_EQ(IX_SENDBYTE(1, 30), 1);
  EXPECT_EQ(IX_READBYTE(1), 33);
  EXPECT_EQ(IX_READBYTE(0), 22);
  EXPECT_EQ(READBYTE(), 11);

  // Strings, the same way.
  char s0[] = "slot zero", s1[] = "slot one", p[] = "primary";
  EXPECT_EQ(IX_SENDSTRING(0, s0), 9);
  EXPECT_EQ(IX_SENDSTRING(1, s1), 8);
  EXPECT_EQ(SENDSTRING(p), 7);
  char r0[] = "         ", r1[] = "        ", rp[] = "       ";
  EXPECT_EQ(IX_READSTRING(1, r1), 8);
  EXPECT_EQ(IX_READSTRING(0, r0), 9);
  EXPECT_EQ(READSTRING(rp), 7);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(static_cast<uint8_t>(r0[i]), static_cast<uint8_t>(s0[i] + 2));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(static_cast<uint8_t>(r1[i]), static_cast<uint8_t>(s1[i] + 3));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<uint8_t>(rp[i]), static_cast<uint8_t>(p[i] + 1));

  EXPECT_EQ(primary.bytes(), (std::vector<uint8_t>{10, 'p', 'r', 'i', 'm', 'a', 'r', 'y'}));
  EXPECT_EQ(slot0.bytes(), (std::vector<uint8_t>{20, 's', 'l', 'o', 't', ' ', 'z', 'e', 'r', 'o'}));
  EXPECT_EQ(slot1.bytes(), (std::vector<uint8_t>{30, 's', 'l', 'o', 't', ' ', 'o', 'n', 'e'}));
  EXPECT_EQ(GETHARD(), 0);

  // Closing one leaves the others working; the primary port's close leaves
  // the slots alone.
  EXPECT_EQ(IX_CLOSECOM(0), 0);
  EXPECT_EQ(SENDBYTE(1), 1);
  EXPECT_EQ(READBYTE(), 2);
  CLOSECOM();
  EXPECT_EQ(IX_SENDBYTE(1, 1), 1);
  EXPECT_EQ(IX_READBYTE(1), 4);
}

TEST_F(PortTable, SlotTimeOutsAndLengthsAreThePerSlotOnes) {
  emu::PtyLink &a = attach_new<emu::SilentDevice>(4);
  attach_new<emu::SilentDevice>(5);
  open_slot(0, 4);
  open_slot(1, 5);
  EXPECT_EQ(IX_TIMEOUT(1, 30), 100);
  EXPECT_EQ(IX_STRLENGTH(0, 3), 14);
  EXPECT_EQ(STRLENGTH(14), 14); // the primary port's length is its own
  double t0 = now_ms();
  EXPECT_EQ(IX_READBYTE(1), -1);
  double took = now_ms() - t0;
  EXPECT_GE(took, 31.0);
  EXPECT_LT(took, 90.0); // not slot 0's 100 ms, not the primary port's
  inject(a, "abcd");
  char buf[16];
  std::memset(buf, 'Z', sizeof buf);
  buf[0] = 'x';
  IX_STRREAD(0, buf);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(buf[4], 'Z');
  EXPECT_EQ(IX_READBYTE(0), 'd');
}

TEST_F(PortTable, StrReadOnAnOpenSlot) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(4);
  int32_t h = open_slot(2, 4);
  ASSERT_NE(h, 0);
  // The empty-text rule holds on an open slot too: nothing is read.
  inject(link, "0123456789");
  ASSERT_TRUE(bytes_waiting(h, 10));
  char empty[4] = {0, 'a', 'b', 0};
  IX_STRREAD(2, empty);
  EXPECT_EQ(empty[0], 0);
  EXPECT_EQ(empty[1], 'a');
  ASSERT_TRUE(bytes_waiting(h, 10));
  // Ten bytes of fourteen: "Fehler" after the time-out.
  char buf[32];
  std::memset(buf, 'Z', sizeof buf);
  buf[0] = '?';
  double t0 = now_ms();
  IX_STRREAD(2, buf);
  EXPECT_GE(now_ms() - t0, 100.0);
  EXPECT_STREQ(buf, "Fehler");
  // Fourteen bytes: all of them and a NUL.
  const std::vector<uint8_t> sent = {'A', 0, 'C', 'D', 'E', 'F', 'G', 'H', 0xFE, 'J', 'K', 'L', 'M', 'N'};
  inject(link, sent);
  std::memset(buf, 'Z', sizeof buf);
  buf[0] = '?';
  IX_STRREAD(2, buf);
  EXPECT_EQ(std::memcmp(buf, sent.data(), 14), 0);
  EXPECT_EQ(buf[14], 0);
  EXPECT_EQ(buf[15], 'Z');
}

TEST_F(PortTable, SettingsSurviveCloseAndReopen) {
  attach_new<emu::SilentDevice>(4);
  ASSERT_NE(open_slot(3, 4), 0);
  EXPECT_EQ(IX_TIMEOUT(3, 300), 100);
  EXPECT_EQ(IX_STRLENGTH(3, 4), 14);
  EXPECT_EQ(IX_CLOSECOM(3), 0);
  EXPECT_EQ(IX_TIMEOUT(3, 50), -1); // closed: refused, entry kept
  ASSERT_NE(open_slot(3, 4), 0);
  double t0 = now_ms();
  EXPECT_EQ(IX_READBYTE(3), -1);
  double took = now_ms() - t0;
  EXPECT_GE(took, 301.0);
  EXPECT_LT(took, 800.0);
  EXPECT_EQ(IX_STRLENGTH(3, 14), 4);
  EXPECT_EQ(IX_TIMEOUTOLD(3, 150), 300);
  EXPECT_EQ(IX_TIMEOUT(3, 100), 150);
}

TEST_F(PortTable, OpenAndTimeOutFunctionsInstallTheirSets) {
  attach_new<emu::SilentDevice>(4);
  RecordingBackend rec;
  ASSERT_NE(open_slot(3, 4), 0);
  EXPECT_EQ(IX_TIMEOUT(3, 300), 100);
  EXPECT_EQ(IX_TIMEOUTOLD(3, 250), 300);
  IX_CLOSECOM(3);
  int32_t h = open_slot(3, 4);
  ASSERT_NE(h, 0);
  ASSERT_EQ(rec.timeout_sets.size(), 4u);
  EXPECT_TRUE(same_set(rec.timeout_sets[0].second, {100, 1, 100, 1, 100}));
  EXPECT_TRUE(same_set(rec.timeout_sets[1].second, {300, 1, 300, 1, 300}));
  EXPECT_TRUE(same_set(rec.timeout_sets[2].second, {0, 1, 250, 10, 20}));
  EXPECT_TRUE(same_set(rec.timeout_sets[3].second, {250, 1, 250, 1, 250}));
  EXPECT_EQ(rec.timeout_sets[3].first, h);
}

TEST_F(PortTable, RefusedTimeOutsFailTheOpenButKeepTheDevice) {
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.refuse_timeouts = true;
  EXPECT_EQ(open_slot(0, 4), 0);
  EXPECT_EQ(IX_TIMEOUT(0, 300), -1);
  rec.refuse_timeouts = false;
  EXPECT_EQ(open_slot(1, 4), 0); // slot 0 holds the device
  EXPECT_EQ(IX_TIMEOUT(0, 300), 100); // and it is usable
  EXPECT_EQ(IX_CLOSECOM(0), 0);
  EXPECT_NE(open_slot(1, 4), 0);
}

// --- exclusivity ---

TEST_F(PortTable, ADeviceIsOpenOnceAmongThePrimaryPortAndTheSlots) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3);
  int32_t com = GETCOM();
  // The primary port's device cannot go into a slot.
  EXPECT_EQ(open_slot(2, 3), 0);
  EXPECT_EQ(IX_READBYTE(2), -1); // a failed slot, not an empty one
  EXPECT_EQ(GETCOM(), com);
  EXPECT_EQ(SENDBYTE(7), 1);
  EXPECT_EQ(READBYTE(), 7);
  // A slot's device cannot go into another slot, nor become the primary port.
  ASSERT_NE(open_slot(2, 4), 0);
  EXPECT_EQ(open_slot(5, 4), 0);
  std::string m4 = mode(4);
  EXPECT_EQ(OPENCOM(m4.data()), 0);
  EXPECT_EQ(GETCOM(), -1);
  EXPECT_EQ(IX_SENDBYTE(2, 8), 1); // the slot is not disturbed
  EXPECT_EQ(IX_READBYTE(2), 8);
  // Once closed, it is free for the others.
  EXPECT_EQ(IX_CLOSECOM(2), 0);
  EXPECT_EQ(OPENCOM(m4.data()), 1);
  CLOSECOM();
  EXPECT_NE(open_slot(5, 4), 0);
}

} // namespace
} // namespace tavio::test
