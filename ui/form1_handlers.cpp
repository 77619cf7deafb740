#include "form1_handlers.h"

#include <exception>
#include <new>

#include "share_link.h"

namespace quenvar::ui {
namespace {

// A handler never ends the program: whatever goes wrong is told in a notice, and the texts the
// user entered stay as they were.
template <typename Body>
void guarded(Form1Controls& controls, Body body) {
  std::u16string_view failure;
  try {
    body();
    return;
  } catch (const std::bad_alloc&) {
    failure = notice::kOutOfMemory;
  } catch (...) {
    failure = notice::kUnexpected;
  }
  try {
    controls.showNotice(failure);
  } catch (...) {
    // Nothing more can be told; staying alive matters more.
  }
}

ClipboardWrite writeWithRetry(Form1Controls& controls, std::u16string_view text) {
  ClipboardWrite result = ClipboardWrite::Busy;
  for (int attempt = 1; attempt <= kClipboardAttempts; ++attempt) {
    result = controls.writeClipboard(text);
    if (result != ClipboardWrite::Busy)
      break;
    if (attempt < kClipboardAttempts)
      controls.pause(kClipboardRetryDelay);
  }
  return result;
}

}  // namespace

void onCommand1Click(Form1Controls& controls) {
  guarded(controls, [&] {
    const std::optional<std::u16string> input = controls.text1();
    if (!input) {
      controls.showNotice(notice::kReadInputFailed);
      return;
    }
    const RepairResult result = repairShareLink(*input);
    if (!result.repaired()) {
      controls.showNotice(notice::kUnsupported);
      return;
    }
    controls.showNotice(controls.setText2(*result.homeLink) ? notice::kRepaired
                                                            : notice::kShowResultFailed);
  });
}

void onCommand2Click(Form1Controls& controls) {
  guarded(controls, [&] {
    const std::optional<std::u16string> text = controls.text2();
    if (!text) {
      controls.showNotice(notice::kReadResultFailed);
      return;
    }
    // Copying nothing would wipe what the user holds on the clipboard.
    if (text->empty()) {
      controls.showNotice(notice::kNothingToCopy);
      return;
    }
    switch (writeWithRetry(controls, *text)) {
      case ClipboardWrite::Written:
        controls.showNotice(notice::kCopied);
        break;
      case ClipboardWrite::Busy:
        controls.showNotice(notice::kClipboardBusy);
        break;
      case ClipboardWrite::Failed:
        controls.showNotice(notice::kCopyFailed);
        break;
    }
  });
}

void onText1Change(Form1Controls& controls) {
  guarded(controls, [&] {
    if (controls.text1Color() != kText1TypedColor)
      controls.setText1Color(kText1TypedColor);
  });
}

void onText1Click(Form1Controls& controls) {
  guarded(controls, [&] {
    // Only the click that takes the hint away empties the box; a later click must not throw
    // away a link the user has just pasted.
    if (controls.text1Color() != kText1HintColor)
      return;
    if (!controls.setText1(u""))
      controls.showNotice(notice::kClearHintFailed);
  });
}

}  // namespace quenvar::ui
