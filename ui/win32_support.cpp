#include "win32_support.h"

namespace quenvar::ui {
namespace {

template <typename Function>
Function user32Function(const char* name) {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr)
    return nullptr;
  // GetProcAddress returns a generic pointer; the caller names the real type.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

int systemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
  if (screen)
    ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

int dpiForWindow(HWND window) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn getDpiForWindow = user32Function<Fn>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0)
      return static_cast<int>(dpi);
  }
  return systemDpi();
}

RECT windowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi) {
  using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const Fn adjustForDpi = user32Function<Fn>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, clientWidth, clientHeight};
  if (adjustForDpi == nullptr ||
      !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
    rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return rect;
}

NONCLIENTMETRICSW nonClientMetricsForDpi(int dpi) {
  using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const Fn parametersForDpi = user32Function<Fn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (parametersForDpi != nullptr && parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics),
                                                      &metrics, 0, static_cast<UINT>(dpi))) {
    return metrics;
  }
  metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    metrics.lfMessageFont.lfHeight = -12;
    metrics.lfMessageFont.lfWeight = FW_NORMAL;
    lstrcpynW(metrics.lfMessageFont.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
  }
  // Older systems give the font at the system DPI; scale it to this window's.
  metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, systemDpi());
  return metrics;
}

int systemMetricForDpi(int index, int dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  static const Fn metricForDpi = user32Function<Fn>("GetSystemMetricsForDpi");
  if (metricForDpi != nullptr)
    return metricForDpi(index, static_cast<UINT>(dpi));
  return MulDiv(GetSystemMetrics(index), dpi, systemDpi());
}

}  // namespace quenvar::ui
