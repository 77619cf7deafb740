// An in-memory Form1 for the handler tests: it behaves as the platform does where the handlers
// depend on it (setting Text1 raises its change event) and can be told to fail.
#pragma once

#include <chrono>
#include <deque>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "form1_handlers.h"
#include "form1_layout.h"
#include "test_support.h"

namespace quenvar::test {

// What the user and other programs see of Form1.
struct Form1State {
  std::u16string text1{ui::kText1Hint}, text2 = {};
  ui::ColorValue color = ui::kScrollBarSystemColor;
  std::optional<std::u16string> clipboard = u"what the user held before";  // none: emptied
  std::vector<std::u16string_view> notices = {};
  int clipboardAttempts = 0;
  bool operator==(const Form1State&) const = default;
};

inline void PrintTo(const Form1State& s, std::ostream* os) {
  *os << "Text1 \"" << utf8(s.text1) << "\" in colour " << std::hex << s.color << std::dec
      << ", Text2 \"" << utf8(s.text2) << "\", clipboard ";
  if (s.clipboard)
    *os << '"' << utf8(*s.clipboard) << '"';
  else
    *os << "emptied";
  *os << " after " << s.clipboardAttempts << " attempts, notices:";
  for (std::u16string_view notice : s.notices)
    *os << " \"" << utf8(notice) << "\"";
}

class FakeForm1 : public ui::Form1Controls {
 public:
  FakeForm1() { state.color = ui::kText1HintColor; }
  Form1State state;
  std::chrono::milliseconds paused{0};
  bool noticeOpen = false;  // until the test dismisses it
  bool clipboardUsedAfterNotice = false;
  // What the platform does not do.
  bool failReads = false;
  bool throwOnRead = false;  // as when memory runs out
  bool failSetText1 = false;
  bool failSetText2 = false;
  int busyAttempts = 0;    // attempts that find the clipboard held by another program
  bool failWrite = false;  // refused after the clipboard was emptied, as SetClipboardData can

  std::optional<std::u16string> text1() override { return read(state.text1); }
  std::optional<std::u16string> text2() override { return read(state.text2); }
  bool setText1(std::u16string_view text) override {
    if (failSetText1)
      return false;
    userEditsText1(text);  // the edit box's change notification follows, as for the user's edits
    return true;
  }
  bool setText2(std::u16string_view text) override {
    if (failSetText2)
      return false;
    state.text2 = text;
    return true;
  }
  ui::ColorValue text1Color() const override { return state.color; }
  void setText1Color(ui::ColorValue value) override { state.color = value; }
  ui::ClipboardWrite writeClipboard(std::u16string_view text) override {
    clipboardUsedAfterNotice = clipboardUsedAfterNotice || noticeOpen;
    if (++state.clipboardAttempts <= busyAttempts)
      return ui::ClipboardWrite::Busy;
    state.clipboard.reset();
    if (failWrite)
      return ui::ClipboardWrite::Failed;
    state.clipboard = std::u16string(text);
    return ui::ClipboardWrite::Written;
  }
  void pause(std::chrono::milliseconds duration) override { paused += duration; }
  void showNotice(std::u16string_view text) override {
    noticeOpen = true;
    state.notices.push_back(noticeTexts_.emplace_back(text));
  }

  // A user typing or pasting into Text1: the text changes and the change event follows.
  void userEditsText1(std::u16string_view text) {
    state.text1 = text;
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
  std::deque<std::u16string> noticeTexts_;  // what `state.notices` shows; a deque never moves them
};

}  // namespace quenvar::test
