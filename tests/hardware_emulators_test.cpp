// The interface emulators themselves: what they ignore, the rate they
// listen at, how they collect operands, and their signals.
#include "hardware_support.h"

namespace tavio::test {
namespace {

TEST(Emulators, EveryInterfaceIsMadeByNameAndListensAtItsRate) {
  const std::vector<std::string> names = emu::device_names();
  for (const Interface &i : kInterfaces) {
    EXPECT_NE(std::find(names.begin(), names.end(), i.device), names.end()) << i.device;
    auto d = emu::make_device(i.device);
    ASSERT_TRUE(d) << i.device;
    EXPECT_STREQ(d->name(), i.device);
    EXPECT_EQ(d->baud(), i.baud) << i.device;
  }
  emu::DeviceOptions o;
  o.baud = 19200;
  EXPECT_EQ(emu::make_device("ccontrol", o)->baud(), 19200u);
}

struct IgnoreRow {
  Interface iface;
  Bytes unknown; // bytes the device must let pass without a word
};
std::ostream &operator<<(std::ostream &os, const IgnoreRow &r) { return os << r.iface.device; }
class Ignores : public HardwareTest, public ::testing::WithParamInterface<IgnoreRow> {};

TEST_P(Ignores, BytesItDoesNotUnderstandGetNoAnswer) {
  const IgnoreRow &r = GetParam();
  select(r.iface);
  TIMEOUT(30);
  for (uint8_t b : r.unknown) SENDBYTE(b);
  EXPECT_EQ(READBYTE(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    All, Ignores,
    ::testing::Values(IgnoreRow{kCompuLabRow, {0, 0, 0, 2, 13, 16, 32, 48, 210, 255}},
                      IgnoreRow{kSiosRow, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 56, 80, 255}}, // ten 0: the link reset
                      IgnoreRow{kZelleRow, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 9, 100, 32, 255}},
                      IgnoreRow{kRsBoxRow, {0, 1, 13, 210, 16, 32, 255}},
                      IgnoreRow{kCamfaceRow, {0, 1, 16, 32, 49, 255}},
                      IgnoreRow{kCControlRow, {2, 1, 13, 98, 99, 100, 101, 255}}),
    [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(HardwareTest, AnInterfaceAtTheWrongRateStaysSilent) {
  emu::PtyLink &link = attach_new<emu::SiosDevice>(3);
  ASSERT_EQ(INITZELLE(3), 3); // 9600 baud
  SETHARD(4);
  EXPECT_EQ(AIN(1), -1);
  auto r = link.received();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].baud, 9600u);
  EXPECT_FALSE(r[0].delivered);
}

TEST_F(HardwareTest, OperandsThatLookLikeCommandsAreTakenAsOperands) {
  emu::PtyLink &link = select(kSiosRow);
  TIMEOUT(30);
  EXPECT_EQ(DOUT(32), 1);         // 32 alone would ask for the inputs
  EXPECT_EQ(REGAUS(101, 1), 1);   // register 101, value 1
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(link.with_device<emu::SiosDevice>([](auto &d) { return std::make_pair(d.digital_out(), d.reg(101)); }),
            std::make_pair(uint8_t{32}, uint8_t{1}));
  EXPECT_EQ(REGEIN(101), 1);
}

TEST_F(HardwareTest, TheSiosIdentifiesOnlyAfterAZero) {
  select(kSiosRow);
  TIMEOUT(30);
  SENDBYTE(1);
  EXPECT_EQ(READBYTE(), -1);
  SENDBYTE(0);
  SENDBYTE(1);
  EXPECT_EQ(READBYTE(), 10);
}

TEST_F(HardwareTest, AnalogInputsFollowTheirSignalsUnlessFixed) {
  emu::PtyLink &link = select(kSiosRow);
  link.with_device<emu::SiosDevice>([](auto &d) { d.set_analog_in(3, 77); });
  EXPECT_EQ(AIN(3), 77);
  link.with_device<emu::SiosDevice>([](auto &d) { d.set_analog_in(3, -1); });
  uint64_t t = link.with_device<emu::SiosDevice>([](auto &d) { return d.elapsed_ms(); });
  int32_t v = AIN(3);
  EXPECT_NEAR(v, emu::signal_value(3, t), 3.0) << "back on the triangle";
}

TEST(Signals, AreBelievableWaveforms) {
  // Channel 1: a sine about 128; channel 2: an RC discharge that falls and is
  // recharged every 10 s.
  EXPECT_EQ(emu::signal_value(1, 0), 128);
  EXPECT_EQ(emu::signal_value(1, 5000), 228);
  EXPECT_EQ(emu::signal_value(1, 15000), 28);
  EXPECT_EQ(emu::signal_value(2, 0), 250);
  EXPECT_NEAR(emu::signal_value(2, 2000), 250 / 2.718, 1.0);
  for (uint64_t t = 100; t < 10000; t += 100) EXPECT_LE(emu::signal_value(2, t), emu::signal_value(2, t - 100));
  EXPECT_EQ(emu::signal_value(2, 10000), 250);
  EXPECT_EQ(emu::signal_value(3, 8000), 255);
}

TEST_F(HardwareTest, TheZelleBatteryDefaultsToAFreshBattery) {
  select(kZelleRow);
  EXPECT_EQ(UBAT(), 4800);
}

} // namespace
} // namespace tavio::test
