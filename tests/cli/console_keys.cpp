// Types keys into the console of a running program, as the console would take them from a
// keyboard: console_keys PROGRAM.exe KEY...   where KEY is ctrl-z, enter, or text.
// Wine's terminal input does not give Ctrl+Z to the console (it turns the byte into a line
// clear), so tests type it this way.
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

DWORD processNamed(const wchar_t* name) {
  DWORD found = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0)
      found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

void press(std::vector<INPUT_RECORD>& records, WORD key, wchar_t unit, DWORD state) {
  for (BOOL down : {TRUE, FALSE}) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = key;
    r.Event.KeyEvent.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    r.Event.KeyEvent.uChar.UnicodeChar = unit;
    r.Event.KeyEvent.dwControlKeyState = state;
    records.push_back(r);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3)
    return 2;
  std::vector<INPUT_RECORD> records;
  for (int i = 2; i < argc; ++i) {
    const std::wstring key = argv[i];
    if (key == L"ctrl-z")
      press(records, 'Z', L'\x1A', LEFT_CTRL_PRESSED);
    else if (key == L"enter")
      press(records, VK_RETURN, L'\r', 0);
    else
      for (wchar_t unit : key)
        press(records, 0, unit, 0);
  }
  const DWORD target = processNamed(argv[1]);
  FreeConsole();
  if (target == 0 || !AttachConsole(target))
    return 1;
  const HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  const bool ok =
      input != INVALID_HANDLE_VALUE &&
      WriteConsoleInputW(input, records.data(), static_cast<DWORD>(records.size()), &written) &&
      written == records.size();
  FreeConsole();
  return ok ? 0 : 1;
}
