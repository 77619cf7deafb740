// The Windows form of a path given on the command line under Wine, where a Linux path comes from
// CTest or a script: Wine maps the root of the file system to drive Z:. Take the argument as
// UTF-16 (wmain), which Wine converts by the locale, so that any name survives.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace quenvar {

inline std::wstring windowsPath(std::wstring_view path) {
  std::wstring windows = path.starts_with(L'/') ? L"Z:" : L"";
  windows += path;
  std::replace(windows.begin(), windows.end(), L'/', L'\\');
  return windows;
}

}  // namespace quenvar
