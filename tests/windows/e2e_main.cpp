// e2e_tests --exe=PATH [--dpi=N] [gtest options]
// The same program, started with --hold-clipboard=ID, is the helper that keeps the clipboard busy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "quenvar_driver.h"

int main(int argc, char** argv) {
  quenvar::desktop::declareDpiAware();
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (quenvar::desktop::isClipboardHolderArgument(arg))
      return quenvar::desktop::holdClipboardMain(arg);
    if (arg.rfind("--dpi=", 0) == 0)
      quenvar::e2e::settings().dpi = std::atoi(arg.c_str() + 6);
    if (arg.rfind("--exe=", 0) == 0) {
      std::string path = arg.substr(6);
      // CTest hands over a Linux path; Wine maps the root of the file system to drive Z:.
      if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
      for (char& c : path)
        c = c == '/' ? '\\' : c;
      quenvar::e2e::settings().exePath.assign(path.begin(), path.end());
    }
  }
  if (quenvar::e2e::settings().exePath.empty()) {
    std::fprintf(stderr, "usage: e2e_tests --exe=PATH [--dpi=N]\n");
    return 2;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi != quenvar::e2e::settings().dpi) {
    std::fprintf(stderr, "the system reports %d DPI, not the %d this run expects\n", dpi,
                 quenvar::e2e::settings().dpi);
    return 2;
  }
  return RUN_ALL_TESTS();
}
