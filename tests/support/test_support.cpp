#include "test_support.h"

#include <cstdlib>
#include <time.h>

#include "frame/frame.h"
#include "frame/state.h"
#include "platform/platform.h"

namespace tavio::test {

void no_devices() {
  for (int i = 1; i <= 9; ++i) {
    std::string var = "TAVIO32_COM" + std::to_string(i);
    ::setenv(var.c_str(), "", 1);
  }
}

uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void LibraryTest::SetUp() {
  no_devices();
  platform::install_backend(nullptr);
  entry_notify();
  reset_state_for_tests();
  set_message_handler(nullptr);
}

void LibraryTest::TearDown() {
  platform::install_backend(nullptr);
  entry_notify();
  reset_state_for_tests();
  set_message_handler(nullptr);
  servers_.clear();
  links_.clear();
  no_devices();
}

emu::PtyLink &LibraryTest::attach(int com, std::unique_ptr<emu::Device> device) {
  links_.push_back(std::make_unique<emu::PtyLink>(std::move(device)));
  std::string name = "COM" + std::to_string(com);
  links_.back()->bind(name.c_str());
  NetServer::Kind kind;
  if (NetServer::from_environment(kind)) {
    servers_.push_back(std::make_unique<NetServer>(kind, links_.back()->slave_path()));
    ::setenv(("TAVIO32_" + name).c_str(), servers_.back()->url().c_str(), 1);
  }
  return *links_.back();
}

std::string LibraryTest::mode(int com, const char *settings) {
  return "COM" + std::to_string(com) + ":" + settings;
}

void LibraryTest::open_primary(int com, const char *settings) {
  std::string m = mode(com, settings);
  ASSERT_EQ(OPENCOM(m.data()), 1) << m;
}

} // namespace tavio::test
