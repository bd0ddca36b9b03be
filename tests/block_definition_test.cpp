// Block definition, triggers and start on the wire, and the header functions
// on prepared buffers.
#include "block_support.h"
#include "test_support.h"

namespace tavio::test {
namespace {

using Bytes = std::vector<uint8_t>;

class BlockDefinition : public LibraryTest {
protected:
  // A silent interface on COM3, opened, with the interface code set.
  emu::PtyLink &interface(int32_t hard) {
    emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
    open_primary(3);
    ::SETHARD(hard);
    return link;
  }
};

TEST_F(BlockDefinition, SiosSendsTheFifteenDefinitionBytesAfterTheReset) {
  emu::PtyLink &link = interface(4);
  uint32_t before = ::DELAY(0);
  double t0 = now_ms();
  int32_t r = ::BLOCKDEF(1000, 5, 20);
  double took = now_ms() - t0;
  uint32_t after = ::DELAY(0);
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{112, 3, 232, 1, 0, 3, 0, 0, 0, 128, 128, 0, 18, 2, 1}));
  // The result is the timer value of the closing DELAY(2).
  EXPECT_LE(before, static_cast<uint32_t>(r));
  EXPECT_LE(static_cast<uint32_t>(r), after);
  EXPECT_GE(took, 15 * 2 + 2 - 0.5);
}

TEST_F(BlockDefinition, ZelleSendsTheDefinitionInGroupsWithPausesBetween) {
  emu::PtyLink &link = interface(8);
  SendClock times;
  double t0 = now_ms();
  ::BLOCKDEF(1000, 5, 20);
  double took = now_ms() - t0;
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{1, 3, 232, 1, 0, 3, 0, 0, 18}));
  // 1 | 3 232 | 1 0 3 0 | 0 18: each group after an extra DELAY(2).
  ASSERT_GE(times.sent.size(), 9u);
  EXPECT_GE(times.gap_from_end(9, 8), 4.0 - 0.05);
  EXPECT_GE(times.gap_from_end(8, 7), 2.0 - 0.05);
  EXPECT_GE(times.gap_from_end(7, 6), 4.0 - 0.05);
  EXPECT_GE(times.gap_from_end(3, 2), 4.0 - 0.05);
  EXPECT_GE(took, 9 * 2 + 3 * 2 + 10 - 0.5); // sends, three DELAY(2), DELAY(10)
}

TEST_F(BlockDefinition, ChannelBitsAboveFourAndWrapsModulo65536) {
  emu::PtyLink &link = interface(4);
  ::BLOCKDEF(10, 16, 300); // bit 4 is no channel: no channel bytes, interval unchanged
  ::BLOCKDEF(65536 + 5, 0x1F, 1); // count wraps; interval 1 less 4 channels wraps to 65533
  ::BLOCKDEF(7, 0, -1);
  Bytes all = settled_bytes(link);
  Bytes expect;
  for (const Bytes &def : {Bytes{112, 0, 10, 0, 0, 0, 0, 0, 0, 128, 128, 1, 44, 2, 1},
                           Bytes{112, 0, 5, 1, 2, 3, 4, 0, 0, 128, 128, 255, 253, 2, 1},
                           Bytes{112, 0, 7, 0, 0, 0, 0, 0, 0, 128, 128, 255, 255, 2, 1}}) {
    if (!all.empty() && all[0] == 0) expect = cat(expect, repeat(0, 10));
    expect = cat(expect, def);
  }
  EXPECT_EQ(all, expect);
}

TEST_F(BlockDefinition, OtherInterfacesGetOnlyTheLinkResetAndHardMinusEight) {
  for (int32_t hard : {0, 1, 16, 32, 64, 5}) {
    emu::PtyLink &link = interface(hard);
    EXPECT_EQ(::BLOCKDEF(1000, 5, 20), hard - 8) << hard;
    EXPECT_TRUE(after_reset(settled_bytes(link)).empty()) << hard;
    ::CLOSECOM();
  }
}

TEST_F(BlockDefinition, TriggersGoOnlyToTheSios) {
  struct Case {
    int32_t hard, value, mode;
    Bytes wire;
  };
  const Case cases[] = {
      {4, 50, 1, {115, 50}}, {4, 50, 2, {116, 50}}, {4, 50, 3, {117, 50}}, {4, 50, 4, {118, 50}},
      {4, 50, 5, {119}},     {4, 50, 6, {120}},     {4, 300, 1, {115, 44}}, {4, 50, 0, {}},
      {4, 50, 7, {}},        {4, 50, -1, {}},       {8, 50, 4, {}},         {0, 50, 4, {}},
      {64, 50, 4, {}},
  };
  for (const Case &c : cases) {
    emu::PtyLink &link = interface(c.hard);
    ::BLOCKTRIGGER(c.value, c.mode);
    // No link reset: exactly the trigger bytes.
    EXPECT_EQ(settled_bytes(link), c.wire) << "HARD " << c.hard << " value " << c.value << " mode " << c.mode;
    ::CLOSECOM();
  }
}

TEST_F(BlockDefinition, SiosStartIsOneByteWithoutReset) {
  emu::PtyLink &link = interface(4);
  uint32_t before = ::DELAY(0);
  int32_t r = ::BLOCKSTART();
  EXPECT_GE(static_cast<uint32_t>(r) - before, 100u + 2u);
  EXPECT_EQ(settled_bytes(link), (Bytes{113}));
}

TEST_F(BlockDefinition, ZelleStartResetsThenSendsTenAndNine) {
  emu::PtyLink &link = interface(8);
  SendClock times;
  uint32_t before = ::DELAY(0);
  int32_t r = ::BLOCKSTART();
  EXPECT_GE(static_cast<uint32_t>(r) - before, 2u + 6u + 2u + 100u);
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{10, 9}));
  ASSERT_GE(times.sent.size(), 2u);
  EXPECT_GE(times.gap_from_end(2, 1), 8.0 - 0.05);
}

TEST_F(BlockDefinition, StartWithOtherInterfacesOnlyWaits) {
  emu::PtyLink &link = interface(0);
  uint32_t before = ::DELAY(0);
  int32_t r = ::BLOCKSTART();
  EXPECT_GE(static_cast<uint32_t>(r) - before, 100u);
  EXPECT_TRUE(settled_bytes(link).empty());
}

// --- header functions ---

class BlockHeader : public LibraryTest {
protected:
  std::vector<char> buffer = std::vector<char>(30720, 0);
  void set(size_t i, int v) { buffer[i] = static_cast<char>(v); }
  // M = 1000, channel bytes 1, 0, 3, 0; Sios interval bytes 0, 18 (20 ms),
  // Zelle interval bytes 0, 18; Sios block count 3, Zelle block count 5.
  void prepare() {
    set(0, 3), set(1, 232);
    set(2, 1), set(3, 0), set(4, 3), set(5, 0);
    set(10, 0), set(11, 18);
    set(6, 0), set(7, 18);
    set(15, 3);
    set(9, 5);
  }
};

TEST_F(BlockHeader, CountsAndChannelsDoNotDependOnTheInterface) {
  prepare();
  for (int32_t hard : {0, 4, 8, 16}) {
    ::SETHARD(hard);
    EXPECT_EQ(::MESSUNGEN(buffer.data()), 1000);
    EXPECT_EQ(::KANALZAHL(buffer.data()), 2);
  }
  set(0, 255), set(1, 255);
  set(2, 200), set(3, 7), set(4, 0), set(5, 255);
  EXPECT_EQ(::MESSUNGEN(buffer.data()), 65535);
  EXPECT_EQ(::KANALZAHL(buffer.data()), 3); // any byte not 0 counts
}

TEST_F(BlockHeader, IntervalBlocksAndDataAmountByInterface) {
  prepare();
  struct Case {
    int32_t hard, interval, blocks;
    uint32_t last_factor;
  };
  const Case cases[] = {
      {4, 20, 3, 3},          {8, 20, 5, 5},          {0, -8, -8, 65528},     {1, -7, -7, 65529},
      {16, 8, 8, 8},          {32, 24, 24, 24},       {64, 56, 56, 56},
      // The code less 8 wraps like 32-bit arithmetic at the bottom of the range.
      {INT32_MIN, INT32_MAX - 7, INT32_MAX - 7, 65528},
  };
  for (const Case &c : cases) {
    ::SETHARD(c.hard);
    EXPECT_EQ(::ZEITINTERVALL(buffer.data()), c.interval) << c.hard;
    EXPECT_EQ(::BLOCKZAHL(buffer.data()), c.blocks) << c.hard;
    EXPECT_EQ(::DATENMENGE(buffer.data()), static_cast<int32_t>(1000u * 2u * c.last_factor)) << c.hard;
  }
}

TEST_F(BlockHeader, StoredIntervalWrapsBackAndDataAmountWrapsAt32Bits) {
  set(2, 1), set(3, 2);           // two channels
  set(10, 255), set(11, 255);     // interval 1 stored as 65535
  ::SETHARD(4);
  EXPECT_EQ(::ZEITINTERVALL(buffer.data()), 1);
  set(0, 255), set(1, 255), set(4, 3), set(5, 4);
  ::SETHARD(0);
  EXPECT_EQ(::DATENMENGE(buffer.data()), static_cast<int32_t>(65535u * 4u * 65528u));
  ::SETHARD(4);
  set(15, 255);
  EXPECT_EQ(::DATENMENGE(buffer.data()), 65535 * 4 * 255);
}

TEST_F(BlockHeader, HeaderFunctionsChangeNothingAndSendNothing) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  ::SETHARD(4);
  prepare();
  std::vector<char> copy = buffer;
  ::MESSUNGEN(buffer.data()), ::KANALZAHL(buffer.data()), ::ZEITINTERVALL(buffer.data());
  ::BLOCKZAHL(buffer.data()), ::DATENMENGE(buffer.data());
  EXPECT_EQ(buffer, copy);
  EXPECT_TRUE(settled_bytes(link).empty());
}

} // namespace
} // namespace tavio::test
