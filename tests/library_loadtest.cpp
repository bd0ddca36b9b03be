// The shared library as programs load it: its exported names, the state a
// fresh load finds, unloading, and the one-process rule, with real
// processes. These tests never load the library into the test runner
// itself; each load happens in a child process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *const kExports[83] = {
    "OPENCOM",      "CLOSECOM",      "FLUSHIN",      "FLUSHOUT",       "SENDBYTE",         "READBYTE",
    "SENDSTRING",   "READSTRING",    "TIMEOUT",      "TIMEOUTOLD",     "CTS",              "DCD",
    "DSR",          "RI",            "TXD",          "RTS",            "DTR",              "STRLENGTH",
    "STRREAD",      "IX_OPENCOM",    "IX_CLOSECOM",  "IX_STRLENGTH",   "IX_STRREAD",       "IX_TIMEOUT",
    "IX_TIMEOUTOLD", "IX_SENDBYTE",  "IX_READBYTE",  "IX_SENDSTRING",  "IX_READSTRING",    "IX_RTS",
    "IX_DTR",       "IX_TXD",        "IX_CTS",       "IX_DCD",         "IX_DSR",           "IX_RI",
    "SETHARD",      "GETHARD",       "INIT",         "INITSIOS",       "INITCOMPULAB",     "INITZELLE",
    "INITCCONTROL", "INITCAMFACE",   "GETCOM",       "DOUT",           "DIN",              "AIN",
    "AOUT",         "FINDHARD",      "KBRESET",      "KBHIT",          "TASTE",            "UBAT",
    "TASTER",       "STAUS",         "STEIN",        "SYSTEMRESET",    "REGAUS",           "REGEIN",
    "RAMAUS",       "RAMEIN",        "BLOCKDEF",     "BLOCKSTART",     "BLOCKTRIGGER",     "MESSUNGEN",
    "KANALZAHL",    "ZEITINTERVALL", "BLOCKINFO",    "BLOCKZAHL",      "DATENMENGE",       "BLOCKEIN",
    "PROLADEN",     "PROSTART",      "DATENSPEICHERN", "DATENLADEN",   "TABELLESPEICHERN", "DELAY",
    "TIMEREAD",     "TIMEINIT",      "TIME",         "VERSION",        "RC",
};

struct Child {
  pid_t pid = -1;
  int out = -1; // the child's stderr
};

// Runs body in a child process with stdin from /dev/null and stderr into a
// pipe; body's result is the exit status.
template <class F> Child spawn(F body) {
  int err[2];
  if (::pipe(err) != 0) std::abort();
  Child c;
  c.pid = ::fork();
  if (c.pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(err[1], 2);
    ::close(err[0]);
    std::_Exit(body());
  }
  ::close(err[1]);
  c.out = err[0];
  return c;
}

int finish(Child &c, std::string *stderr_text = nullptr) {
  int status = 0;
  ::waitpid(c.pid, &status, 0);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = ::read(c.out, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(c.out);
  if (stderr_text) *stderr_text = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

template <class T> T sym(void *lib, const char *name) { return reinterpret_cast<T>(::dlsym(lib, name)); }

TEST(SharedLibrary, ExportsExactlyTheEightyThreeNamesAndTheHandlerHook) {
  std::string cmd = std::string("nm -D --defined-only ") + TAVIO32_LIB;
  FILE *p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    char addr[64], type[8], name[256];
    if (std::sscanf(line, "%63s %7s %255s", addr, type, name) == 3) names.insert(name);
  }
  ::pclose(p);
  std::set<std::string> expected(std::begin(kExports), std::end(kExports));
  expected.insert("tavio32_set_message_handler");
  expected.insert("tavio32_set_readout_progress");
  EXPECT_EQ(names, expected);
}

TEST(SharedLibrary, FreshLoadFindsTheInitialState) {
  Child c = spawn([] {
    void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
    if (!lib) return 10;
    for (const char *name : kExports)
      if (!::dlsym(lib, name)) return 11;
    if (sym<int32_t (*)()>(lib, "GETCOM")() != 0) return 12;
    if (sym<int32_t (*)()>(lib, "GETHARD")() != 0) return 13;
    if (sym<int32_t (*)(int32_t)>(lib, "STRLENGTH")(14) != 14) return 14;
    if (sym<int32_t (*)(int32_t, int32_t)>(lib, "IX_STRLENGTH")(7, 14) != 14) return 15;
    if (sym<int32_t (*)(int32_t)>(lib, "VERSION")(0) != 122) return 16;
    if (sym<int32_t (*)(int32_t)>(lib, "TIMEOUT")(500) != -1) return 17; // no port open
    return 0;
  });
  std::string err;
  EXPECT_EQ(finish(c, &err), 0) << err;
}

TEST(SharedLibrary, UnloadClosesTheOpenPort) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::string slave = ::ptsname(master);
  ::setenv("TAVIO32_COM3", slave.c_str(), 1);
  Child c = spawn([&] {
    void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
    if (!lib) return 10;
    char mode[] = "COM3:19200,N,8,2";
    if (sym<int32_t (*)(char *)>(lib, "OPENCOM")(mode) != 1) return 11;
    int probe = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (probe >= 0 && ::flock(probe, LOCK_EX | LOCK_NB) == 0) return 12; // must be held
    if (probe >= 0) ::close(probe);
    ::dlclose(lib);
    probe = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (probe < 0) return 13; // exclusive flag cleared at close
    if (::flock(probe, LOCK_EX | LOCK_NB) != 0) return 14;
    return 0;
  });
  std::string err;
  EXPECT_EQ(finish(c, &err), 0) << err;
  ::unsetenv("TAVIO32_COM3");
  ::close(master);
}

// A program that loads and unloads the library again and again (a plug-in
// host) keeps no memory from one load to the next: what lives as long as the
// library is not on the heap, where an unload would orphan it.
TEST(SharedLibrary, RepeatedLoadAndUnloadKeepsNoMemory) {
  Child c = spawn([] {
    auto cycle = [] {
      void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
      if (!lib) return false;
      ::dlclose(lib);
      return true;
    };
    for (int i = 0; i < 3; ++i) // the loader's own first-time allocations
      if (!cycle()) return 10;
    const size_t before = ::mallinfo2().uordblks;
    for (int i = 0; i < 50; ++i)
      if (!cycle()) return 11;
    const size_t after = ::mallinfo2().uordblks;
    // The loader itself keeps a few dozen bytes per load; a backend left on
    // the heap would be some 200.
    if (after > before + 50 * 100) {
      std::fprintf(stderr, "heap grew by %zu bytes over 50 loads\n", after - before);
      return 12;
    }
    return 0;
  });
  std::string err;
  EXPECT_EQ(finish(c, &err), 0) << err;
}

TEST(SharedLibrary, OneProcessAtATime) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  Child first = spawn([&] {
    void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
    char ok = lib ? 1 : 0;
    (void)!::write(ready[1], &ok, 1);
    while (true) ::pause();
    return 0;
  });
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);
  ::close(ready[0]);

  // A second process is refused before it can call anything.
  Child second = spawn([] {
    void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
    return lib ? 0 : 20;
  });
  std::string err;
  EXPECT_EQ(finish(second, &err), 1);
  EXPECT_NE(err.find("Nonshared DATA segment required"), std::string::npos) << err;

  // However the first one ends, the lock goes with it.
  ::kill(first.pid, SIGKILL);
  EXPECT_EQ(finish(first), 128 + SIGKILL);
  Child third = spawn([] {
    void *lib = ::dlopen(TAVIO32_LIB, RTLD_NOW);
    return lib && sym<int32_t (*)(int32_t)>(lib, "VERSION")(0) == 122 ? 0 : 30;
  });
  EXPECT_EQ(finish(third, &err), 0) << err;
}

} // namespace
