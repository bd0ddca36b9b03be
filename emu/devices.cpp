#include "devices.h"

namespace tavio::emu {

std::unique_ptr<Device> make_device(const std::string &name, const DeviceOptions &) {
  if (name == "echo") return std::make_unique<EchoDevice>();
  if (name == "silent") return std::make_unique<SilentDevice>();
  return nullptr;
}

std::vector<std::string> device_names() { return {"echo", "silent"}; }

} // namespace tavio::emu
