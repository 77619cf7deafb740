// What a test needs to work another program's windows as a user and the system would: real
// mouse and keyboard input, windows and message boxes read from outside, and the clipboard as
// other programs use it. Knows nothing of Quenvar.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_support.h"

namespace quenvar::desktop {

// Declares the process per-monitor DPI-aware, so that it sees the DPI, positions and pixels of
// other windows as they are: Wine 10, like Windows, scales them for a process that has not.
void declareDpiAware();

// Polls until `done` holds or the time runs out; returns whether it held.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Opens the clipboard for `owner`, trying for 5 s while another program holds it.
bool openClipboardRetrying(HWND owner);

// A visible top-level window of that process with that class, or null.
HWND visibleWindowOf(DWORD processId, const wchar_t* className);
std::wstring windowText(HWND window);
std::wstring className(HWND window);
RECT rectInClient(HWND control, HWND parent);
inline std::string utf8(std::wstring_view text) {
  return test::utf8(std::u16string(text.begin(), text.end()));
}

// A message box as another process sees it.
struct Notice {
  HWND box = nullptr;
  std::wstring caption;
  std::wstring text;
  int visibleButtons = 0;
  int okButtons = 0;
  bool hasIcon = false;
};
// The visible message boxes owned by `owner`, topmost first.
std::vector<HWND> noticesOwnedBy(HWND owner);
Notice readNotice(HWND box);

// Input through the system's input queue, as a person's mouse and keyboard give it: it goes to
// the foreground window and passes the dialog manager and the key state. A click close to the
// one before in time and place waits, so as not to be a double click.
void clickAt(POINT screen);
void pressKey(WORD virtualKey, bool shift = false, bool control = false);
void typeText(std::wstring_view text);  // each UTF-16 unit as a Unicode keystroke

// A window's client area, row by row, as it is on the screen, or as the window draws itself
// when asked to (WM_PRINTCLIENT, in its own process only).
std::vector<COLORREF> clientPixels(HWND window, bool printed);

// The clipboard as another program uses it.
class ClipboardUser {
 public:
  ClipboardUser();
  ~ClipboardUser() { DestroyWindow(owner_); }
  ClipboardUser(const ClipboardUser&) = delete;
  ClipboardUser& operator=(const ClipboardUser&) = delete;
  // Replaces the clipboard with a text and a private format, as a user's earlier copy would.
  bool put(const std::wstring& text);
  std::optional<std::wstring> text() const;
  bool hasPrivateFormat() const { return IsClipboardFormatAvailable(privateFormat_) != FALSE; }

 private:
  HWND owner_ = nullptr;
  UINT privateFormat_ = 0;
};

// Holds the clipboard open, as a program that is using it does, until released or destroyed.
class ClipboardHolder {
 public:
  ClipboardHolder() = default;
  ~ClipboardHolder() { release(); }
  ClipboardHolder(const ClipboardHolder&) = delete;
  ClipboardHolder& operator=(const ClipboardHolder&) = delete;
  bool hold() {  // false when the clipboard stayed busy for 5 s
    holding_ = holding_ || openClipboardRetrying(nullptr);
    return holding_;
  }
  bool release() { return !std::exchange(holding_, false) || CloseClipboard() != FALSE; }

 private:
  bool holding_ = false;
};

}  // namespace quenvar::desktop
