// tavio32 serve: the browser view. A web server for the page in web/ and
// the HTTP API (api.cpp), with tokens and host checks (access.cpp), in
// front of the device thread (device.cpp) that alone calls the library.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <thread>

#include "access.h"
#include "addresses.h"
#include "api.h"
#include "cli_common.h"
#include "cli_system.h"
#include "commands/commands.h"
#include "device.h"
#include "library.h"
#include "front.h"
#include "i18n.h"
#include "stream.h"

namespace tavio::cli {

namespace {

using namespace tavio::serve;

constexpr int kEndWithinMs = 900;  // however the parts end, the process ends by then

struct ServeOptions {
  std::string interface;
  int port = 0;
  bool detect = false;
  bool simulate = false;
  std::vector<int> channels{1, 2, 3, 4};
  double every = 20;
  std::string listen = "127.0.0.1:8032";
  bool open = false;
  double longest_recording_h = 24;
  int per_address = Api::kStreamsPerAddress; // watchers from one client address
  int connections_per_address = 0;           // 0: from per_address
};

// Connections one client address may hold: 16 for the 4 watchers by
// default; where more browsers come through one address, three each (a
// browser holds its stream and a request or two beside it) and four more.
int connections_for(int watchers) { return std::max(16, 3 * watchers + 4); }

bool is_loopback(const std::string &host) {
  in_addr a4{};
  if (::inet_pton(AF_INET, host.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
  return host == "::1";
}

// The links to print: listening on all addresses, one per address of the
// machine, named by its interface; with none (no network), the machine's name.
std::vector<LocalAddress> shown_addresses(const std::string &host) {
  const bool all = host == "0.0.0.0" || host == "::";
  std::vector<LocalAddress> own = local_addresses();
  if (!all) {
    for (const LocalAddress &a : own)
      if (a.address == host) return {a};
    return {{"", host}};
  }
  if (!own.empty()) return own;
  return {{"", own_address()}};
}

int cmd_serve(const ServeOptions &o) {
  for (int c : o.channels)
    if (c < 1 || c > 4) fail(format(tr("channel %d does not exist: channels are 1 to 4"), c), kExitUsage);
  if (o.every < 1) fail(tr("--every needs at least 1 ms"), kExitUsage);
  // --listen HOST:PORT, HOST an address ([::1] for IPv6) or localhost.
  const size_t colon = o.listen.rfind(':');
  if (colon == std::string::npos || colon == 0) fail(tr("--listen takes HOST:PORT, e.g. 127.0.0.1:8032"), kExitUsage);
  std::string host = o.listen.substr(0, colon);
  int port = -1;
  try {
    size_t used = 0;
    port = std::stoi(o.listen.substr(colon + 1), &used);
    if (used != o.listen.size() - colon - 1) port = -1;
  } catch (...) {
  }
  if (port < 0 || port > 65535) fail(tr("--listen takes HOST:PORT with PORT 0 to 65535"), kExitUsage);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  in6_addr probe{};
  if (::inet_pton(AF_INET, host.c_str(), &probe) != 1 && ::inet_pton(AF_INET6, host.c_str(), &probe) != 1)
    fail(format(tr("--listen needs an address such as 127.0.0.1, 0.0.0.0 or [::1], not %s"), host.c_str()), kExitUsage);

  Selection selection;
  if (!o.interface.empty()) {
    const Interface &i = interface_by_name(o.interface);
    const std::string problem = port_problem(i, o.port);
    if (!problem.empty()) fail(problem, kExitUsage);
    selection = {Selection::Interface, i.name, o.port};
  } else if (o.detect) {
    selection.kind = Selection::Detect;
  }

  // Ctrl-C and the like only noted from here on (wait_for_end below).
  prepare_wait_for_end();

  load_library(); // here, not in the device thread
  const bool loopback = is_loopback(host);
  Stream stream;
  Device device(selection, o.channels, o.every, stream);
  Access access(loopback, port);
  // httplib answers the requests; the front (front.h) bounds what clients
  // can hold: connections, time, header and body sizes.
  HttpServer server;
  server.set_payload_max_length(64 * 1024);
  FrontLimits limits;
  limits.max_body = 64 * 1024;
  limits.workers = Api::kWorkers;
  limits.per_address = o.connections_per_address ? o.connections_per_address : connections_for(o.per_address);
  limits.per_address_refusal = "too many connections from this address (" + std::to_string(limits.per_address) +
                               " at most): for a class that comes through one address, start serve with "
                               "--per-address N, N the number of its browsers (or --connections-per-address N)\n";
  Front front(server, limits);
  Api api(device, stream, access, o.longest_recording_h * 3.6e6, o.per_address);
  api.install(server);

  const int bound = front.listen(host, port);
  if (bound <= 0)
    fail(format(tr("cannot listen on %s: %s (another program may use that port: choose another with --listen HOST:PORT)"),
                o.listen.c_str(), std::strerror(errno)));
  access.set_port(bound);
  api.set_listening(host, bound);
  device.start();
  std::thread listener([&front] { front.run(); });

  // The control address once (with a one-time login code), then a watch
  // address for each network.
  const auto base = [bound](const std::string &a) {
    return "http://" + (a.find(':') != std::string::npos ? "[" + a + "]" : a) + ":" + std::to_string(bound) + "/";
  };
  const std::vector<LocalAddress> shown = shown_addresses(host);
  const std::string control = base(shown[0].address);
  // The addresses' lines are read by programs too: their words before the
  // addresses stay in every language.
  std::printf("control: %s?login=%s\n", control.c_str(), access.login_code().c_str());
  for (const LocalAddress &a : shown)
    std::printf("watch:   %s?watch=%s%s\n", base(a.address).c_str(), access.watch_token().c_str(),
                a.interface.empty() ? "" : ("  (" + a.interface + ")").c_str());
  std::printf("token:   %s (%s)\n", access.control_token().c_str(), tr("for programs: Authorization: Bearer TOKEN"));
  std::printf("%s\n", tr("The control address may change outputs and record, and opens one browser tab (then a new one is "
                         "printed); give the class the watch address. Ctrl-C ends."));
  std::fflush(stdout);
  std::mutex printing;
  // Translated here: the login comes in a thread of the server, which does not translate.
  const std::string used = tr("the one before has been used");
  api.on_login = [control, used, &printing](const std::string &code) {
    std::lock_guard<std::mutex> lock(printing);
    std::printf("control: %s?login=%s (%s)\n", control.c_str(), code.c_str(), used.c_str());
    std::fflush(stdout);
  };
  if (o.open) open_in_browser(control + "?login=" + access.login_code());

  const int status = wait_for_end();
  // Whatever hangs (a library call that takes its time, a stuck
  // connection), the process ends in time; the kernel closes the port then.
  std::thread([status] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kEndWithinMs));
    std::fflush(stdout);
    std::_Exit(status);
  }).detach();
  device.stop(); // closes the port
  stream.close();
  front.stop();
  listener.join();
  return status;
}

} // namespace

Subcommand add_serve(CLI::App &app) {
  auto o = std::make_shared<ServeOptions>();
  auto *serve = app.add_subcommand("serve", tr("Serve live charts, outputs and recordings to browsers"));
  auto *sd = add_interface_choice(serve, o->interface, o->port, o->detect);
  serve->add_flag("--simulate", o->simulate, tr("The library's simulation (the default)"))
      ->excludes(serve->get_option("--interface"))
      ->excludes(sd);
  serve->add_option("--channels", o->channels, tr("Analog channels, e.g. 1,2 (default 1,2,3,4)"))->delimiter(',');
  serve->add_option("--every", o->every, tr("Sampling period in ms (default 20)"))->check(CLI::PositiveNumber);
  serve->add_option("--listen", o->listen, tr("HOST:PORT to listen on (default 127.0.0.1:8032; 0.0.0.0:8032 for a class)"));
  serve->add_option("--per-address", o->per_address,
                    format(tr("Watchers (browsers following the chart) from one client address, 1 to %d (default %d); "
                              "raise it for a class that reaches this computer through one address (NAT, a proxy)"),
                           Api::kMaxStreams, Api::kStreamsPerAddress))
      ->check(CLI::Range(1, Api::kMaxStreams));
  serve->add_option("--connections-per-address", o->connections_per_address,
                    tr("Connections from one client address (default 16, and 3 per watcher of --per-address plus 4 "
                       "when that is more)"))
      ->check(CLI::Range(1, FrontLimits{}.total));
  serve->add_flag("--open", o->open, tr("Open the control address in the default browser"));
  serve->add_option("--longest-recording", o->longest_recording_h, tr("Longest recording taken, in hours (default 24)"))
      ->check(CLI::PositiveNumber);
  serve->footer(tr("Prints a control address (may change things) and a watch address (read only) and serves until "
                   "Ctrl-C or SIGTERM. The page works without internet: it comes from the program itself."));
  return {serve, [o] { return cmd_serve(*o); }};
}

} // namespace tavio::cli
