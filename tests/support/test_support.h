// Shared test support: a fixture that starts every test from the state after
// load, with no real serial device reachable, and helpers to put emulated
// devices on COM ports over real pseudo-terminals.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices.h"
#include "net_servers.h"
#include "pty_link.h"
#include "tavio32.h"

namespace tavio::test {

using emu::free_port;
using emu::NetServer;

// Points TAVIO32_COM1..COM9 nowhere, so that no test touches /dev/ttyS*.
void no_devices();

// Monotonic clock in ns and ms.
uint64_t now_ns();
inline double now_ms() { return static_cast<double>(now_ns()) / 1e6; }

class LibraryTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Creates a device on a pty and binds COM<com> to it: directly, or, when
  // TAVIO32_TEST_SERVER names one, through an RFC 2217 server in front of
  // the pty, so that the same tests run over a network port.
  emu::PtyLink &attach(int com, std::unique_ptr<emu::Device> device);
  template <class D, class... A> emu::PtyLink &attach_new(int com, A &&...args) {
    return attach(com, std::make_unique<D>(std::forward<A>(args)...));
  }
  // Mode string "COM<com>:<settings>" in a writable buffer.
  static std::string mode(int com, const char *settings = "19200,N,8,2");
  // Opens COM<com> as the primary port; asserts success.
  void open_primary(int com, const char *settings = "19200,N,8,2");

  std::vector<std::unique_ptr<emu::PtyLink>> links_;
  std::vector<std::unique_ptr<NetServer>> servers_; // stop before links_
};

// Milliseconds between two received bytes.
inline double gap_ms(const emu::Received &a, const emu::Received &b) {
  return static_cast<double>(b.t_ns - a.t_ns) / 1e6;
}

} // namespace tavio::test
