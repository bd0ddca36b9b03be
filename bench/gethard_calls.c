/* gethard_calls N: times N calls of GETHARD through the shared library and
 * prints the nanoseconds per call (the C side of bench/bench_cli.py). */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tavio32.h"

int main(int argc, char **argv) {
  long n = argc > 1 ? atol(argv[1]) : 1000000;
  struct timespec a, b;
  volatile int32_t sink = 0;
  clock_gettime(CLOCK_MONOTONIC, &a);
  for (long i = 0; i < n; ++i) sink += GETHARD();
  clock_gettime(CLOCK_MONOTONIC, &b);
  double ns = (double)(b.tv_sec - a.tv_sec) * 1e9 + (double)(b.tv_nsec - a.tv_nsec);
  printf("%.2f\n", ns / (double)n);
  return sink == 0 ? 0 : 1;
}
