// Program download and start, and the raw data files.
#include <sys/stat.h>
#include <unistd.h>

#include "block_support.h"
#include "test_support.h"

namespace tavio::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = emu::BlockMode::Kind;

class ProgramDownload : public LibraryTest {
protected:
  emu::PtyLink &interface(Kind kind) {
    emu::PtyLink &link = attach(3, std::make_unique<emu::BlockDevice>(kind));
    open_primary(3);
    ::SETHARD(kind == Kind::Sios ? 4 : 8);
    return link;
  }
  Bytes program(emu::PtyLink &link) {
    return link.with_device<emu::BlockDevice>([](emu::BlockDevice &d) { return d.block().program(); });
  }
  TempDir dir;
};

TEST_F(ProgramDownload, SiosExchangesOneHandshakePerProgramByte) {
  emu::PtyLink &link = interface(Kind::Sios);
  std::string file = dir.file("prog.bin");
  write_all(file, "\x07\x08\x09");
  double t0 = now_ms();
  EXPECT_GE(::PROLADEN(file.data()), 0);
  double took = now_ms() - t0;
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{96, 1, 0, 1, 7, 1, 8, 1, 9, 0}));
  EXPECT_EQ(program(link), (Bytes{7, 8, 9}));
  // Every receive found its handshake byte (a missing one costs 101 ms)...
  EXPECT_LT(took, 150 + 90);
  // ...and none is left over for the next exchange.
  EXPECT_EQ(::READBYTE(), -1);
  EXPECT_EQ(link.notes().back(), "Sios: program downloaded, 3 bytes");
}

TEST_F(ProgramDownload, ZelleEmptyProgramIsCommandAndClosingByte) {
  emu::PtyLink &link = interface(Kind::Zelle);
  std::string file = dir.file("empty.bin");
  write_all(file, "");
  SendClock times;
  EXPECT_GE(::PROLADEN(file.data()), 0);
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{5, 0}));
  EXPECT_GE(times.gap_from_end(2, 1), 6.0 - 0.05); // SENDE's 2 ms and DELAY(4)
  EXPECT_EQ(::READBYTE(), -1);
  EXPECT_EQ(link.notes().back(), "Zelle: program downloaded, 0 bytes");
}

TEST_F(ProgramDownload, SilentInterfaceOnlyCostsTheTimeOuts) {
  emu::PtyLink &link = attach_new<emu::SilentDevice>(3);
  open_primary(3);
  std::string file = dir.file("prog.bin");
  write_all(file, std::string("\x00\xff", 2));
  ::SETHARD(4);
  double t0 = now_ms();
  EXPECT_GE(::PROLADEN(file.data()), 0);
  EXPECT_GE(now_ms() - t0, 3 * 100.0);
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{96, 1, 0, 1, 0, 1, 255, 0}));
  link.clear();
  ::SETHARD(16); // no opening sequence, the download runs all the same
  EXPECT_GE(::PROLADEN(file.data()), 0);
  EXPECT_EQ(after_reset(settled_bytes(link)), (Bytes{1, 0, 1, 255, 0}));
}

TEST_F(ProgramDownload, MissingFileSendsNothing) {
  emu::PtyLink &link = interface(Kind::Sios);
  std::string file = dir.file("missing.bin");
  EXPECT_EQ(::PROLADEN(file.data()), -1);
  std::string d = dir.path().string();
  EXPECT_EQ(::PROLADEN(d.data()), -1); // a directory is no program file
  EXPECT_TRUE(settled_bytes(link).empty());
}

TEST_F(ProgramDownload, ProgramStartByInterface) {
  emu::PtyLink &sios = interface(Kind::Sios);
  EXPECT_EQ(::PROSTART(), 1);
  EXPECT_EQ(settled_bytes(sios), (Bytes{97, 129, 0}));
  EXPECT_EQ(sios.notes().back(), "Sios: program started, 0 bytes");
  ::CLOSECOM();

  emu::PtyLink &zelle = interface(Kind::Zelle);
  double t0 = now_ms();
  EXPECT_EQ(::PROSTART(), 1);
  EXPECT_GE(now_ms() - t0, 6 - 0.5);
  EXPECT_EQ(settled_bytes(zelle), (Bytes{6}));
  EXPECT_EQ(zelle.notes().back(), "Zelle: program started, 0 bytes");

  zelle.clear();
  for (int32_t hard : {0, 1, 16}) {
    ::SETHARD(hard);
    EXPECT_EQ(::PROSTART(), -1);
  }
  EXPECT_TRUE(settled_bytes(zelle).empty());

  ::CLOSECOM();
  ::SETHARD(4);
  EXPECT_EQ(::PROSTART(), 0); // no port: the last byte was not taken
}

// --- raw data files ---

class RawDataFile : public LibraryTest {
protected:
  TempDir dir;
  static std::vector<char> pattern(size_t n, int seed = 0) {
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
    return v;
  }
};

TEST_F(RawDataFile, SizeFollowsTheInterface) {
  std::vector<char> buffer = pattern(30720);
  for (int32_t hard : {8, 4, 0, 1, 16, 64}) {
    ::SETHARD(hard);
    size_t n = hard == 8 ? 6146 : 30720;
    std::string file = dir.file("data" + std::to_string(hard));
    EXPECT_EQ(::DATENSPEICHERN(file.data(), buffer.data()), static_cast<int32_t>(n)) << hard;
    EXPECT_EQ(read_all(file), std::string(buffer.data(), n)) << hard;
  }
}

TEST_F(RawDataFile, ReplacesALongerFileAndLeavesNoTemporaryFile) {
  std::string file = dir.file("data.bin");
  write_all(file, std::string(40000, 'x'));
  ::chmod(file.c_str(), 0640);
  std::vector<char> buffer = pattern(6146);
  ::SETHARD(8);
  EXPECT_EQ(::DATENSPEICHERN(file.data(), buffer.data()), 6146);
  EXPECT_EQ(read_all(file), std::string(buffer.begin(), buffer.end()));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"data.bin"});
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u); // the replaced file keeps its permissions
}

TEST_F(RawDataFile, FailedWritesLeaveTheOldFile) {
  std::string file = dir.file("data.bin");
  const std::string old = "the recording of yesterday";
  std::vector<char> buffer = pattern(30720);
  ::SETHARD(4);
  for (auto fault : {FailingFiles::Fault::ShortWrite, FailingFiles::Fault::WriteError, FailingFiles::Fault::Commit}) {
    write_all(file, old);
    FailingFiles files;
    files.fault = fault;
    EXPECT_EQ(::DATENSPEICHERN(file.data(), buffer.data()), -1);
    EXPECT_EQ(read_all(file), old);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"data.bin"});
  }
}

TEST_F(RawDataFile, UncreatableFileChangesNothing) {
  std::vector<char> buffer = pattern(30720);
  std::string missing = dir.file("no-such-dir/data.bin");
  EXPECT_EQ(::DATENSPEICHERN(missing.data(), buffer.data()), -1);
  std::string d = dir.path().string();
  EXPECT_EQ(::DATENSPEICHERN(d.data(), buffer.data()), -1); // a directory
  EXPECT_TRUE(dir.names().empty());
  if (::geteuid() != 0) { // the super-user writes into read-only directories
    std::string file = dir.file("data.bin");
    write_all(file, "old");
    ::chmod(file.c_str(), 0444); // (a writable file is written in place)
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(::DATENSPEICHERN(file.data(), buffer.data()), -1);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(read_all(file), "old");
  }
}

TEST_F(RawDataFile, LoadReadsAtMostTheBufferSizeOfTheInterface) {
  std::string file = dir.file("data.bin");
  std::vector<char> image = pattern(40000, 3);

  write_all(file, std::string(image.data(), 6146));
  std::vector<char> buffer(30720, '\xEE');
  ::SETHARD(4);
  EXPECT_EQ(::DATENLADEN(file.data(), buffer.data()), 6146);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 6146, image.begin()));
  EXPECT_EQ(std::vector<char>(buffer.begin() + 6146, buffer.end()), std::vector<char>(30720 - 6146, '\xEE'));

  write_all(file, std::string(image.begin(), image.end())); // longer than any buffer
  auto exact = std::make_unique<char[]>(6146);
  ::SETHARD(8);
  EXPECT_EQ(::DATENLADEN(file.data(), exact.get()), 6146);
  EXPECT_TRUE(std::equal(exact.get(), exact.get() + 6146, image.begin()));
  ::SETHARD(0);
  EXPECT_EQ(::DATENLADEN(file.data(), buffer.data()), 30720);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin()));

  write_all(file, "");
  EXPECT_EQ(::DATENLADEN(file.data(), buffer.data()), 0);
  std::string missing = dir.file("missing.bin");
  EXPECT_EQ(::DATENLADEN(missing.data(), buffer.data()), -1);
  std::string d = dir.path().string();
  EXPECT_EQ(::DATENLADEN(d.data(), buffer.data()), -1);
}

TEST_F(RawDataFile, SaveAndLoadRoundTripWithTheSameInterface) {
  std::string file = dir.file("Messung 1 \xE4.dat"); // a name used as it stands
  const std::string name = file;
  std::vector<char> saved = pattern(30720, 5);
  std::vector<char> loaded(30720);
  ::SETHARD(4);
  EXPECT_EQ(::DATENSPEICHERN(file.data(), saved.data()), 30720);
  EXPECT_EQ(::DATENLADEN(file.data(), loaded.data()), 30720);
  EXPECT_EQ(loaded, saved);
  EXPECT_EQ(file, name);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"Messung 1 \xE4.dat"});
}

} // namespace
} // namespace tavio::test
