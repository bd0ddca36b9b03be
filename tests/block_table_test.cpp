// The table export: exact bytes of small tables, failures, and that no
// header, however large its counts, makes the export read outside the block
// buffer.
#include <random>
#include <sstream>

#include "block_support.h"
#include "test_support.h"

namespace tavio::test {
namespace {

class TableExport : public LibraryTest {
protected:
  TempDir dir;
  std::string file = dir.file("table.txt");

  static std::vector<char> recording(int32_t hard, int blocks) { return table_recording(hard, blocks); }
  static constexpr const char *kHeading = "Zeit [ms];\tKanal 1\tKanal 3\t\r\n\r\n";
  static constexpr const char *kBlock1 = "0\t10\t11\t\r\n20\t20\t21\t\r\n40\t30\t31\t\r\n";
  static constexpr const char *kBlock2 = "0\t40\t41\t\r\n20\t50\t51\t\r\n40\t60\t61\t\r\n";

  int32_t save(std::vector<char> &buffer) { return ::TABELLESPEICHERN(file.data(), buffer.data()); }
};

TEST_F(TableExport, OneBlockOnTheSios) {
  ::SETHARD(4);
  std::vector<char> buffer = recording(4, 1);
  EXPECT_EQ(save(buffer), 1);
  EXPECT_EQ(read_all(file), std::string(kHeading) + kBlock1);
}

TEST_F(TableExport, TwoBlocksFollowEachOtherDirectly) {
  ::SETHARD(4);
  std::vector<char> buffer = recording(4, 2);
  EXPECT_EQ(save(buffer), 1);
  EXPECT_EQ(read_all(file), std::string(kHeading) + kBlock1 + kHeading + kBlock2);
}

TEST_F(TableExport, ZelleBufferTakesItsValuesFromByteTen) {
  ::SETHARD(8);
  std::vector<char> buffer = recording(8, 2);
  EXPECT_EQ(save(buffer), 1);
  EXPECT_EQ(read_all(file), std::string(kHeading) + kBlock1 + kHeading + kBlock2);
}

TEST_F(TableExport, NoMeasurementsNoBlocksNoChannels) {
  ::SETHARD(4);
  std::vector<char> buffer = recording(4, 2);
  buffer[1] = 0; // M = 0: headings alone, result 0
  EXPECT_EQ(save(buffer), 0);
  EXPECT_EQ(read_all(file), std::string(kHeading) + kHeading);

  buffer = recording(4, 0); // B = 0: an empty file, result 0
  write_all(file, "old content");
  EXPECT_EQ(save(buffer), 0);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(read_all(file), "");

  buffer = recording(4, 1); // K = 0: times alone; the interval is the stored one
  buffer[2] = buffer[4] = 0;
  EXPECT_EQ(save(buffer), 1);
  EXPECT_EQ(read_all(file), "Zeit [ms];\t\r\n\r\n0\t\r\n18\t\r\n36\t\r\n");
}

TEST_F(TableExport, ChannelHeadingsShowTheChannelBytes) {
  ::SETHARD(8);
  std::vector<char> buffer = recording(8, 1);
  buffer[2] = 4, buffer[3] = static_cast<char>(255), buffer[4] = 0, buffer[5] = 1;
  EXPECT_EQ(save(buffer), 1);
  EXPECT_EQ(read_all(file).substr(0, 43), "Zeit [ms];\tKanal 4\tKanal 255\tKanal 1\t\r\n\r\n0\t");
}

TEST_F(TableExport, NameIsUsedAsItStandsAndLeftUnchanged) {
  ::SETHARD(4);
  std::vector<char> buffer = recording(4, 1);
  std::string name = dir.file("Tabelle \xE4\xF6\xFC.txt");
  const std::string copy = name;
  EXPECT_EQ(::TABELLESPEICHERN(name.data(), buffer.data()), 1);
  EXPECT_EQ(name, copy);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"Tabelle \xE4\xF6\xFC.txt"});
}

TEST_F(TableExport, MissingDirectoryGivesMinusOneAndNoFile) {
  ::SETHARD(4);
  std::vector<char> buffer = recording(4, 1);
  std::string name = dir.file("missing/table.txt");
  EXPECT_EQ(::TABELLESPEICHERN(name.data(), buffer.data()), -1);
  EXPECT_TRUE(dir.names().empty());
}

TEST_F(TableExport, AnyFailedWriteReportsMinusOneAndKeepsTheOldTable) {
  ::SETHARD(4);
  // A table of several 64 KiB chunks: 7676 lines of four values.
  std::vector<char> buffer(30720, static_cast<char>(255));
  buffer[0] = static_cast<char>(7676 / 256), buffer[1] = static_cast<char>(7676 % 256);
  buffer[2] = 1, buffer[3] = 2, buffer[4] = 3, buffer[5] = 4, buffer[15] = 1;
  buffer[10] = 0, buffer[11] = 16; // 20 ms
  using F = FailingFiles::Fault;
  struct Case {
    F fault;
    int from_write;
  };
  for (Case c : {Case{F::WriteError, 1}, Case{F::WriteError, 2}, Case{F::ShortWrite, 3}, Case{F::Commit, 1}}) {
    write_all(file, "old table");
    FailingFiles files;
    files.fault = c.fault;
    files.from_write = c.from_write;
    EXPECT_EQ(save(buffer), -1) << static_cast<int>(c.fault) << " from write " << c.from_write;
    EXPECT_GE(files.writes, c.fault == F::Commit ? 3 : c.from_write);
    EXPECT_TRUE(read_all(file) == "old table");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"table.txt"});
  }
  // The same table written: several chunks, every line complete.
  EXPECT_EQ(save(buffer), 1);
  std::string text = read_all(file);
  EXPECT_GT(text.size(), 2u * 65536u);
  EXPECT_EQ(text.find("\r\n\r\n", 50), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 7676);
  EXPECT_TRUE(text.ends_with("\r\n153500\t255\t255\t255\t255\t\r\n"));
}

TEST_F(TableExport, TimeIsASigned32BitProduct) {
  // No channels: every line lies inside the buffer, so M = 65535 lines at
  // 65535 ms; (m - 1) x T passes 2^31 and wraps as a 32-bit product does.
  ::SETHARD(4);
  std::vector<char> buffer(30720, 0);
  buffer[0] = buffer[1] = buffer[10] = buffer[11] = static_cast<char>(255);
  buffer[15] = 1;
  EXPECT_EQ(save(buffer), 1);
  std::string text = read_all(file);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 65535);
  EXPECT_NE(text.find("\r\n2147450880\t\r\n"), std::string::npos); // 32767 x 65535
  EXPECT_TRUE(text.ends_with("\r\n-196606\t\r\n"));    // 65534 x 65535 - 2^32
}

// --- the buffer bounds ---

// The measurement lines of a table: per line, the time and the values.
struct Parsed {
  int headings = 0;
  std::vector<std::vector<long long>> lines;
  bool well_formed = true;
};

Parsed parse(const std::string &text) {
  Parsed p;
  size_t pos = 0;
  bool expect_empty = false;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      p.well_formed = false;
      break;
    }
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    if (expect_empty) {
      p.well_formed &= line.empty();
      expect_empty = false;
    } else if (line.rfind("Zeit [ms];\t", 0) == 0) {
      ++p.headings;
      expect_empty = true;
    } else {
      std::vector<long long> fields;
      std::istringstream in(line);
      std::string field;
      while (std::getline(in, field, '\t')) fields.push_back(std::stoll(field));
      p.well_formed &= !line.empty() && line.back() == '\t';
      p.lines.push_back(fields);
    }
  }
  return p;
}

TEST_F(TableExport, TableEndsAtTheLastLineInsideTheBuffer) {
  ::SETHARD(8); // 6136 data bytes
  struct Case {
    int m, channels, blocks;
    size_t lines;
    int headings;
  };
  const Case cases[] = {
      {1534, 0x0F, 1, 1534, 1}, // exactly full
      {1535, 0x0F, 1, 1534, 1}, // one line too many: left out
      {3000, 0x07, 1, 2045, 1}, // 2045 x 3 = 6135 bytes
      {1000, 0x0F, 2, 1534, 2}, // ends inside block 2
      {767, 0x0F, 3, 1534, 2},  // ends with block 2: no heading for block 3
      {65535, 0x01, 255, 6136, 1},
  };
  for (const Case &c : cases) {
    auto buffer = std::make_unique<char[]>(6146);
    for (size_t i = 0; i < 6146; ++i) buffer[i] = static_cast<char>(i * 13);
    buffer[0] = static_cast<char>(c.m >> 8), buffer[1] = static_cast<char>(c.m & 255);
    for (int ch = 1; ch <= 4; ++ch) buffer[1 + ch] = static_cast<char>((c.channels >> (ch - 1)) & 1 ? ch : 0);
    buffer[6] = 0, buffer[7] = 10, buffer[8] = 0, buffer[9] = static_cast<char>(c.blocks);
    EXPECT_EQ(::TABELLESPEICHERN(file.data(), buffer.get()), 1);
    Parsed p = parse(read_all(file));
    EXPECT_TRUE(p.well_formed);
    EXPECT_EQ(p.lines.size(), c.lines) << c.m << " " << c.channels << " " << c.blocks;
    EXPECT_EQ(p.headings, c.headings) << c.m << " " << c.channels << " " << c.blocks;
  }
}

TEST_F(TableExport, RandomHeadersNeverReadOutsideTheBuffer) {
  // Exactly sized heap buffers: a read past the end trips AddressSanitizer.
  // Every line is checked against the index formula.
  std::mt19937 rng(20240611);
  const int32_t codes[] = {4, 8, 0, 1, 16, 32, 64};
  for (int round = 0; round < 250; ++round) {
    const int32_t hard = codes[rng() % 7];
    ::SETHARD(hard);
    const size_t size = hard == 4 ? 30720 : 6146; // other codes: the smallest buffer
    const size_t first = hard == 4 ? 16 : 10;
    auto buffer = std::make_unique<uint8_t[]>(size);
    for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(rng());
    for (int i = 2; i <= 5; ++i) buffer[i] = rng() % 3 == 0 ? 0 : buffer[i];
    const int k = ::KANALZAHL(reinterpret_cast<char *>(buffer.get()));
    if (k == 0) buffer[0] = 0, buffer[1] %= 4; // keeps tables without channels small
    else if (rng() % 2) buffer[0] %= 8;
    const uint64_t m = buffer[0] * 256u + buffer[1];
    const uint64_t b = static_cast<uint32_t>(::BLOCKZAHL(reinterpret_cast<char *>(buffer.get()))) & 0xFFFF;
    const uint64_t fit = k == 0 ? m * b : std::min(m * b, (size - first) / k);

    const int32_t r = ::TABELLESPEICHERN(file.data(), reinterpret_cast<char *>(buffer.get()));
    EXPECT_EQ(r, fit > 0 ? 1 : 0) << "round " << round;
    Parsed p = parse(read_all(file));
    ASSERT_TRUE(p.well_formed) << "round " << round;
    ASSERT_EQ(p.lines.size(), fit) << "round " << round << " HARD " << hard << " M " << m << " K " << k;
    for (size_t j = 0; j < p.lines.size(); ++j) {
      ASSERT_EQ(p.lines[j].size(), static_cast<size_t>(k) + 1) << "round " << round << " line " << j;
      for (int v = 0; v < k; ++v)
        ASSERT_EQ(p.lines[j][1 + v], buffer[first + j * k + v]) << "round " << round << " line " << j;
    }
  }
}

} // namespace
} // namespace tavio::test
