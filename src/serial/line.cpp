#include "serial/line.h"

#include <new>

#include "frame/state.h"
#include "serial/rfc2217.h"

namespace tavio::line {

namespace pf = platform;
using pf::Handle;

namespace {

// The network port behind h, or null for a local line.
net::NetworkPort *network(Handle h) {
  if (h == pf::kNoHandle || h == pf::kInvalidHandle) return nullptr;
  pf::Locked hold(NETLOCK);
  for (const NetworkEntry &e : NETPORTS)
    if (e.port != nullptr && e.handle == h) return e.port;
  return nullptr;
}

// Connects, negotiates and takes the port into the table.
Handle open_network(pf::Backend &b, const char *path) {
  int32_t c = net::NetworkPort::connect(b, path);
  auto *port = c >= 3 ? new (std::nothrow) net::NetworkPort(b, c) : nullptr;
  if (port == nullptr) {
    if (c >= 0) b.net_close(c);
    return pf::kInvalidHandle;
  }
  if (port->start()) {
    pf::Locked hold(NETLOCK);
    for (NetworkEntry &e : NETPORTS)
      if (e.port == nullptr) {
        e.handle = c;
        e.port = port;
        return c;
      }
  }
  delete port; // ends the connection (also when the table is full, which
               // the library's nine ports cannot make it)
  return pf::kInvalidHandle;
}

class Router final : public pf::Backend {
public:
  // --- ports: network ports here, local lines to the platform
  bool device_path(const char *name, std::string &path) override { return os().device_path(name, path); }
  Handle open_device(const char *path) override {
    if (net::is_network_path(path)) return open_network(os(), path);
    return os().open_device(path);
  }
  bool close(Handle h) override {
    net::NetworkPort *port = nullptr;
    if (h != pf::kNoHandle && h != pf::kInvalidHandle) {
      pf::Locked hold(NETLOCK);
      for (NetworkEntry &e : NETPORTS)
        if (e.port != nullptr && e.handle == h) {
          port = e.port;
          e = NetworkEntry{};
        }
    }
    if (port == nullptr) return os().close(h);
    delete port; // waits (bounded) until the server has let the device go
    return true;
  }
  bool request_low_latency(Handle h) override {
    return network(h) ? false : os().request_low_latency(h); // the server's business
  }
  bool clear_errors(Handle h) override {
    return network(h) ? true : os().clear_errors(h); // a network port keeps no error state
  }
  bool get_config(Handle h, pf::LineConfig &c) override {
    if (auto *n = network(h)) return n->get_config(c), true;
    return os().get_config(h, c);
  }
  bool apply_settings(const char *text, pf::LineConfig &c) override { return os().apply_settings(text, c); }
  bool set_config(Handle h, const pf::LineConfig &c) override {
    if (auto *n = network(h)) return n->set_config(c);
    return os().set_config(h, c);
  }
  bool set_timeouts(Handle h, const pf::Timeouts &t) override {
    if (auto *n = network(h)) return n->set_timeouts(t), true;
    return os().set_timeouts(h, t);
  }
  bool transmit_char(Handle h, uint8_t byte) override {
    uint32_t done = 0; // a network port has no queue to jump: the byte goes as data
    if (auto *n = network(h)) return n->write(&byte, 1, &done);
    return os().transmit_char(h, byte);
  }
  bool read(Handle h, void *buffer, uint32_t n, uint32_t *done) override {
    if (auto *p = network(h)) return p->read(buffer, n, done);
    return os().read(h, buffer, n, done);
  }
  bool write(Handle h, const void *buffer, uint32_t n, uint32_t *done) override {
    if (auto *p = network(h)) return p->write(buffer, n, done);
    return os().write(h, buffer, n, done);
  }
  bool purge(Handle h, uint32_t flags) override {
    if (auto *n = network(h)) return n->purge(flags);
    return os().purge(h, flags);
  }
  bool escape(Handle h, pf::LineCode code) override {
    if (auto *n = network(h)) return n->escape(code);
    return os().escape(h, code);
  }
  bool set_break(Handle h, bool on) override {
    if (auto *n = network(h)) return n->set_break(on);
    return os().set_break(h, on);
  }
  bool modem_status(Handle h, uint32_t *bits) override {
    if (auto *n = network(h)) return n->modem_status(bits);
    return os().modem_status(h, bits);
  }

  // --- everything else: the platform's
  int32_t net_connect(const char *host, uint16_t port, uint32_t ms) override {
    return os().net_connect(host, port, ms);
  }
  int32_t net_send(int32_t c, const void *d, uint32_t n) override { return os().net_send(c, d, n); }
  int32_t net_receive(int32_t c, void *d, uint32_t n) override { return os().net_receive(c, d, n); }
  int net_wait(int32_t c, bool w, uint64_t deadline) override { return os().net_wait(c, w, deadline); }
  void net_shutdown(int32_t c) override { os().net_shutdown(c); }
  void net_close(int32_t c) override { os().net_close(c); }
  uint64_t now_ns() override { return os().now_ns(); }
  void sleep_ns(uint64_t ns) override { os().sleep_ns(ns); }
  bool keyboard_present() override { return os().keyboard_present(); }
  bool take_key_input(bool start) override { return os().take_key_input(start); }
  void end_key_input() override { os().end_key_input(); }
  bool pump_messages() override { return os().pump_messages(); }
  void show_message(const char *caption, const char *text) override { os().show_message(caption, text); }
  int32_t file_open_read(const char *p) override { return os().file_open_read(p); }
  int32_t file_read(int32_t fh, void *b, uint32_t n) override { return os().file_read(fh, b, n); }
  void file_close(int32_t fh) override { os().file_close(fh); }
  int32_t file_begin_replace(const char *p) override { return os().file_begin_replace(p); }
  int32_t file_write(int32_t fh, const void *b, uint32_t n) override { return os().file_write(fh, b, n); }
  bool file_commit(int32_t fh) override { return os().file_commit(fh); }
  void file_abandon(int32_t fh) override { os().file_abandon(fh); }
  std::string table_file_name(char *p) override { return os().table_file_name(p); }

private:
  static pf::Backend &os() { return pf::native_backend(); }
};

// Never destroyed: the closing sequence at unload may come after the
// runtime has destroyed statics.
alignas(Router) unsigned char g_storage[sizeof(Router)];
Router *const g_router = ::new (g_storage) Router;

} // namespace

pf::Backend &router() { return *g_router; }

pf::Backend &ports() {
  pf::Backend &b = pf::backend();
  return &b == &pf::native_backend() ? *g_router : b;
}

} // namespace tavio::line
