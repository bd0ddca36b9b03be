// Interface selection: the interface code and the six opening functions.
#include "hardware/hardware.h"
#include "hardware_support.h"

namespace tavio::test {
namespace {

class Selection : public HardwareTest {};
class SelectionPerInterface : public HardwareTest, public ::testing::WithParamInterface<Interface> {};

TEST_F(Selection, SetHardReturnsThePreviousCodeAndStoresAnyValue) {
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(SETHARD(4), 0);
  EXPECT_EQ(SETHARD(8), 4);
  EXPECT_EQ(GETHARD(), 8);
  EXPECT_EQ(SETHARD(3), 8);
  EXPECT_EQ(GETHARD(), 3);
  EXPECT_EQ(SETHARD(-7), 3);
  EXPECT_EQ(GETHARD(), -7);
}

TEST_P(SelectionPerInterface, OpensTheNumberedPortWithItsLineSettingsAndSendsNothing) {
  const Interface &i = GetParam();
  emu::PtyLink &link = attach(4, emu::make_device(i.device));
  EXPECT_EQ(i.init(4), 4);
  EXPECT_EQ(GETHARD(), i.code);
  EXPECT_GT(GETCOM(), 2);
  emu::LineState line = link.line();
  EXPECT_EQ(line.baud, i.baud);
  EXPECT_EQ(line.parity, 'N');
  EXPECT_EQ(line.data_bits, 8);
  EXPECT_EQ(line.stop_bits, 2);
  EXPECT_TRUE(wire(link, 0).empty()) << "selecting an interface neither resets it nor switches its outputs";
}

TEST_P(SelectionPerInterface, AMissingPortGivesZeroAndDropsTheSelection) {
  const Interface &i = GetParam();
  attach_new<emu::EchoDevice>(2);
  ASSERT_EQ(INITSIOS(2), 2);
  EXPECT_EQ(i.init(5), 0); // no COM5
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(GETCOM(), -1) << "the failed open is left as OPEN_COM leaves it";
}

INSTANTIATE_TEST_SUITE_P(All, SelectionPerInterface, ::testing::ValuesIn(kInterfaces),
                         [](const auto &info) { return std::string(info.param.device); });

TEST_F(Selection, PortsOutsideOneToNineAreRefusedWithoutTouchingTheOpenPort) {
  attach_new<emu::EchoDevice>(2);
  for (auto init : {INIT, INITSIOS, INITCOMPULAB, INITCCONTROL, INITCAMFACE}) {
    ASSERT_EQ(INITCOMPULAB(2), 2);
    int32_t handle = GETCOM();
    for (int32_t port : {0, 10, -1, 50}) {
      EXPECT_EQ(init(port), 0) << port;
      EXPECT_EQ(GETCOM(), handle);
      EXPECT_EQ(GETHARD(), 1);
    }
  }
}

TEST_F(Selection, PortNineIsAcceptedByTheOpeningFunctions) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(9);
  EXPECT_EQ(INIT(9), 9);
  EXPECT_EQ(GETHARD(), 16);
  EXPECT_EQ(link.line().baud, 19200u);
}

TEST_F(Selection, ZelleWithoutAPortDigitClosesThePortAndOpensNothingElse) {
  // 257 would otherwise wrap round to "COM1" and report port 257 as open.
  attach_new<emu::SilentDevice>(1); // where 257 would lead
  attach_new<emu::EchoDevice>(2);
  for (int32_t port : {0, 10, 257, -1, -48}) {
    ASSERT_EQ(INITSIOS(2), 2);
    EXPECT_EQ(INITZELLE(port), 0) << port;
    EXPECT_EQ(GETHARD(), 0);
    EXPECT_LE(GETCOM(), 0) << "the open primary port was closed, nothing opened instead: " << port;
  }
}

TEST_F(Selection, ZelleOpensAtNineThousandSixHundred) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(2);
  EXPECT_EQ(INITZELLE(2), 2);
  EXPECT_EQ(GETHARD(), 8);
  EXPECT_EQ(link.line().baud, 9600u);
  EXPECT_EQ(tavio::ZINIT(2), 1) << "ZINIT gives the open's result";
  EXPECT_EQ(GETHARD(), 0) << "and leaves the code at 0";
}

TEST_F(Selection, OpeningThePortByHandDropsTheCodeAndSetHardSelectsAgain) {
  emu::PtyLink &link = attach_new<emu::CompuLabDevice>(2);
  ASSERT_EQ(INITCOMPULAB(2), 2);
  std::string m = mode(2);
  ASSERT_EQ(OPENCOM(m.data()), 1);
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(DOUT(7), 1);
  EXPECT_TRUE(wire(link, 0).empty()) << "no interface selected: nothing is sent";
  EXPECT_EQ(SETHARD(1), 0);
  EXPECT_EQ(DOUT(7), 1);
  EXPECT_EQ(wire(link, 2), (Bytes{81, 7}));
  CLOSECOM();
  EXPECT_EQ(GETHARD(), 0);
}

} // namespace
} // namespace tavio::test
