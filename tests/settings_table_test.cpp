// The texts of settings_table.h through the parser and through OPENCOM on a
// pseudo-terminal, the rate read back from the kernel with TCGETS2.
#include "test_support.h"

#include <iostream>
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

class SettingsTable : public LibraryTest {};

TEST_F(SettingsTable, EachTextIsTakenOrRefusedAsTheTableSays) {
  attach_new<emu::EchoDevice>(3);
  int taken = 0, opened = 0;
  for (const settings_table::Case &c : settings_table::kCases) {
    platform::LineConfig config;
    EXPECT_EQ(platform::parse_settings(c.text, config), c.taken != 0) << '"' << c.text << '"';
    std::string m = mode(3, c.text);
    EXPECT_EQ(OPENCOM(m.data()), c.opens) << '"' << c.text << '"';
    Termios2 t{};
    if (c.opens && c.baud) {
      ::ioctl(GETCOM(), _IOR('T', 0x2A, Termios2), &t);
      EXPECT_EQ(t.ospeed, c.baud) << '"' << c.text << '"';
    }
    taken += c.taken != 0;
    opened += c.opens;
  }
  std::cout << std::size(settings_table::kCases) << " texts: taken " << taken << ", opened " << opened << "\n";
}

} // namespace
} // namespace tavio::test
