#include "quenvar_driver.h"

#include "form1_class_name.h"

namespace quenvar::e2e {

QuenvarProcess::QuenvarProcess() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::wstring commandLine = L"\"" + settings.exePath + L"\"";
  if (!CreateProcessW(settings.exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process_)) {
    process_ = {};
    return;
  }
  WaitForInputIdle(process_.hProcess, 10000);
  desktop::waitUntil([&] {
    form_ = desktop::visibleWindowOf(process_.dwProcessId, ui::kForm1ClassName);
    return form_ != nullptr;
  });
}

QuenvarProcess::~QuenvarProcess() {
  if (process_.hProcess == nullptr)
    return;
  if (running()) {
    // A test that failed midway may leave a notice open; close it so Form1 can close.
    for (HWND box : desktop::noticesOwnedBy(form_))
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    PostMessageW(form_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0)
      TerminateProcess(process_.hProcess, 99);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

std::optional<desktop::Notice> QuenvarProcess::takeNotice() {
  std::vector<HWND> boxes;
  if (!desktop::waitUntil([&] { return !(boxes = desktop::noticesOwnedBy(form_)).empty(); }))
    return std::nullopt;
  const desktop::Notice notice = desktop::readNotice(boxes.front());
  const HWND ok = GetDlgItem(notice.box, IDOK);
  PostMessageW(ok != nullptr ? ok : notice.box, ok != nullptr ? BM_CLICK : WM_CLOSE, 0, 0);
  desktop::waitUntil([&] { return !IsWindow(notice.box); }, std::chrono::seconds(5));
  return notice;
}

}  // namespace quenvar::e2e
