// Says it runs, then waits to be ended: what a hung program looks like from outside.
#include <windows.h>

#include <cstdio>

int wmain() {
  std::puts("running");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
