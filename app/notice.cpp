#include "notice.h"

#include <string>

#include "identity.h"

namespace quenvar::app {

static_assert(std::wstring_view(kAppTitle) == L"" QUENVAR_NAME);

void showNotice(HWND owner, std::wstring_view text) {
  const std::wstring message(text);  // MessageBoxW needs a terminated string
  MessageBoxW(owner, message.c_str(), kAppTitle, MB_OK | MB_APPLMODAL);
}

}  // namespace quenvar::app
