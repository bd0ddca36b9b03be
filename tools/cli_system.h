// What the tavio32 command asks the system: where a COM name leads, whether
// a device can be opened and who holds it, and who holds the library.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavio::cli {

// The device path a port name maps to under the library's rules, and where
// the mapping comes from ("TAVIO32_COM3", "default", ""). An empty path: no
// device.
struct Mapping {
  std::string path;
  std::string source;
};
Mapping map_port(int n);

// Processes (pid and command name) that have `path` open; only those whose
// descriptors this user may see.
struct Holder {
  pid_t pid;
  std::string name;
};
std::vector<Holder> holders_of(const std::string &path);
// The process holding the library's one-process lock; pid 0 when free or
// when the system does not tell.
Holder library_holder(bool *held);

// Why a device cannot be opened, as a sentence that says what to do; empty
// when it can be opened (it is closed again at once).
std::string open_problem(const std::string &port_name, const Mapping &m);

// Serial devices present on the machine.
std::vector<std::string> serial_devices();

std::string describe(const std::vector<Holder> &holders);

} // namespace tavio::cli
