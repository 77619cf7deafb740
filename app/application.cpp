#include "application.h"

#include "form1_window.h"
#include "identity.h"
#include "notice.h"

namespace quenvar::app {

int runQuenvar(HINSTANCE instance, int showCommand) {
  // Form1's state is released only after the loop, so a handler that is still unwinding when its
  // window is destroyed (closed while a notice is open) returns into a live object.
  const ui::Form1Owner form = ui::createForm1(instance, showCommand);
  if (!form) {
    showNotice(nullptr, L"无法创建程序窗口，" QUENVAR_NAME " 无法启动");
    return 1;
  }
  const HWND window = ui::form1Window(*form);
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0)
      break;
    if (got == -1)
      return 1;
    // The dialog manager gives Form1 its Tab order and keyboard navigation.
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace quenvar::app
