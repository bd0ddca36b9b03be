// A small test runner for the Windows test programs: checks that count
// failures and say where, grouped by function family.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace wt {

inline int g_failures = 0;
inline int g_checks = 0;

inline void fail(const char *file, int line, const std::string &what) {
  ++g_failures;
  std::printf("  FAIL %s:%d: %s\n", file, line, what.c_str());
  std::fflush(stdout);
}

#define CHECK(cond)                                                                                                    \
  do {                                                                                                                 \
    ++wt::g_checks;                                                                                                    \
    if (!(cond)) wt::fail(__FILE__, __LINE__, #cond);                                                                  \
  } while (0)

#define CHECK_EQ(a, b)                                                                                                 \
  do {                                                                                                                 \
    ++wt::g_checks;                                                                                                    \
    const long long va_ = static_cast<long long>(a), vb_ = static_cast<long long>(b);                                  \
    if (va_ != vb_)                                                                                                    \
      wt::fail(__FILE__, __LINE__, std::string(#a " == " #b ": ") + std::to_string(va_) + " != " + std::to_string(vb_)); \
  } while (0)

#define CHECK_BETWEEN(v, lo, hi)                                                                                       \
  do {                                                                                                                 \
    ++wt::g_checks;                                                                                                    \
    const double v_ = (v);                                                                                             \
    if (!(v_ >= (lo) && v_ <= (hi)))                                                                                   \
      wt::fail(__FILE__, __LINE__, std::string(#v " = ") + std::to_string(v_) + " not in [" #lo ", " #hi "]");         \
  } while (0)

// The factor by which upper time bounds stretch where the code runs slower
// than the clock (an emulated PC without hardware help sets
// TAVIO32_TIME_SLACK); lower bounds never move.
inline double time_slack() {
  static const double slack = [] {
    const char *v = std::getenv("TAVIO32_TIME_SLACK");
    const double f = v ? std::atof(v) : 1.0;
    return f > 1.0 ? f : 1.0;
  }();
  return slack;
}

// A duration between lo and hi, hi stretched by time_slack(); one beyond hi
// but within the stretch is told, as a figure.
#define CHECK_TIME(v, lo, hi)                                                                                          \
  do {                                                                                                                 \
    ++wt::g_checks;                                                                                                    \
    const double t_ = (v), hi_ = (hi), most_ = hi_ * wt::time_slack();                                                 \
    if (!(t_ >= (lo) && t_ <= most_))                                                                                  \
      wt::fail(__FILE__, __LINE__,                                                                                     \
               std::string(#v " = ") + std::to_string(t_) + " not in [" #lo ", " #hi "], upper bound x " +            \
                   std::to_string(wt::time_slack()));                                                                  \
    else if (t_ > hi_)                                                                                                 \
      std::printf("  slow: %s:%d: " #v " = %.3f, beyond %g, within %gx that\n", __FILE__, __LINE__, t_, hi_,           \
                  wt::time_slack());                                                                                   \
  } while (0)

// An export of dll (by name, or by ordinal through MAKEINTRESOURCEA) as a
// function of type F; null when there is none.
template <typename F> F proc(HMODULE dll, LPCSTR name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

// Milliseconds on the fine clock.
inline double now_ms() {
  static LARGE_INTEGER f = [] {
    LARGE_INTEGER x;
    QueryPerformanceFrequency(&x);
    return x;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

inline void group(const char *name) {
  std::printf("[ group ] %s\n", name);
  std::fflush(stdout);
}

inline int summary(const char *program) {
  std::printf("%s: %d checks, %d failed\n", program, g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}

// One byte that an emulator received, from its --log output.
struct Wire {
  double ms;
  unsigned byte;
};

// The bytes an emulator has logged so far. The emulator writes its log as
// the bytes come; wait_ms lets the last ones arrive first.
inline std::vector<Wire> wire_log(const std::string &path, DWORD wait_ms = 60) {
  Sleep(wait_ms);
  std::vector<Wire> out;
  FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return out;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    double ms;
    unsigned byte;
    if (std::sscanf(line, "%lf ms %u", &ms, &byte) == 2) out.push_back({ms, byte});
  }
  std::fclose(f);
  return out;
}

// The bytes logged after the first `skip`.
inline std::vector<unsigned> bytes_after(const std::vector<Wire> &log, size_t skip) {
  std::vector<unsigned> out;
  for (size_t i = skip; i < log.size(); ++i) out.push_back(log[i].byte);
  return out;
}

} // namespace wt
