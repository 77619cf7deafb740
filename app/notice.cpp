#include "notice.h"

#include <string>

#include "identity.h"

namespace quenvar::app {

void showNotice(HWND owner, std::wstring_view text) {
  const std::wstring message(text);  // MessageBoxW needs a terminated string
  MessageBoxW(owner, message.c_str(), L"" QUENVAR_NAME, MB_OK | MB_APPLMODAL);
}

}  // namespace quenvar::app
