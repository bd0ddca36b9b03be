#include "addresses.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h> // link with iphlpapi
// clang-format on

namespace tavio::serve {

namespace {

std::string utf8(const wchar_t *w) {
  if (!w || !*w) return "";
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string s(size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(size_t(n - 1));
  return s;
}

} // namespace

std::vector<LocalAddress> local_addresses() {
  std::vector<LocalAddress> out;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list may grow between the call that sizes it and the one that fills it.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = ULONG(buffer.size());
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = ::GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()),
                                &size);
  }
  if (rc != NO_ERROR) return out;
  for (auto *a = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (IP_ADAPTER_UNICAST_ADDRESS *u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr *sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      const in_addr addr = reinterpret_cast<const sockaddr_in *>(sa)->sin_addr;
      if ((ntohl(addr.s_addr) >> 24) == 127) continue;
      char s[INET_ADDRSTRLEN];
      if (::inet_ntop(AF_INET, &addr, s, sizeof s)) out.push_back({utf8(a->FriendlyName), s});
    }
  }
  return out;
}

} // namespace tavio::serve
