// Interface detection: the six probes on COM1 to COM8, what a find leaves
// behind, and the messages.
#include <cstdlib>

#include "hardware_support.h"

namespace tavio::test {
namespace {

std::vector<std::string> g_messages;
SendClock *g_clock = nullptr;
size_t g_sent_at_message = 0;

void capture(const char *, const char *text) {
  g_messages.emplace_back(text);
  if (g_clock) g_sent_at_message = g_clock->sent.size();
}

struct Wire {
  uint8_t byte;
  uint32_t baud;
  bool operator==(const Wire &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Wire &w) { return os << int(w.byte) << "@" << w.baud; }

std::vector<Wire> wire_with_rates(const emu::PtyLink &link, size_t n) {
  wire(link, n);
  std::vector<Wire> out;
  for (const emu::Received &r : link.received()) out.push_back({r.byte, r.baud});
  return out;
}

// The bytes of probes 1 to 6, each at the rate its probe opens the port with.
const std::vector<Wire> kAllProbes = {
    {0, 19200}, {1, 19200},            // 1: Sios, CompuLab
    {13, 19200},                       // 2: Camface
    {0, 9600},  {13, 9600},            // 3: Zelle
    {0, 9600},  {1, 9600},             // 4: C-Control
    {0, 19200}, {1, 19200},            // 5: C-Control at 19200
    {0, 19200}, {211, 19200},          // 6: RS-Box
};

std::vector<Wire> first_probes(size_t n) { return {kAllProbes.begin(), kAllProbes.begin() + n}; }
std::vector<Wire> then(std::vector<Wire> w, std::initializer_list<Wire> more) {
  w.insert(w.end(), more);
  return w;
}

class Detection : public HardwareTest {
protected:
  void SetUp() override {
    HardwareTest::SetUp();
    g_messages.clear();
    g_clock = nullptr;
    g_sent_at_message = 0;
    tavio32_set_message_handler(capture);
  }
  void TearDown() override {
    g_clock = nullptr;
    HardwareTest::TearDown();
  }
};

TEST_F(Detection, APortWithoutInterfaceSeesAllSixProbesAtTheirRates) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(1);
  SendClock clock;
  double start = now_ms();
  EXPECT_EQ(FINDHARD(1), 0);
  double took = now_ms() - start;
  EXPECT_EQ(wire_with_rates(link, kAllProbes.size()), kAllProbes);
  EXPECT_GE(took, 6 * 101.0) << "six read time-outs";
  ASSERT_EQ(clock.sent.size(), kAllProbes.size());
  for (size_t second : {4, 6, 8, 10}) EXPECT_GE(clock.gap(second), 11.95) << "10 ms pause in probes 3 to 6";
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(GETCOM(), 0) << "nothing found: the port is closed";
  EXPECT_EQ(g_messages, std::vector<std::string>{"Keine Hardware gefunden: Simulation"});
}

struct FindRow {
  const char *device;
  emu::DeviceOptions options;
  int32_t code;
  std::vector<Wire> wire;
  uint32_t baud_after; // the rate the port stays open at
  const char *message;
  size_t sent_before_message; // the switch-off comes before the message, except on the RS-Box
};
std::ostream &operator<<(std::ostream &os, const FindRow &r) { return os << r.device; }

emu::DeviceOptions din(int value) {
  emu::DeviceOptions o;
  o.din = value;
  return o;
}

class Find : public Detection, public ::testing::WithParamInterface<FindRow> {};

TEST_P(Find, EachInterfaceIsFoundByItsProbeAndLeftOpen) {
  const FindRow &r = GetParam();
  emu::PtyLink &link = attach(3, emu::make_device(r.device, r.options));
  SendClock clock;
  g_clock = &clock;
  EXPECT_EQ(FINDHARD(1), r.code);
  EXPECT_EQ(GETHARD(), r.code);
  EXPECT_EQ(wire_with_rates(link, r.wire.size()), r.wire);
  EXPECT_GT(GETCOM(), 2) << "the port stays open";
  EXPECT_EQ(link.line().baud, r.baud_after);
  EXPECT_EQ(g_messages, std::vector<std::string>{r.message});
  EXPECT_EQ(g_sent_at_message, r.sent_before_message);
}

INSTANTIATE_TEST_SUITE_P(
    All, Find,
    ::testing::Values(
        FindRow{"sios", {}, 4, then(first_probes(2), {{16, 19200}, {0, 19200}}), 19200,
                "Gefundene Hardware: \nSios an COM3", 4},
        FindRow{"compulab", {}, 1, then(first_probes(2), {{81, 19200}, {0, 19200}}), 19200,
                "Gefundene Hardware: \nCompuLab an COM3", 4},
        FindRow{"camface", {}, 32, then(first_probes(3), {{72, 19200}, {0, 19200}}), 19200,
                "Gefundene Hardware: \nCamface an COM3", 5},
        FindRow{"zelle", {}, 8, first_probes(5), 9600, "Gefundene Hardware: \nZelle an COM3", 5},
        FindRow{"ccontrol", {}, 64, first_probes(7), 9600, "Gefundene Hardware: \nC-Control an COM3", 7},
        FindRow{"rsbox", din(7), 16, then(first_probes(11), {{81, 19200}, {0, 19200}}), 19200,
                "Gefundene Hardware: \nRS-Box an COM3", 11}),
    [](const auto &info) { return std::string(info.param.device); });

TEST_F(Detection, CompuLabIdentificationsTwoHundredToTwoHundredNineAllMatch) {
  for (int ident : {200, 209}) {
    emu::DeviceOptions o;
    o.ident = ident;
    attach(3, emu::make_device("compulab", o));
    EXPECT_EQ(FINDHARD(0), 1) << ident;
  }
  EXPECT_TRUE(g_messages.empty()) << "flag 0 shows nothing";
}

TEST_F(Detection, CControlListeningAtNineteenTwoHundredIsFoundByProbeFive) {
  emu::DeviceOptions o;
  o.baud = 19200;
  emu::PtyLink &link = attach(1, emu::make_device("ccontrol", o));
  EXPECT_EQ(FINDHARD(1), 64);
  auto w = wire_with_rates(link, 9);
  EXPECT_EQ(w, first_probes(9));
  auto r = link.received();
  for (size_t k = 3; k < 7; ++k) EXPECT_FALSE(r[k].delivered) << "probes 3 and 4 speak at 9600 baud";
  EXPECT_EQ(link.line().baud, 19200u);
  EXPECT_EQ(g_messages, std::vector<std::string>{"Gefundene Hardware: \nC-Control an COM1"});
}

TEST_F(Detection, AnRsBoxWhoseInputsReadZeroIsNotFound) {
  emu::PtyLink &link = attach(1, emu::make_device("rsbox", din(0)));
  EXPECT_EQ(FINDHARD(0), 0);
  EXPECT_EQ(wire_with_rates(link, 11), kAllProbes) << "no switch-off";
  EXPECT_EQ(GETCOM(), 0);
}

TEST_F(Detection, ThePortComesBeforeTheKind) {
  emu::PtyLink &zelle = attach_new<emu::ZelleDevice>(1);
  emu::PtyLink &sios = attach_new<emu::SiosDevice>(2);
  EXPECT_EQ(FINDHARD(0), 8);
  EXPECT_EQ(zelle.line().baud, 9600u);
  EXPECT_EQ(wire(zelle, 5).size(), 5u);
  EXPECT_TRUE(sios.bytes().empty()) << "COM2 is not tried after a find on COM1";
  EXPECT_EQ(SETHARD(8), 8);
  EXPECT_EQ(TASTER(), 0) << "the primary port talks to the Zelle on COM1";
}

TEST_F(Detection, PortNineIsNeverProbed) {
  emu::PtyLink &sios = attach_new<emu::SiosDevice>(9);
  double start = now_ms();
  EXPECT_EQ(FINDHARD(0), 0);
  EXPECT_LT(now_ms() - start, 100.0);
  EXPECT_TRUE(wire(sios, 0).empty());
}

TEST_F(Detection, WithoutPortsNothingWaitsAndTheSimulationIsSelected) {
  SETHARD(4);
  double start = now_ms();
  EXPECT_EQ(FINDHARD(1), 0);
  EXPECT_LT(now_ms() - start, 100.0) << "no read time-out is waited for";
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(GETCOM(), 0);
  EXPECT_EQ(g_messages, std::vector<std::string>{"Keine Hardware gefunden: Simulation"});
}

TEST_F(Detection, TheCallersOpenPortIsClosedByTheFirstProbe) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(5);
  open_primary(5);
  ::setenv("TAVIO32_COM5", "", 1); // the search cannot reopen it
  EXPECT_EQ(FINDHARD(0), 0);
  EXPECT_EQ(GETCOM(), 0);
  link.bind("COM5");
  std::string m = mode(5);
  int32_t slot = IX_OPENCOM(0, m.data());
  EXPECT_GT(slot, 0) << "the device is free again: the primary port let it go";
  IX_CLOSECOM(0);
}

} // namespace
} // namespace tavio::test
