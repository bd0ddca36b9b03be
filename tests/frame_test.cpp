// The library frame: state after load, the closing sequence, version and
// messages.
#include "test_support.h"

#include "fake_backend.h"
#include "frame/frame.h"
#include "frame/state.h"

namespace tavio::test {
namespace {

class Frame : public LibraryTest {};

std::vector<std::pair<std::string, std::string>> g_seen;
void record(const char *caption, const char *text) { g_seen.emplace_back(caption, text); }

TEST_F(Frame, StateAfterLoad) {
  EXPECT_EQ(GETCOM(), 0);
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(READTIME, 100);
  EXPECT_EQ(STRLENGTH(14), 14);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(IX_STRLENGTH(i, 14), 14);
    EXPECT_EQ(DMOUT[i], 100);
    EXPECT_EQ(DMCOM[i], 0);
  }
}

TEST_F(Frame, ClosingSequenceClosesEveryPortAndKeepsSettings) {
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  attach_new<emu::EchoDevice>(5);
  open_primary(3);
  EXPECT_EQ(TIMEOUT(250), 100);
  std::string m4 = mode(4), m5 = mode(5);
  ASSERT_GE(IX_OPENCOM(0, m4.data()), 3);
  ASSERT_GE(IX_OPENCOM(7, m5.data()), 3);
  IX_STRLENGTH(7, 3);
  SETHARD(8);
  TIMEINIT();
  uint32_t t0 = T0;

  entry_notify();

  EXPECT_EQ(GETCOM(), 0);
  EXPECT_EQ(GETHARD(), 0);
  EXPECT_EQ(DMCOM[0], 0);
  EXPECT_EQ(DMCOM[7], 0);
  EXPECT_EQ(READTIME, 250);
  EXPECT_EQ(DMLEN[7], 3);
  EXPECT_EQ(T0, t0);
  // The devices are free again.
  open_primary(4);
  ASSERT_GE(IX_OPENCOM(1, m5.data()), 3);
  std::string m3 = mode(3);
  ASSERT_GE(IX_OPENCOM(2, m3.data()), 3);
}

TEST_F(Frame, VersionShowsItsMessageOnlyWhenAsked) {
  g_seen.clear();
  tavio32_set_message_handler(record);
  EXPECT_EQ(VERSION(0), 122);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(VERSION(1), 122);
  EXPECT_EQ(VERSION(-5), 122);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].first, "TAVIO32.DLL V.1.22");
  EXPECT_EQ(g_seen[0].second.rfind("Version 1.22\n", 0), 0u);
  EXPECT_NE(g_seen[0].second.find('\n'), std::string::npos);
}

TEST_F(Frame, MessagesGoToTheDefaultOutputWithoutAHandler) {
  FakeBackend fake;
  tavio32_set_message_handler(record);
  tavio32_set_message_handler(nullptr); // restores the default
  EXPECT_EQ(MES("Hallo"), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].first, "TAVIO32.DLL V.1.22");
  EXPECT_EQ(fake.messages[0].second, "Hallo");
}

} // namespace
} // namespace tavio::test
