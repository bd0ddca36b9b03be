#include "devices.h"

#include "interfaces.h"

namespace tavio::emu {

std::unique_ptr<Device> make_device(const std::string &name, const DeviceOptions &options) {
  if (name == "echo") return std::make_unique<EchoDevice>();
  if (name == "silent") return std::make_unique<SilentDevice>();
  if (name == "sios") return std::make_unique<SiosDevice>(options);
  if (name == "compulab") return std::make_unique<CompuLabDevice>(options);
  if (name == "zelle") return std::make_unique<ZelleDevice>(options);
  if (name == "rsbox") return std::make_unique<RsBoxDevice>(options);
  if (name == "camface") return std::make_unique<CamfaceDevice>(options);
  if (name == "ccontrol") return std::make_unique<CControlDevice>(options);
  return nullptr;
}

std::vector<std::string> device_names() {
  return {"echo", "silent", "sios", "compulab", "zelle", "rsbox", "camface", "ccontrol"};
}

} // namespace tavio::emu
