// RTS, DTR, break and the modem status lines, on the primary port and in
// the slots. A pty has no modem lines, so their codes and bits are checked
// through a recording backend; on a real pty the functions must report the
// kernel's refusal rather than a success.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "recording_backend.h"
#include "test_support.h"

namespace tavio::test {
namespace {

using Escapes = std::vector<std::pair<platform::Handle, int>>;
using Breaks = std::vector<std::pair<platform::Handle, bool>>;

class Lines : public LibraryTest {
protected:
  int32_t open_slot(int32_t index, int com) {
    std::string m = mode(com);
    return IX_OPENCOM(index, m.data());
  }
};

// --- line codes ---

TEST_F(Lines, RtsAndDtrSendTheirCodesOnThePrimaryPort) {
  attach_new<emu::EchoDevice>(3);
  RecordingBackend rec;
  rec.fake_lines = true;
  open_primary(3);
  int32_t h = GETCOM();
  rec.forget();
  EXPECT_EQ(RTS(1), 1);
  EXPECT_EQ(RTS(0), 1);
  EXPECT_EQ(DTR(1), 1);
  EXPECT_EQ(DTR(0), 1);
  EXPECT_EQ(RTS(-7), 1); // any flag but 0 means on
  EXPECT_EQ(DTR(256), 1);
  EXPECT_EQ(rec.escapes, (Escapes{{h, 3}, {h, 4}, {h, 5}, {h, 6}, {h, 3}, {h, 5}}));
  rec.lines_fail = true;
  EXPECT_EQ(RTS(1), 0);
  EXPECT_EQ(DTR(0), 0);
}

TEST_F(Lines, RtsAndDtrSendTheirCodesInASlot) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  open_primary(3);
  int32_t h = open_slot(6, 4);
  ASSERT_NE(h, 0);
  rec.forget();
  EXPECT_EQ(IX_RTS(6, 1), 1);
  EXPECT_EQ(IX_RTS(6, 0), 1);
  EXPECT_EQ(IX_DTR(6, 9), 1);
  EXPECT_EQ(IX_DTR(6, 0), 1);
  EXPECT_EQ(IX_RTS(5, 1), 0); // empty slot
  EXPECT_EQ(rec.escapes, (Escapes{{h, 3}, {h, 4}, {h, 5}, {h, 6}}));
}

TEST_F(Lines, OpensDropRtsAndRaiseDtrTheSlotBeforeItsTimeOuts) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  open_primary(3);
  EXPECT_EQ(rec.steps, (std::vector<std::string>{"timeouts", "escape 4", "escape 5"}));
  EXPECT_EQ(rec.escapes, (Escapes{{GETCOM(), 4}, {GETCOM(), 5}}));
  rec.forget();
  int32_t h = open_slot(0, 4);
  ASSERT_NE(h, 0);
  EXPECT_EQ(rec.steps, (std::vector<std::string>{"escape 4", "escape 5", "timeouts"}));
  EXPECT_EQ(rec.escapes, (Escapes{{h, 4}, {h, 5}}));
}

TEST_F(Lines, RefusedTimeOutsStopThePrimaryOpenBeforeTheLinesButNotTheSlotOpen) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  rec.refuse_timeouts = true;
  std::string m3 = mode(3);
  EXPECT_EQ(OPENCOM(m3.data()), 0);
  EXPECT_GE(GETCOM(), 3); // the device stays open
  EXPECT_TRUE(rec.escapes.empty());
  EXPECT_EQ(open_slot(0, 4), 0);
  ASSERT_EQ(rec.escapes.size(), 2u);
  EXPECT_EQ(rec.escapes[0].second, 4);
  EXPECT_EQ(rec.escapes[1].second, 5);
}

TEST_F(Lines, RefusedLineCodesDoNotFailAnOpen) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  rec.lines_fail = true;
  open_primary(3);
  EXPECT_NE(open_slot(0, 4), 0);
  EXPECT_EQ(rec.escapes.size(), 4u);
}

// --- break ---

TEST_F(Lines, TxdStartsAndEndsABreak) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  open_primary(3);
  int32_t com = GETCOM();
  int32_t h = open_slot(1, 4);
  EXPECT_EQ(TXD(1), 1);
  EXPECT_EQ(TXD(0), 1);
  EXPECT_EQ(IX_TXD(1, -1), 1);
  EXPECT_EQ(IX_TXD(1, 0), 1);
  EXPECT_EQ(IX_TXD(2, 1), 0); // empty slot
  EXPECT_EQ(rec.breaks, (Breaks{{com, true}, {com, false}, {h, true}, {h, false}}));
  rec.lines_fail = true;
  EXPECT_EQ(TXD(1), 0);
  EXPECT_EQ(IX_TXD(1, 1), 0);
}

// --- modem status ---

struct StatusCase {
  uint32_t bits;
  int cts, dsr, ri, dcd;
};

TEST_F(Lines, ModemStatusBitsMapToTheirFunctions) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  RecordingBackend rec;
  rec.fake_lines = true;
  open_primary(3);
  ASSERT_NE(open_slot(4, 4), 0);
  const StatusCase cases[] = {
      {0x00, 0, 0, 0, 0},  {0x10, 1, 0, 0, 0}, {0x20, 0, 1, 0, 0},   {0x40, 0, 0, 1, 0},
      {0x80, 0, 0, 0, 1},  {0xF0, 1, 1, 1, 1}, {0x10F, 0, 0, 0, 0}, {0xFFFFFF0F, 0, 0, 0, 0},
      {0xA0, 0, 1, 0, 1},
  };
  for (const StatusCase &c : cases) {
    SCOPED_TRACE(c.bits);
    rec.modem_bits = c.bits;
    EXPECT_EQ(CTS(), c.cts);
    EXPECT_EQ(DSR(), c.dsr);
    EXPECT_EQ(RI(), c.ri);
    EXPECT_EQ(DCD(), c.dcd);
    EXPECT_EQ(IX_CTS(4), c.cts);
    EXPECT_EQ(IX_DSR(4), c.dsr);
    EXPECT_EQ(IX_RI(4), c.ri);
    EXPECT_EQ(IX_DCD(4), c.dcd);
  }
  // A status that cannot be read reads as all lines off.
  rec.modem_bits = 0xF0;
  rec.lines_fail = true;
  EXPECT_EQ(CTS() + DSR() + RI() + DCD(), 0);
  EXPECT_EQ(IX_CTS(4) + IX_DSR(4) + IX_RI(4) + IX_DCD(4), 0);
}

// --- the real backend ---

// Whether the kernel takes a break on a fresh pty slave.
bool kernel_breaks_on_pty() {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  bool ok = slave >= 0 && ::ioctl(slave, TIOCSBRK) == 0 && ::ioctl(slave, TIOCCBRK) == 0;
  if (slave >= 0) ::close(slave);
  ::close(master);
  return ok;
}

TEST_F(Lines, OnAPtyLineCodesAndStatusReportTheRefusal) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3);
  ASSERT_NE(open_slot(0, 4), 0);
  // The pty refuses modem-line ioctls (ENOTTY): no made-up success.
  EXPECT_EQ(RTS(1), 0);
  EXPECT_EQ(RTS(0), 0);
  EXPECT_EQ(DTR(1), 0);
  EXPECT_EQ(DTR(0), 0);
  EXPECT_EQ(CTS(), 0);
  EXPECT_EQ(DSR(), 0);
  EXPECT_EQ(RI(), 0);
  EXPECT_EQ(DCD(), 0);
  EXPECT_EQ(IX_RTS(0, 1), 0);
  EXPECT_EQ(IX_DTR(0, 1), 0);
  EXPECT_EQ(IX_CTS(0) + IX_DSR(0) + IX_RI(0) + IX_DCD(0), 0);
  // A break is what the kernel makes of it.
  int expected = kernel_breaks_on_pty() ? 1 : 0;
  EXPECT_EQ(TXD(1), expected);
  EXPECT_EQ(TXD(0), expected);
  EXPECT_EQ(IX_TXD(0, 1), expected);
  EXPECT_EQ(IX_TXD(0, 0), expected);
  // The port still carries data afterwards.
  EXPECT_EQ(SENDBYTE(42), 1);
  EXPECT_EQ(READBYTE(), 42);
}

TEST_F(Lines, WithoutAPortEveryLineFunctionFails) {
  EXPECT_EQ(RTS(1), 0);
  EXPECT_EQ(DTR(1), 0);
  EXPECT_EQ(TXD(1), 0);
  EXPECT_EQ(TXD(0), 0);
  EXPECT_EQ(CTS() + DSR() + RI() + DCD(), 0);
  std::string m = mode(6); // points nowhere: a failed open
  EXPECT_EQ(OPENCOM(m.data()), 0);
  EXPECT_EQ(RTS(1), 0);
  EXPECT_EQ(DTR(1), 0);
  EXPECT_EQ(TXD(1), 0);
  EXPECT_EQ(CTS() + DSR() + RI() + DCD(), 0);
  EXPECT_EQ(open_slot(3, 6), 0);
  EXPECT_EQ(IX_RTS(3, 1), 0);
  EXPECT_EQ(IX_TXD(3, 1), 0);
  EXPECT_EQ(IX_CTS(3) + IX_DSR(3) + IX_RI(3) + IX_DCD(3), 0);
}

} // namespace
} // namespace tavio::test
