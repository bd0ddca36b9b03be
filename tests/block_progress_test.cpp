// The readout progress hook that the tavio32 command uses for its progress
// bar and to stop a readout on Ctrl-C.
#include <memory>

#include "block_support.h"
#include "test_support.h"

namespace tavio::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = emu::BlockMode::Kind;

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;
  int32_t stop_at = 0;
};

int hook(int32_t done, int32_t expected, void *context) {
  auto *calls = static_cast<Calls *>(context);
  calls->seen.emplace_back(done, expected);
  return done == calls->stop_at ? 0 : 1;
}

class BlockProgress : public LibraryTest {
protected:
  emu::PtyLink &sios_with_recording() {
    emu::PtyLink &link = attach(3, std::make_unique<emu::BlockDevice>(Kind::Sios, ramp_sampler));
    open_primary(3);
    ::SETHARD(4);
    ::BLOCKDEF(100, 3, 20); // 100 x 2 values: 201 data bytes with the extra one
    ::BLOCKSTART();
    settled_bytes(link);
    link.clear();
    return link;
  }
  void TearDown() override {
    ::tavio32_set_readout_progress(nullptr, nullptr);
    LibraryTest::TearDown();
  }
  static char *chars(Bytes &v) { return reinterpret_cast<char *>(v.data()); }
};

TEST_F(BlockProgress, CalledAfterEveryDataByteAndRemovable) {
  sios_with_recording();
  Calls calls;
  ::tavio32_set_readout_progress(hook, &calls);
  Bytes buffer(30720, 0);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 218);
  ASSERT_EQ(calls.seen.size(), 201u);
  for (size_t i = 0; i < calls.seen.size(); ++i) ASSERT_EQ(calls.seen[i], std::make_pair(int32_t(i + 1), 201));

  ::tavio32_set_readout_progress(nullptr, nullptr);
  calls.seen.clear();
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 218);
  EXPECT_TRUE(calls.seen.empty());
}

TEST_F(BlockProgress, StopClosesTheExchangeAndKeepsWhatWasRead) {
  emu::PtyLink &link = sios_with_recording();
  Calls calls;
  calls.stop_at = 50;
  ::tavio32_set_readout_progress(hook, &calls);
  Bytes buffer(30720, 0xEE);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), -1);
  EXPECT_EQ(calls.seen.size(), 50u);
  // 114, header byte 0 unasked, 13 requests, 50 data requests, then the
  // closing 0 as after a complete readout.
  EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{114}, repeat(1, 13 + 50)), Bytes{0}));
  for (int m = 0; m < 25; ++m)
    for (int c = 1; c <= 2; ++c) ASSERT_EQ(buffer[16 + m * 2 + c - 1], ramp_sampler(c, m * 20u));
  EXPECT_EQ(buffer[16 + 50], 0); // cleared, not read

  // The interface is ready for the next command: a full readout works.
  calls.stop_at = 0;
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 218);
}

} // namespace
} // namespace tavio::test
