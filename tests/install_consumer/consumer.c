/* A program built against an installed tavio32: opens the Sios that
 * tavio32-sim serves on COM3 and reads channel 1. */
#include <stdio.h>
#include <tavio32.h>

int main(void) {
  printf("VERSION %d\n", VERSION(0));
  if (INITSIOS(3) != 3) {
    printf("no COM3\n");
    return 1;
  }
  int32_t v = AIN(1);
  printf("AIN(1) %s\n", v >= 0 && v <= 255 ? "in range" : "failed");
  CLOSECOM();
  return v >= 0 ? 0 : 1;
}
