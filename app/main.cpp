// Quenvar's entry: create Form1 and run its message loop until it is closed. Start-up reads no
// arguments, environment, registry or files.
#include <windows.h>
#include <commctrl.h>

#include "form1_window.h"
#include "notice.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);

  const HWND form = quenvar::ui::createForm1(instance, showCommand);
  if (form == nullptr) {
    quenvar::app::showNotice(nullptr, L"无法创建程序窗口，Quenvar 无法启动");
    return 1;
  }
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0)
      break;
    if (got == -1)
      return 1;
    // The dialog manager gives Form1 its Tab order and keyboard navigation.
    if (!IsDialogMessageW(form, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}
