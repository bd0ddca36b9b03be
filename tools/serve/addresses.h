// The machine's own addresses, for the links that `tavio32 serve` prints
// and shows when it listens on all of them.
#pragma once

#include <string>
#include <vector>

namespace tavio::serve {

struct LocalAddress {
  std::string interface; // its network interface: eth0, wlan0 (Windows: the adapter's name, "Wi-Fi")
  std::string address;   // dotted IPv4
};

// The IPv4 addresses of the interfaces that are up, loopback left out, in
// the order the system lists them; empty when there is no network (or the
// system would not say).
std::vector<LocalAddress> local_addresses();

} // namespace tavio::serve
