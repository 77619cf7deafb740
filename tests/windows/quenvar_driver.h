// Drives the real Quenvar.exe from another process: starts it, finds its window and controls,
// posts input to them, and reads and dismisses its notices.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "desktop.h"
#include "form1_layout.h"

namespace quenvar::e2e {

struct Settings {
  std::wstring exePath;  // Windows form of the path to Quenvar.exe
  int dpi = 96;          // the DPI the prefix is set up for
};
inline Settings settings;

class QuenvarProcess {
 public:
  QuenvarProcess();  // starts Quenvar.exe and waits for Form1
  ~QuenvarProcess();
  QuenvarProcess(const QuenvarProcess&) = delete;
  QuenvarProcess& operator=(const QuenvarProcess&) = delete;

  HWND form() const { return form_; }
  HWND control(ui::ControlId id) const { return GetDlgItem(form_, static_cast<int>(id)); }
  std::wstring text(ui::ControlId id) const { return desktop::windowText(control(id)); }
  bool running() const {
    return process_.hProcess != nullptr &&
           WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
  }
  DWORD exitCode() const {  // STILL_ACTIVE while it runs
    DWORD code = STILL_ACTIVE;
    return process_.hProcess && GetExitCodeProcess(process_.hProcess, &code) ? code : STILL_ACTIVE;
  }
  DWORD closeAndWait() {  // the exit code, or STILL_ACTIVE when it did not end
    PostMessageW(form_, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_.hProcess, 5000);
    return exitCode();
  }
  HWND focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(process_.dwThreadId, &info) ? info.hwndFocus : nullptr;
  }
  int noticesOpen() const { return static_cast<int>(desktop::noticesOwnedBy(form_).size()); }
  bool waitForNotice(std::chrono::milliseconds within = std::chrono::seconds(10)) const {
    return desktop::waitUntil([this] { return noticesOpen() > 0; }, within);
  }
  // Waits for a notice owned by Form1, reads it and presses OK.
  std::optional<desktop::Notice> takeNotice();

  // Posted messages, which need no foreground window.
  void pressKey(HWND target, UINT virtualKey) {
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, virtualKey, scan | 1);
    PostMessageW(target, WM_KEYUP, virtualKey, scan | 1 | (1u << 30) | (1u << 31));
  }
  void type(HWND target, std::wstring_view text) {
    for (wchar_t c : text)
      PostMessageW(target, WM_CHAR, c, 1);
  }
  void clickIn(HWND target) {  // left button down and up inside the control
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8));
    PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(8, 8));
  }
  // Posted, not sent: the click opens a modal notice and would block the driver.
  void click(ui::ControlId button) { PostMessageW(control(button), BM_CLICK, 0, 0); }
  void setText(ui::ControlId box, const std::wstring& text) {
    SendMessageTimeoutW(control(box), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
};

}  // namespace quenvar::e2e
