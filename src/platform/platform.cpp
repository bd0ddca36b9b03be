#include "platform/platform.h"

namespace tavio::platform {

namespace {
Backend *g_installed = nullptr;
}

Backend &backend() { return g_installed ? *g_installed : native_backend(); }

Backend *install_backend(Backend *b) {
  Backend *before = g_installed;
  g_installed = b;
  return before;
}

} // namespace tavio::platform
