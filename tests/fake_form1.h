// An in-memory Form1 for the handler tests: it behaves as the platform does where the handlers
// depend on it (setting Text1 raises its change event) and can be told to fail.
#pragma once

#include <chrono>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "form1_handlers.h"
#include "form1_layout.h"

namespace quenvar::test {

struct FakeClipboard {
  std::optional<std::u16string> text = u"what the user held before";
  int busyAttempts = 0;  // attempts that find it held by another program
  // The text is refused after the clipboard was emptied, as when SetClipboardData fails.
  bool failWrite = false;
  int attempts = 0;
};

class FakeForm1 : public ui::Form1Controls {
 public:
  std::u16string text1Value{ui::kText1Hint};
  std::u16string text2Value;
  ui::ColorValue color = ui::kText1HintColor;
  FakeClipboard clipboard;
  std::vector<std::u16string> notices;
  std::chrono::milliseconds paused{0};
  bool failReads = false;
  bool failSetText2 = false;
  bool failSetText1 = false;
  bool throwOnRead = false;
  bool clipboardUsedAfterNotice = false;

  std::optional<std::u16string> text1() override { return read(text1Value); }
  std::optional<std::u16string> text2() override { return read(text2Value); }
  bool setText1(std::u16string_view text) override {
    if (failSetText1)
      return false;
    text1Value = text;
    ui::onText1Change(*this);  // as the edit box's change notification does
    return true;
  }
  bool setText2(std::u16string_view text) override {
    if (failSetText2)
      return false;
    text2Value = text;
    return true;
  }
  ui::ColorValue text1Color() const override { return color; }
  void setText1Color(ui::ColorValue value) override { color = value; }
  ui::ClipboardWrite writeClipboard(std::u16string_view text) override {
    if (!notices.empty())
      clipboardUsedAfterNotice = true;
    ++clipboard.attempts;
    if (clipboard.attempts <= clipboard.busyAttempts)
      return ui::ClipboardWrite::Busy;
    if (clipboard.failWrite) {
      clipboard.text.reset();
      return ui::ClipboardWrite::Failed;
    }
    clipboard.text = std::u16string(text);
    return ui::ClipboardWrite::Written;
  }
  void pause(std::chrono::milliseconds duration) override { paused += duration; }
  void showNotice(std::u16string_view text) override { notices.emplace_back(text); }

  // A user typing or pasting into Text1: the text changes and the change event follows.
  void userEditsText1(std::u16string_view text) {
    text1Value = text;
    ui::onText1Change(*this);
  }

 private:
  std::optional<std::u16string> read(const std::u16string& value) const {
    if (throwOnRead)
      throw std::bad_alloc();
    if (failReads)
      return std::nullopt;
    return value;
  }
};

}  // namespace quenvar::test
