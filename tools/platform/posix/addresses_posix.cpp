#include "addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace tavio::serve {

std::vector<LocalAddress> local_addresses() {
  std::vector<LocalAddress> out;
  ifaddrs *list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs *i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
        (i->ifa_flags & IFF_LOOPBACK))
      continue;
    const in_addr a = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
    if ((ntohl(a.s_addr) >> 24) == 127) continue; // a loopback address on another interface
    char s[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &a, s, sizeof s)) out.push_back({i->ifa_name ? i->ifa_name : "", s});
  }
  ::freeifaddrs(list);
  return out;
}

} // namespace tavio::serve
