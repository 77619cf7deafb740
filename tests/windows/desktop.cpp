#include "desktop.h"

#include <cstdlib>
#include <cstring>

namespace quenvar::desktop {

bool openClipboardRetrying(HWND owner) {
  return waitUntil([&] { return OpenClipboard(owner) != FALSE; }, std::chrono::seconds(5));
}

namespace {

INPUT keyInput(WORD virtualKey, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan =
      unit != 0 ? unit : static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = flags;
  return input;
}

void send(std::vector<INPUT>& inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

void declareDpiAware() {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done())
      return true;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    Sleep(10);
  }
}

HWND visibleWindowOf(DWORD processId, const wchar_t* className) {
  HWND candidate = nullptr;
  while ((candidate = FindWindowExW(nullptr, candidate, className, nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(candidate, &pid);
    if (pid == processId && IsWindowVisible(candidate))
      return candidate;
  }
  return nullptr;
}

std::wstring windowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return L"<no answer>";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(copied);
  return text;
}

std::wstring className(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

RECT rectInClient(HWND control, HWND parent) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<HWND> noticesOwnedBy(HWND owner) {
  std::vector<HWND> found;
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner && className(w) == L"#32770")
      found.push_back(w);
  }
  return found;
}

Notice readNotice(HWND box) {
  // The message text is drawn by a static control with the id 0xFFFF.
  waitUntil([&] { return GetDlgItem(box, 0xFFFF) != nullptr; }, std::chrono::seconds(2));
  Notice notice;
  notice.box = box;
  notice.caption = windowText(box);
  notice.text = windowText(GetDlgItem(box, 0xFFFF));
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child))
      continue;
    const std::wstring kind = className(child);
    if (kind == L"Button") {
      ++notice.visibleButtons;
      if (GetDlgCtrlID(child) == IDOK)
        ++notice.okButtons;
    }
    // Wine keeps an icon control in every message box; it holds an icon only when one is shown.
    DWORD_PTR icon = 0;
    if (kind == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) && icon != 0) {
      notice.hasIcon = true;
    }
  }
  return notice;
}

void clickAt(POINT screen) {
  static auto lastTime = std::chrono::steady_clock::time_point();
  static POINT last{-100, -100};
  const auto wait = lastTime + std::chrono::milliseconds(700) - std::chrono::steady_clock::now();
  if (wait.count() > 0 && std::abs(screen.x - last.x) < 8 && std::abs(screen.y - last.y) < 8)
    Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
  // Absolute coordinates are 0 to 65535 across the primary screen.
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  INPUT at{};
  at.type = INPUT_MOUSE;
  at.mi.dx = MulDiv(screen.x, 65535, width - 1);
  at.mi.dy = MulDiv(screen.y, 65535, height - 1);
  at.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  // The pointer gets there first, as a hand moves before it presses: under load Wine may still
  // be taking an earlier move when the button goes down.
  std::vector<INPUT> move{at};
  auto there = [&] {
    POINT now{};
    return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
  };
  // There, and staying there for a moment: a late move from earlier must not come between.
  for (int tries = 0; tries < 3; ++tries) {
    send(move);
    waitUntil(there, std::chrono::seconds(2));
    Sleep(20);
    if (there())
      break;
  }
  // And the button is held a moment, as a finger does: under load Wine drops some presses and
  // releases that arrive together.
  std::vector<INPUT> down{at}, up{at};
  down[0].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  up[0].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  send(down);
  Sleep(40);
  send(up);
  lastTime = std::chrono::steady_clock::now();
  last = screen;
}

void pressKey(WORD virtualKey, bool shift, bool control) {
  std::vector<INPUT> inputs;
  if (control)
    inputs.push_back(keyInput(VK_CONTROL, 0, 0));
  if (shift)
    inputs.push_back(keyInput(VK_SHIFT, 0, 0));
  inputs.push_back(keyInput(virtualKey, 0, 0));
  inputs.push_back(keyInput(virtualKey, 0, KEYEVENTF_KEYUP));
  if (shift)
    inputs.push_back(keyInput(VK_SHIFT, 0, KEYEVENTF_KEYUP));
  if (control)
    inputs.push_back(keyInput(VK_CONTROL, 0, KEYEVENTF_KEYUP));
  send(inputs);
}

void typeText(std::wstring_view text) {
  std::vector<INPUT> inputs;
  for (wchar_t unit : text) {
    inputs.push_back(keyInput(0, unit, KEYEVENTF_UNICODE));
    inputs.push_back(keyInput(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
  if (!inputs.empty())
    send(inputs);
}

std::vector<COLORREF> clientPixels(HWND window, bool printed) {
  RECT r{};
  GetClientRect(window, &r);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = r.right;
  info.bmiHeader.biHeight = -r.bottom;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  if (printed)
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  else
    BitBlt(dc, 0, 0, r.right, r.bottom, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  std::vector<COLORREF> pixels;
  for (LONG i = 0; bits != nullptr && i < r.right * r.bottom; ++i) {
    const DWORD p = static_cast<const DWORD*>(bits)[i];  // 0xRRGGBB
    pixels.push_back(RGB(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF));
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixels;
}

ClipboardUser::ClipboardUser()
    : owner_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr)),
      privateFormat_(RegisterClipboardFormatW(L"Quenvar.test.earlier-copy")) {}

bool ClipboardUser::put(const std::wstring& text) {
  auto block = [](const void* data, std::size_t bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory != nullptr) {
      std::memcpy(GlobalLock(memory), data, bytes);
      GlobalUnlock(memory);
    }
    return memory;
  };
  if (!openClipboardRetrying(owner_))
    return false;
  const char marker[] = "earlier";
  const bool ok =
      EmptyClipboard() &&
      SetClipboardData(CF_UNICODETEXT, block(text.c_str(), (text.size() + 1) * sizeof(wchar_t))) &&
      SetClipboardData(privateFormat_, block(marker, sizeof(marker)));
  CloseClipboard();
  return ok;
}

std::optional<std::wstring> ClipboardUser::text() const {
  if (!openClipboardRetrying(owner_))
    return std::nullopt;
  std::optional<std::wstring> result;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      result = std::wstring(chars);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return result;
}

}  // namespace quenvar::desktop
