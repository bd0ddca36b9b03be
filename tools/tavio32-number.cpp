// tavio32-number: gives a USB serial adapter its COM number, the lowest
// free one from COM3 up, the first time it is seen, and prints the number
// it has ("COM3"). The package's udev rule runs it for every USB serial
// line that appears, and links /dev/tavio32/COMn to the line.
//
//   tavio32-number ttyUSB0     the adapter behind that line
//   tavio32-number             every adapter plugged in now, one line each
#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/adapters.h"

namespace adapters = tavio::platform::adapters;

static int number_of(const adapters::Adapter &a) {
  for (const adapters::Number &n : adapters::read_numbers())
    if (n.key == a.key) return n.com;
  return 0;
}

int main(int argc, char **argv) {
  std::vector<adapters::Adapter> which;
  if (argc > 2) {
    std::fprintf(stderr, "usage: tavio32-number [ttyUSB0]\n");
    return 2;
  }
  if (argc == 2) {
    adapters::Adapter a;
    if (!adapters::identify(argv[1], a)) {
      std::fprintf(stderr, "tavio32-number: %s is no USB serial line\n", argv[1]);
      return 1;
    }
    which.push_back(a);
  } else {
    which = adapters::present();
  }
  std::vector<adapters::Number> given;
  std::string error;
  const bool ok = adapters::number_new(which, given, error);
  if (!ok) std::fprintf(stderr, "tavio32-number: %s\n", error.c_str());
  int status = ok ? 0 : 1;
  for (const adapters::Adapter &a : which) {
    const int com = number_of(a);
    if (!com) {
      status = 1;
      continue;
    }
    if (argc == 2) std::printf("COM%d\n", com);
    else std::printf("COM%d %s %s\n", com, a.device.c_str(), a.about.c_str());
  }
  return status;
}
