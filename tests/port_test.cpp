#include "test_support.h"

namespace tavio::test {
namespace {

class PrimaryPort : public LibraryTest {};

TEST_F(PrimaryPort, EchoRoundTrip) {
  attach_new<emu::EchoDevice>(3);
  open_primary(3);
  EXPECT_EQ(SENDBYTE(65), 1);
  EXPECT_EQ(READBYTE(), 65);
}

} // namespace
} // namespace tavio::test
