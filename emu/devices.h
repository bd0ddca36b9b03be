// The emulated devices, by name: what tavio32-sim serves and tests use.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pty_link.h"

namespace tavio::emu {

// Answers every byte with the same byte.
class EchoDevice final : public Device {
public:
  const char *name() const override { return "echo"; }
  void on_byte(uint8_t byte, Link &link) override { link.reply(byte); }
};

// Takes everything, answers nothing.
class SilentDevice final : public Device {
public:
  const char *name() const override { return "silent"; }
  void on_byte(uint8_t, Link &) override {}
};

// Options that tavio32-sim passes to a device (inputs to show, and so on).
struct DeviceOptions {
  int din = -1;                    // digital input port value, -1 = device default
  std::vector<std::pair<int, int>> ain; // fixed analog inputs: channel, value
  uint32_t baud = 0;               // line rate to listen at, 0 = the device's own
  int ident = -1;                  // identification answer where a device has a choice, -1 = default
};

// Makes the device with that name, or null for an unknown name.
std::unique_ptr<Device> make_device(const std::string &name, const DeviceOptions &options = {});
// The names make_device knows.
std::vector<std::string> device_names();

} // namespace tavio::emu

namespace tavio::emu {

// A device whose behaviour is a function: tests script answers with it.
class ScriptDevice final : public Device {
public:
  using Handler = std::function<void(uint8_t byte, Link &link)>;
  explicit ScriptDevice(Handler handler, uint32_t baud = 0) : handler_(std::move(handler)), baud_(baud) {}
  const char *name() const override { return "script"; }
  uint32_t baud() const override { return baud_; }
  void on_byte(uint8_t byte, Link &link) override {
    if (handler_) handler_(byte, link);
  }

private:
  Handler handler_;
  uint32_t baud_;
};

} // namespace tavio::emu
