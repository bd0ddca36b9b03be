/* A host program that polls the keyboard on its terminal (standard input)
 * and then ends in the way named by its first argument. It loads the library
 * at run time, so that it can also unload it. It writes "ready" to standard
 * output when it has got to the point where the test acts on it.
 *
 *   unload   polls, unloads the library, checks that the terminal and the
 *            signal dispositions are as before; status 0 when they are
 *   exit     polls, then exit(0)
 *   return   polls, then returns 0 from main
 *   wait     polls, then waits to be ended by a signal
 *   handler  installs its own SIGTERM handler and ignores SIGINT, polls,
 *            checks that both are as it left them, then waits; its handler
 *            makes main return 42
 *   message  puts the terminal into raw mode, shows a message through the
 *            default output (which waits for Enter) and returns 0 after it
 *   taste    ignores SIGHUP, waits for a key with TASTE, returns 7 after it
 *   background  starts a child in a process group of its own (a shell's
 *            `prog &`) that polls, shows a message and waits for a key;
 *            status 0 when that child ended at once by itself, 16 when the
 *            terminal stopped it
 */
#define _DEFAULT_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

typedef int32_t (*none_fn)(void);
typedef int32_t (*one_fn)(int32_t);

static volatile sig_atomic_t g_terminated = 0;
static void on_term(int sig) {
  (void)sig;
  g_terminated = 1;
}

static void ready(void) {
  if (write(STDOUT_FILENO, "ready\n", 6) != 6) _exit(5);
}

static int is_default(int sig) {
  struct sigaction sa;
  return sigaction(sig, NULL, &sa) == 0 && !(sa.sa_flags & SA_SIGINFO) && sa.sa_handler == SIG_DFL;
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const char *how = argv[1];
  struct termios before;
  if (tcgetattr(STDIN_FILENO, &before) != 0) return 3;

  if (strcmp(how, "handler") == 0) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_term;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, NULL);
    signal(SIGINT, SIG_IGN);
  }
  if (strcmp(how, "taste") == 0) signal(SIGHUP, SIG_IGN);

  void *lib = dlopen(TAVIO32_LIB, RTLD_NOW);
  if (lib == NULL) return 4;
  none_fn kbhit, taste;
  one_fn version;
  *(void **)&kbhit = dlsym(lib, "KBHIT");
  *(void **)&taste = dlsym(lib, "TASTE");
  *(void **)&version = dlsym(lib, "VERSION");

  if (strcmp(how, "message") == 0) {
    struct termios raw = before;
    cfmakeraw(&raw);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return 6;
    ready();
    version(1); /* the message waits for Enter, which raw mode sends as '\r' */
    return 0;
  }
  if (strcmp(how, "taste") == 0) {
    ready();
    return taste() == 1 ? 7 : 8;
  }

  if (strcmp(how, "background") == 0) {
    pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);
      int ok = kbhit() == 0 && version(1) == 122 && taste() == 1;
      _exit(ok ? 0 : 17);
    }
    setpgid(child, child);
    int st;
    if (waitpid(child, &st, WUNTRACED) != child) return 18;
    if (WIFSTOPPED(st)) {
      kill(child, SIGKILL);
      waitpid(child, &st, 0);
      return 16;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 19;
  }

  kbhit(); /* the first poll changes the terminal */
  struct termios polling;
  if (tcgetattr(STDIN_FILENO, &polling) != 0) return 9;
  if ((polling.c_lflag & (ICANON | ECHO)) != 0) return 10; /* the terminal should have been changed */

  if (strcmp(how, "unload") == 0) {
    dlclose(lib);
    struct termios after;
    if (tcgetattr(STDIN_FILENO, &after) != 0) return 11;
    if ((after.c_lflag & (ICANON | ECHO)) != (before.c_lflag & (ICANON | ECHO))) return 12;
    /* The library's handlers are gone with its code. */
    if (!is_default(SIGINT) || !is_default(SIGTERM) || !is_default(SIGHUP) || !is_default(SIGQUIT)) return 13;
    return 0;
  }
  if (strcmp(how, "exit") == 0) exit(0);
  if (strcmp(how, "return") == 0) return 0;
  if (strcmp(how, "wait") == 0) {
    ready();
    for (;;) pause();
  }
  if (strcmp(how, "handler") == 0) {
    struct sigaction sa;
    if (sigaction(SIGTERM, NULL, &sa) != 0 || sa.sa_handler != on_term) return 14;
    if (sigaction(SIGINT, NULL, &sa) != 0 || sa.sa_handler != SIG_IGN) return 15;
    ready();
    while (!g_terminated) usleep(1000);
    return 42;
  }
  return 2;
}
