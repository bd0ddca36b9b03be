// A FakeBackend that also keeps the order of the configuration steps of an
// open (time-out sets and line codes), and can refuse time-out sets, so that
// tests can see what was installed and in which order.
#pragma once

#include <string>
#include <vector>

#include "fake_backend.h"

namespace tavio::test {

class RecordingBackend : public FakeBackend {
public:
  // "timeouts" or "escape <code>", in call order.
  std::vector<std::string> steps;
  // Every time-out set asked for, with its handle.
  std::vector<std::pair<platform::Handle, platform::Timeouts>> timeout_sets;
  bool refuse_timeouts = false;

  bool set_timeouts(platform::Handle h, const platform::Timeouts &t) override {
    steps.emplace_back("timeouts");
    timeout_sets.emplace_back(h, t);
    if (refuse_timeouts) return false;
    return FakeBackend::set_timeouts(h, t);
  }
  bool escape(platform::Handle h, platform::LineCode code) override {
    steps.emplace_back("escape " + std::to_string(static_cast<int>(code)));
    return FakeBackend::escape(h, code);
  }
  void forget() {
    steps.clear();
    timeout_sets.clear();
    escapes.clear();
    breaks.clear();
  }
};

inline bool same_set(const platform::Timeouts &a, const platform::Timeouts &b) {
  return a.read_interval == b.read_interval && a.read_total_multiplier == b.read_total_multiplier &&
         a.read_total_constant == b.read_total_constant && a.write_total_multiplier == b.write_total_multiplier &&
         a.write_total_constant == b.write_total_constant;
}

} // namespace tavio::test
