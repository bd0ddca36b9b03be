/* A program that does what many users' programs do: it opens the primary
 * port and all eight slots, starts keyboard polling, selects an interface,
 * and ends without closing anything, either through exit() or by returning
 * from main ("exit" or "return" as its first argument). The devices come
 * from TAVIO32_COM1..COM9.
 *
 * Built twice: linked against the library, and (TAVIO32_LIB defined) loading
 * it at run time as scripting languages do (Python's ctypes, for one). The
 * two differ in the order in which exit() tears things down. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef TAVIO32_LIB
#include <dlfcn.h>
#else
#include "tavio32.h"
#endif

typedef int32_t (*open_fn)(char *);
typedef int32_t (*ix_open_fn)(int32_t, char *);
typedef int32_t (*none_fn)(void);
typedef int32_t (*one_fn)(int32_t);

int main(int argc, char **argv) {
  if (argc < 2) return 2;
#ifdef TAVIO32_LIB
  void *lib = dlopen(TAVIO32_LIB, RTLD_NOW);
  if (lib == NULL) return 3;
  /* The POSIX way to turn dlsym's object pointer into a function pointer. */
  open_fn opencom;
  ix_open_fn ix_opencom;
  none_fn kbhit;
  one_fn sethard;
  *(void **)&opencom = dlsym(lib, "OPENCOM");
  *(void **)&ix_opencom = dlsym(lib, "IX_OPENCOM");
  *(void **)&kbhit = dlsym(lib, "KBHIT");
  *(void **)&sethard = dlsym(lib, "SETHARD");
#else
  open_fn opencom = OPENCOM;
  ix_open_fn ix_opencom = IX_OPENCOM;
  none_fn kbhit = KBHIT;
  one_fn sethard = SETHARD;
#endif
  char mode[32];
  strcpy(mode, "COM1:19200,N,8,2");
  if (opencom(mode) != 1) return 10;
  for (int slot = 0; slot < 8; ++slot) {
    snprintf(mode, sizeof mode, "COM%d:19200,N,8,2", slot + 2);
    if (ix_opencom(slot, mode) <= 0) return 20 + slot;
  }
  kbhit(); /* starts keyboard polling when stdin is a terminal */
  if (sethard(4) != 0) return 30;
  if (strcmp(argv[1], "exit") == 0) exit(0);
  return 0;
}
