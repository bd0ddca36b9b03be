// Digital and analog I/O: the command bytes of each interface, the results
// formed from the answers, and the simulation without an interface.
#include "fake_backend.h"
#include "hardware/hardware.h"
#include "hardware_support.h"

namespace tavio::test {
namespace {

// --- DOUT

struct DoutRow {
  Interface iface;
  Bytes sent;         // for DOUT(0x5A)
  uint8_t device_out; // what the device's outputs show afterwards
};
std::ostream &operator<<(std::ostream &os, const DoutRow &r) { return os << r.iface.device; }
class Dout : public HardwareTest, public ::testing::WithParamInterface<DoutRow> {};

TEST_P(Dout, SendsTheCommandAndTheValue) {
  const DoutRow &r = GetParam();
  emu::PtyLink &link = select(r.iface);
  EXPECT_EQ(DOUT(0x5A), 1);
  EXPECT_EQ(wire(link, r.sent.size()), r.sent);
  uint8_t out = link.with_device<emu::InterfaceDevice>([](auto &d) { return d.digital_out(); });
  EXPECT_EQ(out, r.device_out);
}

INSTANTIATE_TEST_SUITE_P(All, Dout,
                         ::testing::Values(DoutRow{kCompuLabRow, {81, 0x5A}, 0x5A}, DoutRow{kSiosRow, {16, 0x5A}, 0x5A},
                                           DoutRow{kZelleRow, {11, 0xAF}, 0x0A}, DoutRow{kRsBoxRow, {81, 0x5A}, 0x5A},
                                           DoutRow{kCamfaceRow, {72, 0x5A}, 0x5A},
                                           DoutRow{kCControlRow, {16, 0x5A}, 0x5A}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(HardwareTest, ZelleDoutUsesTheLowFourBitsAsTheHighHalf) {
  emu::PtyLink &link = select(kZelleRow);
  EXPECT_EQ(DOUT(5), 1);
  EXPECT_EQ(DOUT(21), 1);
  EXPECT_EQ(DOUT(-1), 1);
  EXPECT_EQ(wire(link, 6), (Bytes{11, 95, 11, 95, 11, 255}));
}

TEST_F(HardwareTest, DoutOnAClosedPortReportsTheFailedSend) {
  SETHARD(4);
  EXPECT_EQ(DOUT(1), 0);
}

// --- DIN

struct DinRow {
  Interface iface;
  Bytes sent;
  int32_t result; // for an input byte 0x96
};
std::ostream &operator<<(std::ostream &os, const DinRow &r) { return os << r.iface.device; }
class Din : public HardwareTest, public ::testing::WithParamInterface<DinRow> {};

TEST_P(Din, AsksForTheInputAndReturnsTheAnswer) {
  const DinRow &r = GetParam();
  emu::DeviceOptions options;
  options.din = 0x96;
  emu::PtyLink &link = select(r.iface, options);
  EXPECT_EQ(DIN(), r.result);
  EXPECT_EQ(wire(link, r.sent.size()), r.sent);
}

INSTANTIATE_TEST_SUITE_P(All, Din,
                         ::testing::Values(DinRow{kCompuLabRow, {211}, 0x96}, DinRow{kSiosRow, {32}, 0x96},
                                           DinRow{kZelleRow, {12}, 0x9}, DinRow{kRsBoxRow, {211}, 0x96},
                                           DinRow{kCamfaceRow, {64}, 0x96}, DinRow{kCControlRow, {32}, 0x96}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(HardwareTest, ZelleDinIsTheHighHalfOfTheAnswer) {
  emu::PtyLink &link = select(kZelleRow);
  link.with_device<emu::ZelleDevice>([](auto &d) { d.set_digital_in(167); });
  EXPECT_EQ(DIN(), 10);
  link.with_device<emu::ZelleDevice>([](auto &d) { d.set_digital_in(0x0F); });
  EXPECT_EQ(DIN(), 0);
}

// --- inputs from a silent interface

struct SilentRow {
  Interface iface;
  int32_t din;
  int32_t ain;
};
std::ostream &operator<<(std::ostream &os, const SilentRow &r) { return os << r.iface.device; }
class SilentInputs : public HardwareTest, public ::testing::WithParamInterface<SilentRow> {};

TEST_P(SilentInputs, TimeOutsGiveTheInterfacesFailureValues) {
  const SilentRow &r = GetParam();
  select_silent(r.iface);
  double start = now_ms();
  EXPECT_EQ(DIN(), r.din);
  EXPECT_EQ(AIN(1), r.ain);
  EXPECT_GE(now_ms() - start, 2 * 100.0) << "each read waited for its time-out";
}

INSTANTIATE_TEST_SUITE_P(All, SilentInputs,
                         ::testing::Values(SilentRow{kCompuLabRow, -1, -1}, SilentRow{kSiosRow, -1, -1},
                                           SilentRow{kZelleRow, 0, 0}, SilentRow{kRsBoxRow, -1, -1},
                                           SilentRow{kCamfaceRow, -1, -1},
                                           SilentRow{kCControlRow, -1, -1}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

// --- AIN

struct AinRow {
  Interface iface;
  Bytes ch1, ch2; // sent for AIN(1), AIN(2)
};
std::ostream &operator<<(std::ostream &os, const AinRow &r) { return os << r.iface.device; }
class Ain : public HardwareTest, public ::testing::WithParamInterface<AinRow> {};

TEST_P(Ain, ReadsEachChannelWithItsCommand) {
  const AinRow &r = GetParam();
  emu::DeviceOptions options;
  options.ain = {{1, 11}, {2, 222}};
  emu::PtyLink &link = select(r.iface, options);
  EXPECT_EQ(AIN(1), 11);
  EXPECT_EQ(wire(link, r.ch1.size()), r.ch1);
  link.clear();
  EXPECT_EQ(AIN(2), 222);
  EXPECT_EQ(wire(link, r.ch2.size()), r.ch2);
}

INSTANTIATE_TEST_SUITE_P(All, Ain,
                         ::testing::Values(AinRow{kCompuLabRow, {60}, {58}}, AinRow{kSiosRow, {48}, {49}},
                                           AinRow{kZelleRow, {7, 1}, {7, 2}},
                                           AinRow{kRsBoxRow, {176, 210, 210, 210}, {176, 210, 210, 210}},
                                           AinRow{kCamfaceRow, {48}, {50}}, AinRow{kCControlRow, {48}, {49}}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(HardwareTest, ChannelBytesBeyondTheFirstTwo) {
  emu::PtyLink &compulab = select(kCompuLabRow);
  AIN(5); // CompuLab: every channel but 1 is its second
  AIN(0);
  EXPECT_EQ(wire(compulab, 2), (Bytes{58, 58}));

  emu::DeviceOptions options;
  options.ain = {{5, 55}};
  emu::PtyLink &sios = select(kSiosRow, options, 4);
  EXPECT_EQ(AIN(5), 55);
  EXPECT_EQ(wire(sios, 1), (Bytes{52}));
  sios.clear();
  // Channel numbers at the ends of the range wrap to their low 8 bits.
  AIN(INT32_MAX);                    // 0x7FFFFFFF + 47 -> 0x2E
  AOUT(INT32_MAX, 9);                // 0x7FFFFFFF + 63 -> 0x3E, 9
  EXPECT_EQ(wire(sios, 3), (Bytes{0x2E, 0x3E, 9}));

  emu::PtyLink &zelle = select(kZelleRow, {}, 5);
  AIN(INT32_MIN); // index INT32_MIN - 1 wraps to INT32_MAX, sent as that + 1
  EXPECT_EQ(wire(zelle, 2), (Bytes{7, 0}));
}

TEST_F(HardwareTest, RsBoxChoosesTheSecondReadForChannelTwoAndTheThirdForChannelOne) {
  // The box answers the three clock bytes with 1, 2, 3 (and nothing more).
  int clocks = 0;
  emu::PtyLink &link = attach_new<emu::ScriptDevice>(3, [&clocks](uint8_t b, emu::Link &l) {
    if (b == 176) clocks = 0;
    if (b == 210 && clocks < 3) l.reply(static_cast<uint8_t>(++clocks));
  });
  ASSERT_EQ(INIT(3), 3);
  SendClock clock;
  EXPECT_EQ(AIN(1), 3);
  EXPECT_EQ(AIN(2), 2);
  EXPECT_EQ(wire(link, 8), (Bytes{176, 210, 210, 210, 176, 210, 210, 210}));
  ASSERT_EQ(clock.sent.size(), 8u);
  for (size_t k = 1; k < 4; ++k) EXPECT_GE(clock.gap(k), 2.95) << "2 ms after each byte, then 1 ms more";
}

TEST_F(HardwareTest, RsBoxReadThatTimesOutYieldsMinusOneInItsPlace) {
  int clocks = 0;
  emu::PtyLink &link = attach_new<emu::ScriptDevice>(3, [&clocks](uint8_t b, emu::Link &l) {
    if (b == 176) clocks = 0;
    if (b == 210 && ++clocks < 3) l.reply(static_cast<uint8_t>(40 + clocks)); // third clock unanswered
  });
  ASSERT_EQ(INIT(3), 3);
  EXPECT_EQ(AIN(1), -1);
  EXPECT_EQ(AIN(2), 42) << "the full exchange runs whatever the channel";
  EXPECT_EQ(link.bytes().size(), 8u);
}

TEST_F(HardwareTest, RsBoxChannelsOutsideOneAndTwoGiveZeroWithoutSending) {
  emu::PtyLink &link = select(kRsBoxRow);
  EXPECT_EQ(AIN(3), 0);
  EXPECT_EQ(AIN(0), 0);
  EXPECT_EQ(AIN(-1), 0);
  EXPECT_TRUE(wire(link, 0).empty());
}

// --- AOUT

struct AoutRow {
  Interface iface;
  Bytes sent; // for AOUT(1, 100), AOUT(2, 200)
  int32_t result;
};
std::ostream &operator<<(std::ostream &os, const AoutRow &r) { return os << r.iface.device; }
class Aout : public HardwareTest, public ::testing::WithParamInterface<AoutRow> {};

TEST_P(Aout, SendsChannelAndLevelWhereTheInterfaceHasOutputs) {
  const AoutRow &r = GetParam();
  emu::PtyLink &link = select(r.iface);
  EXPECT_EQ(AOUT(1, 100), r.result);
  EXPECT_EQ(AOUT(2, 200), r.result);
  EXPECT_EQ(wire(link, r.sent.size()), r.sent);
  if (r.result == 1) {
    auto outs = link.with_device<emu::InterfaceDevice>(
        [](auto &d) { return std::make_pair(d.analog_out(1), d.analog_out(2)); });
    EXPECT_EQ(outs, std::make_pair(100, 200));
  }
}

INSTANTIATE_TEST_SUITE_P(All, Aout,
                         ::testing::Values(AoutRow{kCompuLabRow, {}, 0}, AoutRow{kSiosRow, {64, 100, 65, 200}, 1},
                                           AoutRow{kZelleRow, {}, 0}, AoutRow{kRsBoxRow, {}, 0},
                                           AoutRow{kCamfaceRow, {58, 100, 60, 200}, 1},
                                           AoutRow{kCControlRow, {64, 100, 65, 200}, 1}),
                         [](const auto &info) { return std::string(info.param.iface.device); });

TEST_F(HardwareTest, CamfaceTreatsEveryOutputChannelButOneAsItsSecond) {
  emu::PtyLink &link = select(kCamfaceRow);
  AOUT(7, 300);
  EXPECT_EQ(wire(link, 2), (Bytes{60, 44}));
}

// --- codes that no function serves

TEST_F(HardwareTest, UnservedCodesGiveFixedResultsWithNothingOnTheWire) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(3);
  open_primary(3);
  for (int32_t code : {2, 3, 128, -1}) {
    SETHARD(code);
    EXPECT_EQ(DOUT(1), 1) << code;
    EXPECT_EQ(DIN(), 127) << code;
    EXPECT_EQ(AIN(1), -1) << code;
    EXPECT_EQ(AOUT(1, 1), 0) << code;
  }
  EXPECT_TRUE(wire(link, 0).empty());
}

// --- simulation

TEST(Simulation, FollowsTheSineAndCosineOfTheTimer) {
  EXPECT_EQ(simulated_input(1, 0), 127);
  EXPECT_EQ(simulated_input(2, 0), 254);
  EXPECT_EQ(simulated_input(3, 0), 127);
  EXPECT_EQ(simulated_input(4, 0), 254);
  EXPECT_EQ(simulated_input(1, 5000), 216);
  EXPECT_EQ(simulated_input(2, 5000), 213);
  EXPECT_EQ(simulated_input(3, 5000), 219);
  EXPECT_EQ(simulated_input(4, 5000), 216);
  for (int32_t channel : {0, 5, -1}) EXPECT_EQ(simulated_input(channel, 5000), -1);
  for (uint32_t t = 0; t < 100000; t += 97)
    for (int32_t channel = 1; channel <= 4; ++channel) {
      int32_t v = simulated_input(channel, t);
      ASSERT_GE(v, 0);
      ASSERT_LE(v, 254);
    }
}

TEST_F(HardwareTest, WithoutAnInterfaceInputsAreSimulatedAndOutputsSendNothing) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(3);
  open_primary(3); // a port is open, but no interface is selected
  FakeBackend fake;
  fake.set_clock_ms(5000);
  EXPECT_EQ(AIN(1), 216);
  EXPECT_EQ(AIN(2), 213);
  EXPECT_EQ(AIN(3), 219);
  EXPECT_EQ(AIN(4), 216);
  EXPECT_EQ(AIN(0), -1);
  EXPECT_EQ(AIN(5), -1);
  EXPECT_EQ(DIN(), 216) << "DIN is analog channel 1";
  EXPECT_EQ(DOUT(0xFF), 1);
  EXPECT_EQ(AOUT(1, 5), 0);
  // The timer wraps after 2^32 ms; the simulation starts over with it.
  fake.set_clock_ms((1ull << 32) + 5000);
  EXPECT_EQ(AIN(3), 219);
  fake.set_clock_ms(1ull << 32);
  EXPECT_EQ(AIN(2), 254);
  EXPECT_TRUE(wire(link, 0).empty());
}

} // namespace
} // namespace tavio::test
