// Block readout against the block-mode emulation of the Sios and the Zelle:
// the header exchange, the n + 1 data bytes, capping at the buffer's
// capacity, and the behaviour when the interface falls silent.
#include <algorithm>
#include <memory>

#include "block_support.h"
#include "fake_backend.h"
#include "test_support.h"

namespace tavio::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = emu::BlockMode::Kind;

class BlockReadout : public LibraryTest {
protected:
  // A block-mode interface on COM3, opened and selected.
  emu::PtyLink &interface(Kind kind) {
    emu::PtyLink &link = attach(3, std::make_unique<emu::BlockDevice>(kind, ramp_sampler));
    open_primary(3);
    ::SETHARD(kind == Kind::Sios ? 4 : 8);
    return link;
  }
  // Defines and starts a recording, then forgets the bytes that took.
  void record(emu::PtyLink &link, int32_t count, int32_t channels, int32_t interval, int starts = 1) {
    ::BLOCKDEF(count, channels, interval);
    for (int i = 0; i < starts; ++i) ::BLOCKSTART();
    forgotten_ += settled_bytes(link).size();
    link.clear();
  }
  // Bytes received in all, also those forgotten by record().
  size_t total_received(emu::PtyLink &link) { return forgotten_ + settled_bytes(link).size(); }
  size_t forgotten_ = 0;
  std::vector<uint8_t> memory(emu::PtyLink &link) {
    return link.with_device<emu::BlockDevice>([](emu::BlockDevice &d) { return d.block().memory(); });
  }
  // Zero bytes that one link reset puts on the wire.
  size_t reset_length(emu::PtyLink &link) {
    size_t before = settled_bytes(link).size();
    ::SYSTEMRESET();
    return settled_bytes(link).size() - before;
  }
  static char *chars(std::vector<uint8_t> &v) { return reinterpret_cast<char *>(v.data()); }
};

TEST_F(BlockReadout, SiosHundredMeasurementsOfTwoChannels) {
  emu::PtyLink &link = interface(Kind::Sios);
  record(link, 100, 3, 20);
  std::vector<uint8_t> buffer(30720, 0xEE);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 218);

  // 114, header byte 0 unasked, 13 requests, 201 data requests, closing 0.
  EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{114}, repeat(1, 13 + 201)), Bytes{0}));
  const Bytes header{0, 100, 1, 2, 0, 0, 0, 0, 128, 128, 0, 18, 2, 1, /*K*/ 2, /*B*/ 1};
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16), header);
  for (int m = 0; m < 100; ++m)
    for (int c = 1; c <= 2; ++c)
      ASSERT_EQ(buffer[16 + m * 2 + c - 1], ramp_sampler(c, m * 20u)) << "m " << m << " c " << c;
  EXPECT_EQ(buffer[216], 0); // the one byte more: the interface has nothing there
  for (size_t i = 217; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST_F(BlockReadout, ZelleHundredMeasurementsOfTwoChannels) {
  emu::PtyLink &link = interface(Kind::Zelle);
  record(link, 100, 3, 20);
  std::vector<uint8_t> buffer(6146, 0xEE);
  SendClock times;
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 211);

  EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{2}, repeat(1, 8 + 201)), Bytes{0}));
  const size_t n = 1 + 8 + 201 + 1;
  EXPECT_GE(times.gap_from_end(n, n - 1), 6.0 - 0.05); // SENDE's 2 ms and DELAY(4)
  const Bytes header{0, 100, 1, 2, 0, 0, 0, 18, /*K*/ 2, /*B*/ 1};
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), header);
  EXPECT_EQ(Bytes(buffer.begin() + 10, buffer.begin() + 210), memory(link));
  for (size_t i = 210; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST_F(BlockReadout, BlocksAccumulateOnePerStart) {
  emu::PtyLink &link = interface(Kind::Zelle);
  record(link, 30, 9, 50, 3); // channels 1 and 4, three starts
  EXPECT_EQ(memory(link).size(), 180u);
  std::vector<uint8_t> buffer(6146);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 3), 10 + 181);
  EXPECT_EQ(buffer[8], 2);
  EXPECT_EQ(buffer[9], 3);
  EXPECT_EQ(Bytes(buffer.begin() + 10, buffer.begin() + 190), memory(link));
  EXPECT_EQ(buffer[10 + 60 + 1], ramp_sampler(4, 0)); // block 2 starts again at t = 0
}

TEST_F(BlockReadout, LevelTriggerDelaysTheRecording) {
  emu::PtyLink &link = interface(Kind::Sios);
  ::BLOCKDEF(5, 1, 100);
  ::BLOCKTRIGGER(100, 1); // channel 1 (60 + t / 10) reaches 100 at t = 400
  record(link, 5, 1, 100);
  // BLOCKDEF clears the trigger: set it after the definition.
  ::BLOCKDEF(5, 1, 100);
  ::BLOCKTRIGGER(100, 1);
  ::BLOCKSTART();
  std::vector<uint8_t> buffer(30720);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 17 + 6);
  EXPECT_EQ(Bytes(buffer.begin() + 16, buffer.begin() + 21), (Bytes{100, 110, 120, 130, 140}));
  ::BLOCKTRIGGER(0, 5); // trigger off
  ::BLOCKSTART();
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 2), 17 + 11);
  EXPECT_EQ(Bytes(buffer.begin() + 21, buffer.begin() + 26), (Bytes{60, 70, 80, 90, 100}));
}

TEST_F(BlockReadout, DataCountIsTakenModulo65536AndBlocksModulo256) {
  emu::PtyLink &link = interface(Kind::Sios);
  record(link, 269, 15, 10);
  std::vector<uint8_t> buffer(30720);
  // 269 x 4 x 61 = 65636, which is 100 modulo 65536; 317 is stored as 61.
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 61 + 256), 17 + 101);
  EXPECT_EQ(buffer[15], 61);
  EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{114}, repeat(1, 13 + 101)), Bytes{0}));
}

TEST_F(BlockReadout, NoChannelsOrNoBlocksStillReadOneDataByte) {
  emu::PtyLink &link = interface(Kind::Zelle);
  record(link, 100, 0, 20);
  std::vector<uint8_t> buffer(6146);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), 11);
  record(link, 100, 3, 20);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 0), 11);
  EXPECT_EQ(buffer[10], memory(link)[0]);
}

TEST_F(BlockReadout, ZelleReadoutStopsAtTheLastByteOfTheBuffer) {
  // A real-time readout of the whole buffer: 6136 requests, about 12 s.
  emu::PtyLink &link = interface(Kind::Zelle);
  record(link, 2000, 15, 10); // n = 8000
  ASSERT_EQ(memory(link).size(), 8000u);
  auto buffer = std::make_unique<uint8_t[]>(6146); // exactly sized: overruns trip the sanitizer
  EXPECT_EQ(::BLOCKEIN(reinterpret_cast<char *>(buffer.get()), 1), 6146);
  Bytes mem = memory(link);
  EXPECT_EQ(Bytes(buffer.get() + 10, buffer.get() + 6146), Bytes(mem.begin(), mem.begin() + 6136));
  EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{2}, repeat(1, 8 + 6136)), Bytes{0}));
}

TEST_F(BlockReadout, SiosReadoutStopsAtTheLastByteOfTheBuffer) {
  // 30704 requests would take over a minute at 2 ms each: the pauses run on
  // a test clock here, the exchange itself is real.
  emu::PtyLink &link = interface(Kind::Sios);
  record(link, 8000, 15, 10); // n = 32000
  ASSERT_EQ(memory(link).size(), 32000u);
  FakeBackend clock;
  clock.fake_clock = true;
  clock.step_ns = 100000;
  auto buffer = std::make_unique<uint8_t[]>(30720);
  EXPECT_EQ(::BLOCKEIN(reinterpret_cast<char *>(buffer.get()), 1), 17 + 30704);
  Bytes mem = memory(link);
  EXPECT_EQ(Bytes(buffer.get() + 16, buffer.get() + 30720), Bytes(mem.begin(), mem.begin() + 30704));
  // Without real pauses the reset's purge of the output may discard its own
  // zero bytes before they leave: only what follows the reset is compared.
  Bytes sent = settled_bytes(link);
  sent.erase(sent.begin(), std::find_if(sent.begin(), sent.end(), [](uint8_t b) { return b != 0; }));
  EXPECT_EQ(sent, cat(cat(Bytes{114}, repeat(1, 13 + 30704)), Bytes{0}));
}

TEST_F(BlockReadout, SilenceAfterTheFifthHeaderByteSendsNoClosingByte) {
  for (Kind kind : {Kind::Sios, Kind::Zelle}) {
    emu::PtyLink &link = interface(kind);
    record(link, 100, 3, 20);
    size_t reset = reset_length(link);
    size_t total = total_received(link);
    // Answered: the command (the Sios answers byte 0 to it) and the requests
    // up to header byte 4; the request for byte 5 goes unanswered.
    link.mute_after(total + reset + (kind == Kind::Sios ? 1 + 5 : 1 + 6));
    forgotten_ += settled_bytes(link).size();
    link.clear();
    std::vector<uint8_t> buffer(kind == Kind::Sios ? 30720 : 6146, 0xEE);
    EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), -1);
    const Bytes sent = after_reset(settled_bytes(link));
    EXPECT_EQ(sent, kind == Kind::Sios ? cat(Bytes{114}, repeat(1, 5)) : cat(Bytes{2}, repeat(1, 6)));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0, 100, 1, 2, 0}));
    for (size_t i = 5; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i; // counts not written
    ::CLOSECOM();
    forgotten_ = 0;
  }
}

TEST_F(BlockReadout, SilentSiosLeaves255InByteZero) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  ::SETHARD(4);
  std::vector<uint8_t> buffer(30720, 0xEE);
  EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), -1);
  EXPECT_EQ(buffer[0], 255);
  for (size_t i = 1; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{114, 1}));
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(::BLOCKINFO(chars(buffer), 1), -1);
  EXPECT_EQ(buffer[0], 255);
}

TEST_F(BlockReadout, BlockInfoReadsTheHeaderAloneAndClearsSixteenBytes) {
  for (Kind kind : {Kind::Sios, Kind::Zelle}) {
    emu::PtyLink &link = interface(kind);
    record(link, 100, 3, 20);
    std::vector<uint8_t> buffer(6146, 0xEE);
    EXPECT_EQ(::BLOCKINFO(chars(buffer), 258), kind == Kind::Sios ? 15 : 8);
    if (kind == Kind::Sios) {
      EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{114}, repeat(1, 13)), Bytes{0}));
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16),
                (Bytes{0, 100, 1, 2, 0, 0, 0, 0, 128, 128, 0, 18, 2, 1, 2, 2}));
    } else {
      EXPECT_EQ(after_reset(settled_bytes(link)), cat(cat(Bytes{2}, repeat(1, 8)), Bytes{0}));
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16), (Bytes{0, 100, 1, 2, 0, 0, 0, 18, 2, 2, 0, 0, 0, 0, 0, 0}));
    }
    for (size_t i = 16; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
    ::CLOSECOM();
  }
}

TEST_F(BlockReadout, OtherInterfacesReadNothingAndLeaveTheBuffer) {
  emu::PtyLink &link = interface(Kind::Sios);
  std::vector<uint8_t> buffer(30720, 0xEE);
  for (int32_t hard : {0, 1, 16, 32, 64}) {
    ::SETHARD(hard);
    EXPECT_EQ(::BLOCKEIN(chars(buffer), 1), hard - 8);
    EXPECT_EQ(::BLOCKINFO(chars(buffer), 1), hard - 8);
  }
  EXPECT_EQ(buffer, std::vector<uint8_t>(30720, 0xEE));
  EXPECT_TRUE(settled_bytes(link).empty());
}

} // namespace
} // namespace tavio::test
