#include "device.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "cli_common.h"
#include "cli_system.h"
#include "tavio32.h"

namespace tavio::serve {

using cli::now_ms;

namespace {

constexpr double kRetryMs = 1000;    // reopening a device in error
constexpr double kProgressMs = 100;  // progress events while recording
constexpr double kReadoutMs = 50;    // ... and while reading back

std::string stamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char s[32];
  std::strftime(s, sizeof s, "%Y%m%d-%H%M%S", &tm);
  return s;
}

Answer refused(int status, const std::string &message) { return {status, {{"error", message}}}; }

} // namespace

Device::Device(Selection selection, std::vector<int> channels, double every_ms, Stream &stream)
    : channels_(std::move(channels)), every_ms_(every_ms), stream_(stream), t0_(now_ms()),
      selection_(std::move(selection)) {}

Device::~Device() { stop(); }

void Device::start() {
  // The first open (a detection takes a few seconds) before any request.
  std::promise<void> opened;
  std::future<void> ready = opened.get_future();
  thread_ = std::thread([this, &opened] { run(opened); });
  ready.wait();
}

void Device::stop() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

double Device::clock_ms() const { return now_ms() - t0_; }

json Device::status() const {
  std::lock_guard<std::mutex> lock(m_);
  return snapshot_;
}

std::shared_ptr<const Finished> Device::recording() const {
  std::lock_guard<std::mutex> lock(m_);
  return finished_;
}

// --- tasks -------------------------------------------------------------------

Answer Device::call(std::function<Answer()> task) {
  std::packaged_task<Answer()> t(std::move(task));
  std::future<Answer> answer = t.get_future();
  {
    std::lock_guard<std::mutex> lock(m_);
    if (stopping_) return refused(503, "the server is ending");
    tasks_.push_back(std::move(t));
  }
  cv_.notify_all();
  // Detection and opening take a few seconds at most; a task is never
  // left behind by the device thread, which runs them until it ends.
  if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
    return refused(503, "the device thread did not answer in time");
  return answer.get();
}

void Device::run_tasks() {
  for (;;) {
    std::packaged_task<Answer()> t;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (tasks_.empty()) return;
      t = std::move(tasks_.front());
      tasks_.pop_front();
    }
    t();
  }
}

bool Device::busy_recording() const { return state_ == "recording" || state_ == "reading"; }

Answer Device::output(const json &request) {
  return call([this, request]() -> Answer {
    if (busy_recording()) return refused(409, "a recording runs: outputs wait until it has been read back");
    if (state_ == "error") return refused(503, error_.value_or("the interface does not answer"));
    const cli::Interface *i = iface();
    int32_t result = 0;
    if (request.contains("dout")) {
      const int v = request["dout"].get<int>();
      result = DOUT(v);
      if (result) dout_ = v;
    } else if (request.contains("aout")) {
      const int c = request["aout"]["channel"].get<int>(), v = request["aout"]["value"].get<int>();
      if (!i || !i->analog_outputs) return refused(400, where() + " has no analog outputs");
      if (c > i->analog_outputs)
        return refused(400, "the " + std::string(i->title) + " has analog outputs 1 to " +
                                std::to_string(i->analog_outputs) + ", not " + std::to_string(c));
      result = AOUT(c, v);
      if (result) aout_[c] = v;
    } else {
      const int v = request["status"].get<int>();
      if (!i || !i->status_output) return refused(400, "status outputs exist on the Zelle and the Sios, not on " + where());
      result = STAUS(v);
      if (result) status_out_ = v;
    }
    publish_state();
    json body = {{"result", result}, {"ok", result != 0}};
    if (!result) body["error"] = where() + " did not take the command: check the connection";
    return {200, body};
  });
}

Answer Device::record(const cli::BlockPlan &plan) {
  return call([this, plan]() -> Answer {
    if (busy_recording() || pending_) return refused(409, "a recording runs already");
    if (state_ == "error") return refused(503, error_.value_or("the interface does not answer"));
    const cli::Interface *i = iface();
    if (!i) return refused(400, "block recordings work on the Sios and the Zelle, not in the simulation");
    const std::string problem = cli::plan_problem(*i, plan);
    if (!problem.empty()) return refused(400, problem);
    pending_ = plan;
    return {202, {{"state", "recording"}, {"total_ms", plan.total_ms()}}};
  });
}

Answer Device::cancel() {
  return call([this]() -> Answer {
    if (pending_) {
      pending_.reset();
      return {200, {{"ok", true}}};
    }
    if (!busy_recording()) return refused(409, "no recording runs");
    cancel_ = true; // record_now() ends it after this task
    return {200, {{"ok", true}}};
  });
}

Answer Device::select(const Selection &s) {
  return call([this, s]() -> Answer {
    if (busy_recording() || pending_) return refused(409, "a recording runs: change the interface after it");
    selection_ = s;
    open_selection();
    return {200, snapshot_copy()};
  });
}

json Device::snapshot_copy() const {
  std::lock_guard<std::mutex> lock(m_);
  return snapshot_;
}

// --- the device ----------------------------------------------------------------

const cli::Interface *Device::iface() const { return code_ ? cli::interface_by_code(code_) : nullptr; }

std::string Device::where() const {
  const cli::Interface *i = iface();
  return i ? "the " + std::string(i->title) + " on " + cli::com(port_) : "the simulation";
}

bool Device::open_selection() {
  CLOSECOM();
  code_ = 0;
  port_ = 0;
  dout_.reset();
  status_out_.reset();
  aout_.clear();
  if (selection_.kind == Selection::Detect) {
    const int32_t found = FINDHARD(0);
    const cli::Interface *i = cli::interface_by_code(found);
    if (!i) {
      selection_ = {Selection::Simulate, "", 0};
      set_state("live", std::nullopt, true);
      return true;
    }
    // From now on, this interface on this port (reopened after a fault).
    selection_ = {Selection::Interface, i->name, cli::port_of_primary()};
    CLOSECOM();
  }
  if (selection_.kind == Selection::Simulate) {
    set_state("live", std::nullopt, true);
    return true;
  }
  const cli::Interface *i = cli::find_interface(selection_.name);
  code_ = i ? i->code : 0;
  port_ = selection_.port;
  if (!i) {
    set_state("error", "unknown interface " + selection_.name, true);
    return false;
  }
  std::string problem = cli::port_problem(*i, port_);
  const cli::Mapping m = cli::map_port(port_);
  if (problem.empty()) problem = cli::open_problem(cli::com(port_), m);
  if (problem.empty() && i->init(port_) != port_) {
    problem = cli::open_problem(cli::com(port_), m);
    if (problem.empty()) problem = "cannot open " + cli::com(port_) + " (" + m.path + ") for the " + i->title;
  }
  // It must answer too: an analog input and the digital input.
  if (problem.empty() && (AIN(channels_.empty() ? 1 : channels_[0]) < 0 || DIN() < 0))
    problem = cli::not_answering_text(*i, port_);
  if (!problem.empty()) {
    CLOSECOM();
    next_retry_ = now_ms() + kRetryMs;
    set_state("error", problem);
    return false;
  }
  next_sample_ = now_ms();
  set_state("live", std::nullopt, true);
  return true;
}

void Device::sample() {
  const double t = clock_ms();
  json ain = json::object();
  bool silent = false;
  for (int c : channels_) {
    const int32_t v = AIN(c);
    ain[std::to_string(c)] = v;
    if (v < 0 && code_) {
      silent = true;
      break;
    }
  }
  const int32_t din = silent ? -1 : DIN();
  if (code_ && (silent || din < 0)) {
    const cli::Interface *i = iface();
    // (Asked while the port is open: a removed adapter shows in its handle.)
    const std::string problem = i ? cli::not_answering_text(*i, port_) : "the interface does not answer";
    CLOSECOM();
    next_retry_ = now_ms() + kRetryMs;
    set_state("error", problem);
    return;
  }
  ++samples_;
  stream_.publish("sample", json{{"t_ms", std::round(t * 10) / 10}, {"ain", ain}, {"din", din}}.dump());
}

void Device::progress(const char *phase, long done, long total) {
  {
    std::lock_guard<std::mutex> lock(m_);
    snapshot_["progress"] = {{"phase", phase}, {"done", done}, {"total", total}};
  }
  stream_.publish("progress", json{{"phase", phase}, {"done", done}, {"total", total}}.dump());
}

namespace {
struct Readout {
  Device *device;
  std::function<int(int32_t, int32_t)> step;
};
int on_readout(int32_t done, int32_t expected, void *context) {
  return static_cast<Readout *>(context)->step(done, expected);
}
} // namespace

void Device::record_now() {
  const cli::BlockPlan plan = *pending_;
  pending_.reset();
  const cli::Interface &i = *iface();
  set_state("recording", std::nullopt);
  BLOCKDEF(plan.measurements, plan.mask(), plan.interval_ms);
  if (plan.trigger_mode) BLOCKTRIGGER(plan.trigger_value, plan.trigger_mode);
  const double block_ms = double(plan.measurements) * plan.interval_ms, total_ms = plan.total_ms();
  const double start = now_ms();
  progress("recording", 0, long(total_ms));
  for (int b = 0; b < plan.blocks && !stopping() && !cancel_; ++b) {
    BLOCKSTART();
    const double end = start + block_ms * (b + 1);
    while (!stopping() && !cancel_ && now_ms() < end) {
      if (now_ms() - last_progress_ >= kProgressMs) {
        last_progress_ = now_ms();
        progress("recording", long(now_ms() - start), long(total_ms));
      }
      run_tasks();
      wait_until(std::min(end, now_ms() + kProgressMs));
    }
  }
  if (stopping()) return;
  if (cancel_) return cancelled();
  progress("recording", long(total_ms), long(total_ms));

  set_state("reading", std::nullopt);
  std::vector<char> buffer(size_t(cli::buffer_size(i.code)), 0);
  int32_t read = 0, expected = 0;
  Readout r{this, [&](int32_t done, int32_t all) {
              read = done;
              expected = all;
              if (done == all || now_ms() - last_progress_ >= kReadoutMs) {
                last_progress_ = now_ms();
                progress("reading", done, all);
              }
              run_tasks();
              return stopping() || cancel_ ? 0 : 1;
            }};
  tavio32_set_readout_progress(on_readout, &r);
  const int32_t got = BLOCKEIN(buffer.data(), plan.blocks);
  tavio32_set_readout_progress(nullptr, nullptr);
  if (stopping()) return;
  if (cancel_) return cancelled();
  // (A library without progress reports, TAVIO32.DLL: the end at least.)
  if (got >= 0 && (expected == 0 || read != expected)) progress("reading", std::max(got, 1), std::max(got, 1));
  if (got < 0) {
    const std::string message = "the " + std::string(i.title) + " on " + cli::com(port_) +
                                " fell silent during the readout (" + std::to_string(read) + " of " +
                                std::to_string(expected) +
                                " bytes): the recording is lost; check the cable and power, then record again";
    stream_.publish("recording", json{{"ok", false}, {"error", message}}.dump());
    CLOSECOM();
    next_retry_ = now_ms() + kRetryMs;
    set_state("error", message);
    return;
  }
  if (DATENMENGE(buffer.data()) == 0) {
    stream_.publish("recording", json{{"ok", false},
                                      {"error", "the " + std::string(i.title) +
                                                    " holds no recording: check the trigger and the definition"}}
                                     .dump());
    next_sample_ = now_ms();
    set_state("live", std::nullopt);
    return;
  }
  auto f = std::make_shared<Finished>();
  f->name = "tavio32-" + stamp();
  f->interface = i.name;
  std::string error;
  if (!cli::block_files(buffer, i.code, std::string(i.title) + " recording " + f->name, f->files, error)) {
    stream_.publish("recording", json{{"ok", false}, {"error", error}}.dump());
  } else {
    {
      std::lock_guard<std::mutex> lock(m_);
      finished_ = f;
    }
    stream_.publish("recording", json{{"ok", true}, {"name", f->name}}.dump());
  }
  next_sample_ = now_ms();
  set_state("live", std::nullopt);
}

// A recording stopped from the page: the interface is opened afresh, out of
// its block mode, and sampling goes on.
void Device::cancelled() {
  cancel_ = false;
  stream_.publish("recording", json{{"ok", false}, {"error", "the recording was stopped: nothing was kept"}}.dump());
  open_selection();
}

bool Device::stopping() const {
  std::lock_guard<std::mutex> lock(m_);
  return stopping_;
}

void Device::wait_until(double ms) {
  std::unique_lock<std::mutex> lock(m_);
  const double left = ms - now_ms();
  if (left <= 0) return;
  cv_.wait_for(lock, std::chrono::microseconds(long(left * 1000)), [&] { return stopping_ || !tasks_.empty(); });
}

void Device::run(std::promise<void> &opened) {
  open_selection();
  publish_state();
  opened.set_value(); // `opened` is gone after this
  while (!stopping()) {
    run_tasks();
    if (pending_) {
      record_now();
      continue;
    }
    const double now = now_ms();
    if (state_ == "error") {
      if (now >= next_retry_) {
        next_retry_ = now + kRetryMs;
        open_selection();
      } else {
        wait_until(next_retry_);
      }
      continue;
    }
    if (now >= next_sample_) {
      sample();
      next_sample_ += every_ms_;
      // Too late for a whole period (a slow call): start the schedule afresh.
      if (now_ms() > next_sample_ + every_ms_) next_sample_ = now_ms();
      continue;
    }
    wait_until(next_sample_);
  }
  CLOSECOM();
}

// --- state -------------------------------------------------------------------

void Device::set_state(const std::string &state, std::optional<std::string> error, bool opened) {
  const bool changed = state != state_ || error != error_;
  state_ = state;
  error_ = std::move(error);
  if (!changed) {
    if (opened) publish_state(); // another interface, the same state
    return;
  }
  if (state_ == "error") std::fprintf(stderr, "tavio32 serve: %s\n", error_->c_str());
  else if (state_ == "live") std::fprintf(stderr, "tavio32 serve: %s: live\n", where().c_str());
  publish_state();
}

void Device::publish_state() {
  const cli::Interface *i = iface();
  json s;
  s["interface"] = i ? i->name : "simulation";
  s["title"] = i ? i->title : "Simulation";
  s["code"] = code_;
  s["port"] = port_ ? json(port_) : json(nullptr);
  s["device"] = port_ ? json(cli::map_port(port_).path) : json(nullptr);
  s["channels"] = channels_;
  s["every_ms"] = every_ms_;
  s["state"] = state_;
  s["error"] = error_ ? json(*error_) : json(nullptr);
  s["removed"] = error_ && (error_->find(" was removed") != std::string::npos ||
                            error_->find(" is not plugged in") != std::string::npos);
  // The numbered USB adapters plugged in now, for the interface choice.
  json adapters = json::array();
  for (const cli::UsbAdapter &a : cli::usb_adapters())
    if (a.com) adapters.push_back({{"port", a.com}, {"device", a.device}, {"about", a.about}});
  s["adapters"] = adapters;
  s["outputs"] = {{"digital", true},
                  {"analog", i ? i->analog_outputs : 0},
                  {"status", i ? i->status_output : false}};
  s["dout"] = dout_ ? json(*dout_) : json(nullptr);
  s["status_output"] = status_out_ ? json(*status_out_) : json(nullptr);
  json aout = json::object();
  for (auto [c, v] : aout_) aout[std::to_string(c)] = v;
  s["aout"] = aout;
  s["can_record"] = i && i->blocks;
  s["capacity"] = i && i->blocks ? cli::buffer_size(i->code) - cli::header_size(i->code) : 0;
  std::lock_guard<std::mutex> lock(m_);
  s["progress"] = state_ == "live" || state_ == "error" ? json(nullptr) : snapshot_.value("progress", json(nullptr));
  if (finished_) {
    const cli::Recording &r = finished_->files.recording;
    s["recording"] = {{"name", finished_->name},         {"interface", finished_->interface},
                      {"measurements", r.measurements}, {"channels", r.channels},
                      {"interval_ms", r.interval_ms},   {"blocks", r.blocks},
                      {"rows", r.rows.size()}};
  } else {
    s["recording"] = nullptr;
  }
  snapshot_ = s;
  stream_.publish("state", s.dump());
}

} // namespace tavio::serve
