// The texts of settings_table.h through the parser and through OPENCOM on a
// pseudo-terminal, the rate read back from the kernel with TCGETS2.
#include "test_support.h"

#include <sys/ioctl.h>

#include "platform/platform.h"
#include "settings_table.h"

namespace tavio::test {
namespace {

struct Termios2 { // the kernel's termios2: the rate as a number
  unsigned iflag, oflag, cflag, lflag;
  unsigned char line, cc[19];
  unsigned ispeed, ospeed;
};
using SettingsTable = LibraryTest;

TEST_F(SettingsTable, EachTextIsTakenOrRefusedAsTheTableSays) {
  attach_new<emu::EchoDevice>(3);
  for (const settings_table::Case &c : settings_table::kCases) {
    platform::LineConfig config;
    EXPECT_EQ(platform::parse_settings(c.text, config), c.taken != 0) << '"' << c.text << '"';
    std::string m = mode(3, c.text);
    EXPECT_EQ(OPENCOM(m.data()), c.opens) << '"' << c.text << '"';
    Termios2 t{};
    if (c.opens && c.baud) { // 0 when the kernel cannot say
      ::ioctl(GETCOM(), _IOR('T', 0x2A, Termios2), &t);
      EXPECT_EQ(t.ospeed, c.baud) << '"' << c.text << '"';
    }
  }
}

} // namespace
} // namespace tavio::test
