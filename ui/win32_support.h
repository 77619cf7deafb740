// Small Win32 helpers for Form1: owned GDI handles, text conversion at the UTF-16 boundary, and
// the DPI functions that only newer Windows versions export.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace quenvar::ui {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

inline std::wstring toWide(std::u16string_view text) {
  return {text.begin(), text.end()};
}
inline std::u16string fromWide(std::wstring_view text) {
  return {text.begin(), text.end()};
}

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// Per-monitor DPI functions, looked up at run time so the program still starts on Windows 7.
int dpiForWindow(HWND window);
RECT windowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi);
NONCLIENTMETRICSW nonClientMetricsForDpi(int dpi);
int systemMetricForDpi(int index, int dpi);

}  // namespace quenvar::ui
