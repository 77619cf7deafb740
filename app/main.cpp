// Quenvar's entry. Start-up reads no arguments, environment, registry or files.
#include <windows.h>
#include <commctrl.h>

#include "application.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  return quenvar::app::runQuenvar(instance, showCommand);
}
