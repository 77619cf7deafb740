#include "desktop.h"

#include <cstdlib>
#include <cstring>

namespace quenvar::desktop {
namespace {

// The helper and its driver find each other by these names, one set per driver process.
std::wstring eventName(DWORD driver, const wchar_t* what) {
  return L"Local\\Quenvar.clipboard-holder." + std::to_wstring(driver) + L"." + what;
}

bool openClipboardRetrying(HWND owner) {
  return waitUntil([&] { return OpenClipboard(owner) != FALSE; }, std::chrono::seconds(5));
}

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

std::string utf8(std::wstring_view text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
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

ClipboardUser::ClipboardUser()
    : owner_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr)),
      privateFormat_(RegisterClipboardFormatW(L"Quenvar.test.earlier-copy")) {}

ClipboardUser::~ClipboardUser() {
  if (owner_ != nullptr)
    DestroyWindow(owner_);
}

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

bool ClipboardUser::hasPrivateFormat() const {
  return IsClipboardFormatAvailable(privateFormat_) != FALSE;
}

ClipboardHolder::ClipboardHolder() {
  const DWORD self = GetCurrentProcessId();
  hold_ = CreateEventW(nullptr, FALSE, FALSE, eventName(self, L"hold").c_str());
  held_ = CreateEventW(nullptr, FALSE, FALSE, eventName(self, L"held").c_str());
  release_ = CreateEventW(nullptr, FALSE, FALSE, eventName(self, L"release").c_str());
  released_ = CreateEventW(nullptr, FALSE, FALSE, eventName(self, L"released").c_str());
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(path) + L"\" --hold-clipboard=" + std::to_wstring(self);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process_)) {
    process_ = {};
  }
}

ClipboardHolder::~ClipboardHolder() {
  release();
  if (process_.hProcess != nullptr) {
    TerminateProcess(process_.hProcess, 0);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  for (HANDLE event : {hold_, held_, release_, released_})
    CloseHandle(event);
}

bool ClipboardHolder::hold() {
  if (!ready())
    return false;
  SetEvent(hold_);
  const HANDLE answers[] = {held_, process_.hProcess};
  holding_ = WaitForMultipleObjects(2, answers, FALSE, 10000) == WAIT_OBJECT_0;
  // A helper that answers late must not be taken for holding on the next request.
  if (!holding_)
    TerminateProcess(process_.hProcess, 1);
  return holding_;
}

bool ClipboardHolder::release() {
  if (!holding_)
    return true;
  holding_ = false;
  SetEvent(release_);
  const HANDLE answers[] = {released_, process_.hProcess};
  if (WaitForMultipleObjects(2, answers, FALSE, 10000) == WAIT_OBJECT_0)
    return true;
  TerminateProcess(process_.hProcess, 1);
  return false;
}

bool isClipboardHolderArgument(std::wstring_view argument) {
  return argument.starts_with(L"--hold-clipboard=");
}

int holdClipboardMain(std::wstring_view argument) {
  // The driver's process id follows the option.
  const std::wstring id(argument.substr(argument.find(L'=') + 1));
  const DWORD driver = static_cast<DWORD>(std::wcstoul(id.c_str(), nullptr, 10));
  const DWORD access = EVENT_MODIFY_STATE | SYNCHRONIZE;
  const HANDLE hold = OpenEventW(access, FALSE, eventName(driver, L"hold").c_str());
  const HANDLE held = OpenEventW(access, FALSE, eventName(driver, L"held").c_str());
  const HANDLE release = OpenEventW(access, FALSE, eventName(driver, L"release").c_str());
  const HANDLE released = OpenEventW(access, FALSE, eventName(driver, L"released").c_str());
  const HANDLE driverProcess = OpenProcess(SYNCHRONIZE, FALSE, driver);
  if (!hold || !held || !release || !released || !driverProcess)
    return 1;
  // Serve until the driver is gone.
  for (;;) {
    const HANDLE waits[] = {hold, driverProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
      return 0;
    if (!openClipboardRetrying(nullptr))
      return 1;
    SetEvent(held);
    const HANDLE untilRelease[] = {release, driverProcess};
    const DWORD why = WaitForMultipleObjects(2, untilRelease, FALSE, INFINITE);
    CloseClipboard();
    SetEvent(released);
    if (why != WAIT_OBJECT_0)
      return 0;
  }
}

}  // namespace quenvar::desktop
