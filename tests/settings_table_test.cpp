// The settings texts of settings_table.h through the parser and through
// OPENCOM on a pseudo-terminal, the rate read back from the kernel.
#include "test_support.h"

#include <iostream>
#include <sys/ioctl.h>

#include "platform/platform.h"
#include "settings_table.h"

namespace tavio::test {
namespace {

// The kernel's termios2, read with TCGETS2: the rate as a number.
struct Termios2 {
  unsigned iflag, oflag, cflag, lflag;
  unsigned char line, cc[19];
  unsigned ispeed, ospeed;
};
uint32_t rate_in_effect(int fd) {
  Termios2 t{};
  return ::ioctl(fd, _IOR('T', 0x2A, Termios2), &t) == 0 ? t.ospeed : 0;
}

class SettingsTable : public LibraryTest {};

TEST_F(SettingsTable, EachTextIsTakenOrRefusedAsTheTableSays) {
  attach_new<emu::EchoDevice>(3);
  int taken = 0, opened = 0;
  for (const settings_table::Case &c : settings_table::kCases) {
    platform::LineConfig config;
    EXPECT_EQ(platform::parse_settings(c.text, config), c.taken != 0) << '"' << c.text << '"';
    std::string m = mode(3, c.text);
    EXPECT_EQ(OPENCOM(m.data()), c.opens) << '"' << c.text << '"';
    if (c.opens && c.baud) {
      EXPECT_EQ(rate_in_effect(GETCOM()), c.baud) << '"' << c.text << '"';
    }
    taken += c.taken != 0;
    opened += c.opens;
  }
  std::cout << std::size(settings_table::kCases) << " texts: the parser takes " << taken << ", OPENCOM opens "
            << opened << " on a pseudo-terminal\n";
}

} // namespace
} // namespace tavio::test
