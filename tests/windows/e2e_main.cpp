// e2e_tests --exe=PATH [--dpi=N] [gtest options]
#include <gtest/gtest.h>

#include <cwchar>
#include <string_view>

#include "quenvar_driver.h"
#include "windows_path.h"

int wmain(int argc, wchar_t** argv) {
  quenvar::desktop::declareDpiAware();
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    if (arg.starts_with(L"--dpi="))
      quenvar::e2e::settings().dpi = static_cast<int>(std::wcstol(argv[i] + 6, nullptr, 10));
    if (arg.starts_with(L"--exe="))
      quenvar::e2e::settings().exePath = quenvar::windowsPath(arg.substr(6));
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
