// Block recordings end to end on the Sios and Zelle emulators: the
// interface opened as an application would, a recording defined, started,
// read back and checked against what the emulator recorded; the emulator
// answers its other commands again afterwards.
#include "test_support.h"

#include "interfaces.h"

namespace tavio::test {
namespace {

struct Case {
  const char *device;
  int32_t (*init)(int32_t);
  int32_t header;       // first data byte in the buffer
  int32_t buffer_size;
  int32_t blockein_base; // BLOCKEIN result = base + data bytes read
};

const Case kCases[] = {
    {"sios", INITSIOS, 16, 30720, 17},
    {"zelle", INITZELLE, 10, 6146, 10},
};

class InterfacesBlock : public LibraryTest, public ::testing::WithParamInterface<Case> {
protected:
  std::vector<uint8_t> memory(emu::PtyLink &link) {
    if (std::string(GetParam().device) == "sios")
      return link.with_device<emu::SiosDevice>([](emu::SiosDevice &d) { return d.block().memory(); });
    return link.with_device<emu::ZelleDevice>([](emu::ZelleDevice &d) { return d.block().memory(); });
  }
};

TEST_P(InterfacesBlock, RecordingReadBackMatchesWhatTheInterfaceRecorded) {
  const Case &c = GetParam();
  emu::PtyLink &link = attach(3, emu::make_device(c.device));
  ASSERT_EQ(c.init(3), 3);
  BLOCKDEF(60, 0b1010, 25); // channels 2 and 4 every 25 ms
  BLOCKSTART();
  BLOCKSTART(); // a second block
  std::vector<char> buffer(static_cast<size_t>(c.buffer_size), 'x');
  // 60 x 2 x 2 = 240 values, one more request than values.
  EXPECT_EQ(BLOCKEIN(buffer.data(), 2), c.blockein_base + 241);
  EXPECT_EQ(MESSUNGEN(buffer.data()), 60);
  EXPECT_EQ(KANALZAHL(buffer.data()), 2);
  EXPECT_EQ(ZEITINTERVALL(buffer.data()), 25);
  EXPECT_EQ(BLOCKZAHL(buffer.data()), 2);
  EXPECT_EQ(DATENMENGE(buffer.data()), 240);
  std::vector<uint8_t> recorded = memory(link);
  ASSERT_GE(recorded.size(), 240u);
  for (size_t i = 0; i < 240; ++i)
    ASSERT_EQ(static_cast<uint8_t>(buffer[static_cast<size_t>(c.header) + i]), recorded[i]) << "value " << i;
  // The values follow the emulator's signals: not all alike.
  EXPECT_NE(recorded[0], recorded[2 * 30]);

  // The interface is back at its plain commands.
  DOUT(3);
  EXPECT_NE(DIN(), -1);
  EXPECT_GE(AIN(1), 0);
  EXPECT_EQ(REGAUS(7, 99), 1);
  EXPECT_EQ(REGEIN(7), 99);
}

TEST_P(InterfacesBlock, ProgramDownloadAndStartAreReported) {
  const Case &c = GetParam();
  emu::PtyLink &link = attach(3, emu::make_device(c.device));
  ASSERT_EQ(c.init(3), 3);
  char path[] = "/tmp/tavio32-program-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "\x07\x08\x09", 3), 3);
  ::close(fd);
  double t = now_ms();
  EXPECT_GE(PROLADEN(path), 0);
  EXPECT_LT(now_ms() - t, 400.0); // the interface answers every handshake
  EXPECT_EQ(PROSTART(), 1);
  ::unlink(path);
  // The start command may still be on its way (through a server, say).
  std::string all;
  for (int i = 0; i < 400 && all.find("start") == std::string::npos; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    all.clear();
    for (const std::string &n : link.notes()) all += n + "\n";
  }
  EXPECT_NE(all.find("3 bytes"), std::string::npos) << all;
  EXPECT_NE(all.find("start"), std::string::npos) << all;
  EXPECT_EQ(REGAUS(1, 5), 1);
  EXPECT_EQ(REGEIN(1), 5);
}

INSTANTIATE_TEST_SUITE_P(SiosAndZelle, InterfacesBlock, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.device); });

} // namespace
} // namespace tavio::test
