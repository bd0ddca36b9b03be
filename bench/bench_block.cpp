// bench_block: full block readouts from the emulated Zelle and Sios, as a
// ratio to the protocol floor, and the table export of a full Sios buffer.
//
//   bench_block [--skip-sios-readout]
//
// The floor of a readout is what the exchange cannot go below: 2 ms after
// every byte sent (SENDE), the link reset's own waits (ten times 12 ms, when
// the reset sends its bytes) and the Zelle's 4 ms after its command byte.
// Target: at most 1.03 x. Table export target: under 20 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "block/block.h"
#include "block_mode.h"
#include "frame/state.h"
#include "hardware/hardware.h"
#include "serial/port.h"

namespace {

using tavio::emu::BlockDevice;
using tavio::emu::BlockMode;
using tavio::emu::PtyLink;

// Records M measurements of four channels, reads the block back and prints
// time, bytes and the ratio to the floor. Leaves the buffer filled.
void readout(BlockMode::Kind kind, int32_t measurements, std::vector<uint8_t> &buffer) {
  const bool sios = kind == BlockMode::Kind::Sios;
  PtyLink link(std::make_unique<BlockDevice>(kind));
  link.bind("COM3");
  char mode[32];
  std::snprintf(mode, sizeof mode, "COM3:%s", sios ? "19200,N,8,2" : "9600,N,8,2");
  if (tavio::OPEN_COM(mode) != 1) {
    std::fprintf(stderr, "bench_block: cannot open the emulated port\n");
    std::exit(1);
  }
  tavio::SETHARD(sios ? tavio::kSios : tavio::kZelle);
  tavio::BLOCKDEF(measurements, 15, 10);
  tavio::BLOCKSTART();
  link.settled_bytes();
  link.clear();

  buffer.assign(sios ? tavio::kSiosBufferSize : tavio::kZelleBufferSize, 0);
  const double t0 = bench::now_ms();
  const int32_t r = tavio::BLOCKEIN(buffer.data(), 1);
  const double took = bench::now_ms() - t0;
  const std::vector<uint8_t> sent = link.settled_bytes();
  size_t zeros = 0;
  while (zeros < sent.size() && zeros < 10 && sent[zeros] == 0) ++zeros;
  const double floor = 2.0 * static_cast<double>(sent.size()) + (zeros == 10 ? 120.0 : 0.0) + (sios ? 0.0 : 4.0);
  const size_t data = buffer.size() - (sios ? tavio::kSiosHeaderSize : tavio::kZelleHeaderSize);
  std::printf("%-5s full readout: BLOCKEIN = %d, %zu data bytes, %zu bytes sent%s\n", sios ? "Sios" : "Zelle", r, data,
              sent.size(), zeros == 10 ? " (incl. link reset)" : " (link reset sends nothing in this build)");
  std::printf("      %.1f ms, floor %.1f ms, ratio %.4f x (target <= 1.03)\n", took, floor, took / floor);
  tavio::CLOSE_COM();
}

void table_export(const std::vector<uint8_t> &buffer, const char *what) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavio32-bench-block";
  std::filesystem::create_directories(dir);
  std::string file = (dir / "table.txt").string();
  tavio::SETHARD(tavio::kSios);
  std::vector<double> times;
  int32_t r = 0;
  for (int i = 0; i < 41; ++i) {
    const double t0 = bench::now_ms();
    r = tavio::TABELLESPEICHERN(file.data(), buffer.data());
    times.push_back(bench::now_ms() - t0);
  }
  std::sort(times.begin(), times.end());
  const auto size = std::filesystem::file_size(file);
  std::printf("Table export of a full Sios buffer (%s): result %d, %ju bytes\n", what, r, static_cast<uintmax_t>(size));
  std::printf("      median %.2f ms, min %.2f ms, max %.2f ms over %zu runs (target < 20 ms)\n", times[times.size() / 2],
              times.front(), times.back(), times.size());
  std::filesystem::remove_all(dir);
}

} // namespace

int main(int argc, char **argv) {
  const bool skip_sios = argc > 1 && std::strcmp(argv[1], "--skip-sios-readout") == 0;
  std::vector<uint8_t> buffer;
  readout(BlockMode::Kind::Zelle, 2000, buffer); // 8000 values, 6136 read
  if (!skip_sios) {
    readout(BlockMode::Kind::Sios, 8000, buffer); // 32000 values, 30704 read
  } else {
    buffer.assign(tavio::kSiosBufferSize, 0);
    for (size_t i = 16; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 37);
    const uint8_t header[16] = {8000 >> 8, 8000 & 255, 1, 2, 3, 4, 0, 0, 128, 128, 0, 6, 2, 1, 4, 1};
    std::memcpy(buffer.data(), header, sizeof header);
  }
  table_export(buffer, "7676 lines of four channels");
  // The longest table a full buffer makes: one channel, 30704 lines.
  buffer[2] = 1, buffer[3] = buffer[4] = buffer[5] = 0, buffer[14] = 1;
  buffer[0] = 30704 >> 8, buffer[1] = 30704 & 255;
  table_export(buffer, "30704 lines of one channel");
  return 0;
}
