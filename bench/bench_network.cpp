// Network ports against local ones, in the same run: each exchange once on
// a pseudo-terminal opened directly and once through ser2net on loopback in
// front of the same kind of emulated device.
//
// 1. SENDBYTE + READBYTE round trip with an echo device (median, p99).
// 2. AIN on an emulated Sios (median, p99).
// 3. A full Sios block readout against its protocol floor (2 ms after every
//    byte sent, plus the link reset's ten 12 ms waits); goal <= 1.05 x.
// 4. 1 MiB through SENDSTRING/READSTRING in 4 KiB strings with an echo.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "block/block.h"
#include "block_mode.h"
#include "devices.h"
#include "net_servers.h"
#include "pty_link.h"
#include "tavio32.h"

namespace {

using tavio::emu::NetServer;
using tavio::emu::PtyLink;

// A device on a pty behind COM3: directly, or through ser2net.
struct Setup {
  std::unique_ptr<PtyLink> link;
  std::unique_ptr<NetServer> server;
  Setup(std::unique_ptr<tavio::emu::Device> device, bool network) : link(std::make_unique<PtyLink>(std::move(device))) {
    link->bind("COM3");
    if (network) {
      server = std::make_unique<NetServer>(NetServer::Kind::Ser2net, link->slave_path());
      ::setenv("TAVIO32_COM3", server->url().c_str(), 1);
    }
  }
  ~Setup() { server.reset(); }
};

const char *where(bool network) { return network ? "ser2net" : "direct "; }

void open_or_die(const char *settings) {
  std::string mode = std::string("COM3:") + settings;
  if (OPENCOM(mode.data()) != 1) {
    std::fprintf(stderr, "bench_network: cannot open COM3 (%s)\n", mode.c_str());
    std::exit(1);
  }
}

double round_trip(bool network) {
  Setup s(std::make_unique<tavio::emu::EchoDevice>(), network);
  open_or_die("19200,N,8,2");
  std::vector<double> t;
  for (int i = 0; i < 300; ++i) {
    double t0 = bench::now_ms();
    if (SENDBYTE(i & 0xFF) != 1 || READBYTE() != (i & 0xFF)) {
      std::fprintf(stderr, "bench_network: echo failed\n");
      std::exit(1);
    }
    t.push_back(bench::now_ms() - t0);
  }
  CLOSECOM();
  std::printf("  %s SENDBYTE+READBYTE: median %.3f ms, p99 %.3f ms\n", where(network), bench::median(t),
              bench::percentile(t, 0.99));
  return bench::median(t);
}

double ain(bool network) {
  Setup s(tavio::emu::make_device("sios"), network);
  if (INITSIOS(3) != 3) {
    std::fprintf(stderr, "bench_network: no Sios found\n");
    std::exit(1);
  }
  std::vector<double> t;
  for (int i = 0; i < 200; ++i) {
    double t0 = bench::now_ms();
    AIN(1 + i % 4);
    t.push_back(bench::now_ms() - t0);
  }
  CLOSECOM();
  std::printf("  %s AIN: median %.3f ms, p99 %.3f ms\n", where(network), bench::median(t), bench::percentile(t, 0.99));
  return bench::median(t);
}

double readout(bool network) {
  using tavio::emu::BlockMode;
  Setup s(std::make_unique<tavio::emu::BlockDevice>(BlockMode::Kind::Sios), network);
  open_or_die("19200,N,8,2");
  SETHARD(4);
  BLOCKDEF(8000, 15, 10);
  BLOCKSTART();
  s.link->settled_bytes();
  s.link->clear();
  std::vector<char> buffer(tavio::kSiosBufferSize, 0);
  double t0 = bench::now_ms();
  int32_t r = BLOCKEIN(buffer.data(), 1);
  double took = bench::now_ms() - t0;
  std::vector<uint8_t> sent = s.link->settled_bytes();
  size_t zeros = 0;
  while (zeros < sent.size() && zeros < 10 && sent[zeros] == 0) ++zeros;
  double floor = 2.0 * static_cast<double>(sent.size()) + (zeros == 10 ? 120.0 : 0.0);
  CLOSECOM();
  std::printf("  %s Sios readout: BLOCKEIN = %d, %zu bytes sent, %.1f ms, floor %.1f ms, ratio %.4f x (goal <= 1.05)\n",
              where(network), r, sent.size(), took, floor, took / floor);
  return took / floor;
}

double strings(bool network) {
  constexpr size_t kTotal = 1u << 20, kChunk = 4096;
  Setup s(std::make_unique<tavio::emu::EchoDevice>(), network);
  open_or_die("115200,N,8,1");
  TIMEOUT(2000);
  std::vector<char> out(kChunk + 1), in(kChunk + 1);
  for (size_t i = 0; i < kChunk; ++i) out[i] = static_cast<char>(1 + (i * 31) % 255);
  double t0 = bench::now_ms();
  for (size_t moved = 0; moved < kTotal; moved += kChunk) {
    std::memset(in.data(), ' ', kChunk);
    if (SENDSTRING(out.data()) != static_cast<int32_t>(kChunk) ||
        READSTRING(in.data()) != static_cast<int32_t>(kChunk) || std::memcmp(in.data(), out.data(), kChunk) != 0) {
      std::fprintf(stderr, "bench_network: string transfer failed\n");
      std::exit(1);
    }
  }
  double t = bench::now_ms() - t0;
  CLOSECOM();
  double rate = (kTotal / 1048576.0) / (t / 1e3);
  std::printf("  %s 1 MiB SENDSTRING/READSTRING: %.0f ms, %.2f MiB/s\n", where(network), t, rate);
  return rate;
}

} // namespace

int main() {
  bench::no_devices();
  std::printf("network ports: ser2net on loopback against a direct pty\n");
  double rd = round_trip(false), rn = round_trip(true);
  std::printf("    ratio %.3f\n", rn / rd);
  double ad = ain(false), an = ain(true);
  std::printf("    ratio %.3f\n", an / ad);
  if (!std::getenv("BENCH_NETWORK_SKIP_READOUT")) {
    readout(false);
    readout(true);
  }
  double sd = strings(false), sn = strings(true);
  std::printf("    throughput ratio network/direct %.3f\n", sn / sd);
  return 0;
}
