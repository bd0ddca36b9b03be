// The USB adapters' COM numbers: how a COM name leads to a numbered adapter,
// and how numbers are given. (The adapters themselves, plugged in and
// pulled out, are tried on the kernel's drivers by
// scripts/test-real-drivers.sh.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/adapters.h"
#include "tavio32.h"

namespace adapters = tavio::platform::adapters;

namespace {

class AdapterNumbers : public ::testing::Test {
protected:
  void SetUp() override {
    char dir[] = "/tmp/tavio32-numbers.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/var/com-ports"; // its folder is made by the first number
    ::setenv("TAVIO32_COM_NUMBERS", path_.c_str(), 1);
    for (int n = 1; n <= 9; ++n) ::unsetenv(("TAVIO32_COM" + std::to_string(n)).c_str());
  }
  void TearDown() override {
    ::unsetenv("TAVIO32_COM_NUMBERS");
    std::system(("rm -rf " + dir_).c_str());
  }
  void write(const std::string &text) {
    std::system(("mkdir -p " + dir_ + "/var").c_str());
    std::ofstream(path_) << text;
  }
  std::string text() {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static int first_free_from_com3() {
    int n = 3;
    while (n <= 9 && adapters::motherboard_uart(n - 1)) ++n;
    return n;
  }
  std::string dir_, path_;
};

TEST_F(AdapterNumbers, ANumberedAdapterThatIsOutLeavesItsNameWithoutDevice) {
  write("# a comment\n"
        "COM4 0403:6001 serial=NOT-HERE if=00 # Maker Adapter\n"
        "garbage without a number\n"
        "COM12 0403:6001 serial=X if=00\n"
        "com4 0403:6001 serial=SECOND if=00\n"); // a second COM4: the first one holds
  const auto numbers = adapters::read_numbers();
  ASSERT_EQ(numbers.size(), 1u);
  EXPECT_EQ(numbers[0].key, "0403:6001 serial=NOT-HERE if=00");
  EXPECT_EQ(numbers[0].about, "Maker Adapter");

  std::string path;
  auto &b = tavio::platform::native_backend();
  EXPECT_FALSE(b.device_path("COM4", path)); // the adapter's, and it is out
  EXPECT_EQ(OPENCOM(const_cast<char *>("COM4:9600,N,8,1")), 0);
  ASSERT_TRUE(b.device_path("com5", path)); // no number: the motherboard's
  EXPECT_EQ(path, "/dev/ttyS4");
  ::setenv("TAVIO32_COM4", "/dev/null", 1); // the variable still comes first
  ASSERT_TRUE(b.device_path("COM4", path));
  EXPECT_EQ(path, "/dev/null");
  ::unsetenv("TAVIO32_COM4");
}

TEST_F(AdapterNumbers, NewAdaptersGetTheLowestFreeNumbersAndKeepThem) {
  const int first = first_free_from_com3();
  if (first + 1 > 9) GTEST_SKIP() << "the motherboard's UARTs take COM3 to COM8";
  const adapters::Adapter a{"/dev/ttyUSB0", "0403:6001 serial=A1 if=00", "FTDI FT232R"};
  const adapters::Adapter b{"/dev/ttyUSB1", "067b:2303 at=1-1.2 if=00", ""};
  std::vector<adapters::Number> given;
  std::string error;
  ASSERT_TRUE(adapters::number_new({a}, given, error)) << error;
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(given[0].com, first);
  // Seen again (another socket, a restart): no new number; the second one
  // gets the next.
  ASSERT_TRUE(adapters::number_new({a, b}, given, error)) << error;
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(given[0].com, first + 1);
  EXPECT_NE(text().find("COM" + std::to_string(first) + " 0403:6001 serial=A1 if=00 # FTDI FT232R\n"),
            std::string::npos)
      << text();

  // Renumbered by hand: b takes COM9 and frees its number, which the next
  // new adapter gets; a number given to another adapter moves.
  ASSERT_TRUE(adapters::set_number(9, b, error)) << error;
  const adapters::Adapter c{"/dev/ttyACM0", "2341:0043 serial=C if=00", "Arduino"};
  ASSERT_TRUE(adapters::number_new({c}, given, error)) << error;
  EXPECT_EQ(given.at(0).com, first + 1);
  ASSERT_TRUE(adapters::set_number(first, c, error)) << error;
  ASSERT_TRUE(adapters::forget(9, error)) << error;
  const auto numbers = adapters::read_numbers();
  ASSERT_EQ(numbers.size(), 1u) << text();
  EXPECT_EQ(numbers[0].com, first);
  EXPECT_EQ(numbers[0].key, c.key);
  EXPECT_TRUE(adapters::forget(7, error)); // nothing to forget
}

TEST_F(AdapterNumbers, NoFreeNumberIsAnErrorAndKeepsTheOthers) {
  std::vector<adapters::Adapter> many;
  for (int i = 0; i < 8; ++i)
    many.push_back({"/dev/ttyUSB" + std::to_string(i), "0403:6001 serial=S" + std::to_string(i) + " if=00", ""});
  std::vector<adapters::Number> given;
  std::string error;
  EXPECT_FALSE(adapters::number_new(many, given, error));
  EXPECT_NE(error.find("no COM number is free"), std::string::npos) << error;
  size_t free_numbers = 0;
  for (int n = 3; n <= 9; ++n) free_numbers += !adapters::motherboard_uart(n - 1);
  EXPECT_EQ(adapters::read_numbers().size(), free_numbers) << text(); // the ones given before it ran out
}

} // namespace
