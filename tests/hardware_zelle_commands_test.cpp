// The Zelle's commands and the register and RAM access of the Zelle and
// the Sios: bytes, waits and results.
#include "hardware/hardware.h"
#include "hardware_support.h"

namespace tavio::test {
namespace {

class ZelleCommands : public HardwareTest {};

TEST_F(ZelleCommands, SystemResetSendsTenZerosFourteenMillisecondsApartThenEmptiesBothBuffers) {
  // Whatever the device says during the reset is gone afterwards.
  emu::PtyLink &link = attach_new<emu::ScriptDevice>(3, [](uint8_t b, emu::Link &l) {
    if (b == 0) l.reply(0x55);
  });
  ASSERT_EQ(INITZELLE(3), 3);
  SendClock clock;
  double start = now_ms();
  EXPECT_EQ(SYSTEMRESET(), 1);
  EXPECT_GE(now_ms() - start, 140.0);
  EXPECT_EQ(wire(link, 10), Bytes(10, 0));
  ASSERT_EQ(clock.sent.size(), 10u);
  for (size_t k = 1; k < 10; ++k) EXPECT_GE(clock.gap(k), 13.95) << k;
  EXPECT_EQ(READBYTE(), -1) << "the answers were purged";
}

TEST_F(ZelleCommands, SystemResetOnAClosedPortFails) { EXPECT_EQ(SYSTEMRESET(), 0); }

TEST_F(ZelleCommands, TheZelleLetsTheResetPassAndTakesACommandAfterIt) {
  emu::PtyLink &link = select(kZelleRow);
  EXPECT_EQ(SYSTEMRESET(), 1);
  EXPECT_EQ(READBYTE(), -1) << "no answer to the reset";
  EXPECT_EQ(TASTER(), 0);
  EXPECT_EQ(wire(link, 11).back(), 13);
}

struct BatteryRow {
  const char *name;
  int answer; // -1: silent
  int32_t value;
};
std::ostream &operator<<(std::ostream &os, const BatteryRow &r) { return os << r.name; }
class Battery : public HardwareTest, public ::testing::WithParamInterface<BatteryRow> {};

TEST_P(Battery, ResetsTheLinkThenReadsChannelFour) {
  const BatteryRow &r = GetParam();
  emu::PtyLink *link;
  if (r.answer >= 0) {
    emu::DeviceOptions options;
    options.ain = {{4, r.answer}};
    link = &attach(3, emu::make_device("zelle", options));
  } else {
    link = &attach_new<emu::SilentDevice>(3);
  }
  std::string m = mode(3, "9600,N,8,2");
  ASSERT_EQ(OPENCOM(m.data()), 1); // no interface selected: UBAT does not look
  EXPECT_EQ(UBAT(), r.value);
  Bytes expected(10, 0);
  expected.push_back(7);
  expected.push_back(4);
  EXPECT_EQ(wire(*link, 12), expected);
}

INSTANTIATE_TEST_SUITE_P(All, Battery,
                         ::testing::Values(BatteryRow{"half", 128, 3400}, BatteryRow{"full", 255, 6800},
                                           BatteryRow{"low", 4, 100}, BatteryRow{"silent", -1, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BatteryValue, IsAHundredTimesTheTruncatedScaledReading) {
  for (int32_t b = 0; b <= 255; ++b) EXPECT_EQ(battery_value(b), 100 * (215 * b / 799)) << b;
}

TEST_F(ZelleCommands, PushButtonIsPressedOnlyWhenTheZelleAnswersZero) {
  emu::PtyLink &link = select(kZelleRow);
  EXPECT_EQ(TASTER(), 0);
  link.with_device<emu::ZelleDevice>([](auto &d) { d.set_button_pressed(true); });
  EXPECT_EQ(TASTER(), 1);
  EXPECT_EQ(wire(link, 2), (Bytes{13, 13}));
}

TEST_F(ZelleCommands, StatusInputIsZeroOnlyWhenTheZelleAnswersZero) {
  emu::PtyLink &link = select(kZelleRow);
  EXPECT_EQ(STEIN(), 0);
  link.with_device<emu::ZelleDevice>([](auto &d) { d.set_status_in(4); });
  EXPECT_EQ(STEIN(), 1);
  EXPECT_EQ(wire(link, 2), (Bytes{15, 15}));
}

TEST_F(ZelleCommands, ASilentZelleReadsAsButtonReleasedAndStatusOne) {
  emu::PtyLink &link = select_silent(kZelleRow);
  EXPECT_EQ(TASTER(), 0);
  EXPECT_EQ(STEIN(), 1);
  EXPECT_EQ(wire(link, 2), (Bytes{13, 15}));
}

TEST_F(ZelleCommands, StatusOutputSendsNegativeValuesAsZeroAndTheLowEightBits) {
  emu::PtyLink &link = select(kZelleRow);
  EXPECT_EQ(STAUS(-5), 1);
  EXPECT_EQ(wire(link, 2), (Bytes{14, 0}));
  EXPECT_EQ(STAUS(0x1A5), 1);
  EXPECT_EQ(wire(link, 4), (Bytes{14, 0, 14, 0xA5}));
  EXPECT_EQ(link.with_device<emu::ZelleDevice>([](auto &d) { return d.status_out(); }), 0xA5);
}

TEST_F(ZelleCommands, ZelleCommandsAreSentWhateverInterfaceIsSelected) {
  emu::PtyLink &link = select(kRsBoxRow);
  TASTER();
  STAUS(3);
  STEIN();
  EXPECT_EQ(wire(link, 4), (Bytes{13, 14, 3, 15}));
}

// --- registers and RAM

struct MemoryRow {
  Interface iface;
  Bytes reg_write, reg_read, ram_write, ram_read;
};
std::ostream &operator<<(std::ostream &os, const MemoryRow &r) { return os << r.iface.device; }
int ram_at(emu::PtyLink &link, const Interface &i, int address) {
  if (i.code == 4) return link.with_device<emu::SiosDevice>([&](auto &d) { return d.ram(address); });
  return link.with_device<emu::ZelleDevice>([&](auto &d) { return d.ram(address); });
}
class MemoryAccess : public HardwareTest, public ::testing::WithParamInterface<MemoryRow> {};

TEST_P(MemoryAccess, RegistersAreWrittenAndReadBack) {
  const MemoryRow &r = GetParam();
  emu::PtyLink &link = select(r.iface);
  EXPECT_EQ(REGAUS(3, 7), 1);
  EXPECT_EQ(wire(link, 3), r.reg_write);
  link.clear();
  EXPECT_EQ(REGEIN(3), 7);
  EXPECT_EQ(wire(link, 2), r.reg_read);
  EXPECT_EQ(REGEIN(4), 0);
}

TEST_P(MemoryAccess, RamTakesTheValueFirstAndTheAddressSecond) {
  const MemoryRow &r = GetParam();
  emu::PtyLink &link = select(r.iface);
  EXPECT_EQ(RAMAUS(66, 4660), 1);
  EXPECT_EQ(wire(link, 4), r.ram_write);
  EXPECT_EQ(ram_at(link, r.iface, 4660), 66);
  link.clear();
  RAMAUS(99, 300);
  wire(link, 4); // through a network server the bytes may still be on their way
  link.clear();
  EXPECT_EQ(RAMEIN(300), 99);
  EXPECT_EQ(wire(link, 3), r.ram_read);
  EXPECT_EQ(RAMEIN(4660), 66);
}

TEST_F(MemoryAccess, TheZelleGetsFourMillisecondsAfterTheRamCommand) {
  select(kZelleRow);
  SendClock clock;
  RAMAUS(66, 4660);
  RAMEIN(300);
  ASSERT_EQ(clock.sent.size(), 7u);
  EXPECT_GE(clock.gap(1), 5.95);
  EXPECT_GE(clock.gap(5), 5.95);
}

INSTANTIATE_TEST_SUITE_P(All, MemoryAccess,
                         ::testing::Values(MemoryRow{kSiosRow, {100, 3, 7}, {101, 3}, {98, 18, 52, 66}, {99, 1, 44}},
                                           MemoryRow{kZelleRow, {17, 3, 7}, {16, 3}, {19, 18, 52, 66}, {18, 1, 44}}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(ZelleCommands, OtherInterfacesRefuseRegistersAndRamButStillGetTheButtonByte) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  for (int32_t code : {0, 1, 16, 32, 64, 2}) {
    SETHARD(code);
    EXPECT_EQ(REGAUS(1, 2), -1) << code;
    EXPECT_EQ(REGEIN(1), -1) << code;
    EXPECT_EQ(RAMAUS(1, 2), -1) << code;
    EXPECT_EQ(RAMEIN(1), -1) << code;
  }
  TIMEOUT(0);
  TASTER();
  EXPECT_EQ(wire(link, 1), (Bytes{13}));
}

TEST_F(ZelleCommands, ASilentSiosReadsAsMinusOne) {
  select_silent(kSiosRow);
  EXPECT_EQ(REGEIN(1), -1);
  EXPECT_EQ(RAMEIN(1), -1);
}

} // namespace
} // namespace tavio::test
