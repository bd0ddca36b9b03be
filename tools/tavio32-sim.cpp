// tavio32-sim: serves an emulated device on a pseudo-terminal until
// interrupted, so that programs using tavio32 run without hardware.
//
//   tavio32-sim --device sios --link /tmp/com3 [--com COM3] [--log]
//
// prints the TAVIO32_COMn=PATH line to put into the environment of the
// program that should see the device.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "devices.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage(FILE *out) {
  std::fprintf(out,
               "usage: tavio32-sim --device NAME --link PATH [--com COMn] [--log]\n"
               "                   [--din VALUE] [--ain CH=VALUE]... [--mute-after N] [--baud RATE]\n"
               "  --device NAME     the device to emulate:");
  for (const std::string &n : tavio::emu::device_names()) std::fprintf(out, " %s", n.c_str());
  std::fprintf(out,
               "\n"
               "  --link PATH       make PATH a symbolic link to the pseudo-terminal\n"
               "  --com COMn        the port name to print the environment line for (COM3)\n"
               "  --log             print every byte received, with its time in ms\n"
               "  --din VALUE       digital input value the device reports (0x5a, 90)\n"
               "  --ain CH=VALUE    fix analog input CH at VALUE (0..255)\n"
               "  --mute-after N    answer nothing once N bytes have been received\n"
               "  --baud RATE       listen at RATE instead of the device's own line rate\n");
}

bool parse_int(const char *s, int &out) {
  char *end = nullptr;
  long v = std::strtol(s, &end, 0);
  if (end == s || *end != '\0') return false;
  out = static_cast<int>(v);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::string device_name, link_path, com = "COM3";
  bool log = false;
  int mute_after = 0;
  tavio::emu::DeviceOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char *what) -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tavio32-sim: %s needs a value\n", what);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--device") device_name = value("--device");
    else if (a == "--link") link_path = value("--link");
    else if (a == "--com") com = value("--com");
    else if (a == "--log") log = true;
    else if (a == "--din") {
      if (!parse_int(value("--din"), options.din)) { usage(stderr); return 2; }
    } else if (a == "--ain") {
      const char *v = value("--ain");
      const char *eq = std::strchr(v, '=');
      int ch, val;
      if (!eq || !parse_int(std::string(v, eq).c_str(), ch) || !parse_int(eq + 1, val)) { usage(stderr); return 2; }
      options.ain.emplace_back(ch, val);
    } else if (a == "--mute-after") {
      if (!parse_int(value("--mute-after"), mute_after) || mute_after < 0) { usage(stderr); return 2; }
    } else if (a == "--baud") {
      int rate;
      if (!parse_int(value("--baud"), rate) || rate <= 0) { usage(stderr); return 2; }
      options.baud = static_cast<uint32_t>(rate);
    } else if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tavio32-sim: unknown option %s\n", a.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (device_name.empty() || link_path.empty()) {
    usage(stderr);
    return 2;
  }
  auto device = tavio::emu::make_device(device_name, options);
  if (!device) {
    std::fprintf(stderr, "tavio32-sim: unknown device %s\n", device_name.c_str());
    usage(stderr);
    return 2;
  }

  tavio::emu::PtyLink link(std::move(device));
  ::unlink(link_path.c_str());
  if (::symlink(link.slave_path().c_str(), link_path.c_str()) != 0) {
    std::perror("tavio32-sim: cannot create the link");
    return 1;
  }
  if (mute_after > 0) link.mute_after(static_cast<size_t>(mute_after));
  if (log) {
    uint64_t start = tavio::emu::Link::now_ns();
    link.on_receive([start](const tavio::emu::Received &r) {
      std::printf("%10.3f ms  %3u  0x%02x  %u baud%s\n", double(r.t_ns - start) / 1e6, r.byte, r.byte, r.baud,
                  r.delivered ? "" : "  (ignored: wrong line rate)");
      std::fflush(stdout);
    });
  }
  if (log) link.on_note([](const std::string &text) {
    std::printf("           %s\n", text.c_str());
    std::fflush(stdout);
  });
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("TAVIO32_%s=%s\n", com.c_str(), link_path.c_str());
  std::printf("serving %s on %s (%s); Ctrl-C ends\n", device_name.c_str(), link_path.c_str(), link.slave_path().c_str());
  std::fflush(stdout);
  while (!g_stop) ::pause();
  ::unlink(link_path.c_str());
  return 0;
}
