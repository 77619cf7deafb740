#include "form1_handlers.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fake_form1.h"
#include "test_support.h"

namespace {

using quenvar::test::FakeForm1;
namespace ui = quenvar::ui;
namespace notice = quenvar::ui::notice;

using quenvar::test::CaseName;
using quenvar::test::utf8;

const std::u16string kLink = u"https://pan.baidu.com/share/link?shareid=1&uk=1234567890";
const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=1234567890";

// ---- Repair (Command1) ----

struct RepairCase {
  const char* name;
  friend void PrintTo(const RepairCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(FakeForm1&)> arrange;
  std::u16string expectedText2;
  std::u16string_view expectedNotice;
};

class RepairCommand : public testing::TestWithParam<RepairCase> {};

TEST_P(RepairCommand, SetsText2AndTellsTheOutcomeOnce) {
  const RepairCase& c = GetParam();
  FakeForm1 form;
  c.arrange(form);
  const std::u16string text1Before = form.text1Value;
  const ui::ColorValue colorBefore = form.color;
  const auto clipboardBefore = form.clipboard.text;

  ui::onCommand1Click(form);

  EXPECT_EQ(utf8(form.text2Value), utf8(c.expectedText2));
  EXPECT_EQ(utf8(form.notices), std::vector<std::string>{utf8(c.expectedNotice)});
  EXPECT_EQ(utf8(form.text1Value), utf8(text1Before)) << "repair must not touch Text1";
  EXPECT_EQ(form.color, colorBefore) << "repair must not touch Text1's colour";
  EXPECT_EQ(form.clipboard.text, clipboardBefore) << "repair must not touch the clipboard";
}

const RepairCase kRepairCases[] = {
    {"link repaired", [](FakeForm1& f) { f.userEditsText1(kLink); }, kHome, notice::kRepaired},
    {"hint still shown is unsupported", [](FakeForm1&) {}, u"", notice::kUnsupported},
    {"empty input is unsupported", [](FakeForm1& f) { f.userEditsText1(u""); }, u"",
     notice::kUnsupported},
    {"unsupported keeps the earlier link",
     [](FakeForm1& f) {
       f.text2Value = u"earlier";
       f.userEditsText1(kLink + u" ");
     },
     u"earlier", notice::kUnsupported},
    {"repaired replaces whatever Text2 held",
     [](FakeForm1& f) {
       f.text2Value = u"something the user typed";
       f.userEditsText1(kLink);
     },
     kHome, notice::kRepaired},
    {"link typed after the hint is repaired",
     [](FakeForm1& f) { f.userEditsText1(std::u16string(ui::kText1Hint) + kLink); }, kHome,
     notice::kRepaired},
    {"Text1 that cannot be read",
     [](FakeForm1& f) {
       f.text2Value = u"kept";
       f.failReads = true;
     },
     u"kept", notice::kReadInputFailed},
    {"Text2 that refuses the link",
     [](FakeForm1& f) {
       f.userEditsText1(kLink);
       f.text2Value = u"kept";
       f.failSetText2 = true;
     },
     u"kept", notice::kShowResultFailed},
    {"memory running out on a huge paste",
     [](FakeForm1& f) {
       f.userEditsText1(kLink);
       f.text2Value = u"kept";
       f.throwOnRead = true;
     },
     u"kept", notice::kOutOfMemory},
};

INSTANTIATE_TEST_SUITE_P(Cases, RepairCommand, testing::ValuesIn(kRepairCases), CaseName());

TEST(RepairCommandRepeated, SameInputGivesSameResultEachTime) {
  FakeForm1 form;
  form.userEditsText1(kLink);
  for (int i = 0; i < 3; ++i)
    ui::onCommand1Click(form);
  EXPECT_EQ(utf8(form.text2Value), utf8(kHome));
  EXPECT_EQ(form.notices.size(), 3u);
  for (const auto& n : form.notices)
    EXPECT_EQ(utf8(n), utf8(notice::kRepaired));
}

// ---- Copy (Command2) ----

struct CopyCase {
  const char* name;
  friend void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(FakeForm1&)> arrange;
  std::optional<std::u16string> expectedClipboard;
  std::u16string_view expectedNotice;
  int expectedAttempts;
};

class CopyCommand : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyCommand, PutsText2OnTheClipboardOrSaysWhyNot) {
  const CopyCase& c = GetParam();
  FakeForm1 form;
  c.arrange(form);
  const std::u16string text2Before = form.text2Value;

  ui::onCommand2Click(form);

  EXPECT_EQ(form.clipboard.text.has_value(), c.expectedClipboard.has_value());
  if (form.clipboard.text && c.expectedClipboard) {
    EXPECT_EQ(utf8(*form.clipboard.text), utf8(*c.expectedClipboard));
  }
  EXPECT_EQ(utf8(form.notices), std::vector<std::string>{utf8(c.expectedNotice)});
  EXPECT_EQ(form.clipboard.attempts, c.expectedAttempts);
  EXPECT_FALSE(form.clipboardUsedAfterNotice) << "the clipboard is never held while a notice shows";
  EXPECT_EQ(utf8(form.text2Value), utf8(text2Before));
}

const std::u16string kBefore = u"what the user held before";

const CopyCase kCopyCases[] = {
    {"home link copied", [](FakeForm1& f) { f.text2Value = kHome; }, kHome, notice::kCopied, 1},
    {"user-edited text copied unchanged",
     [](FakeForm1& f) { f.text2Value = u"  anything, 任何文字\t"; }, u"  anything, 任何文字\t",
     notice::kCopied, 1},
    {"empty Text2 leaves the clipboard alone", [](FakeForm1&) {}, kBefore, notice::kNothingToCopy,
     0},
    {"busy briefly, then copied",
     [](FakeForm1& f) {
       f.text2Value = kHome;
       f.clipboard.busyAttempts = 3;
     },
     kHome, notice::kCopied, 4},
    {"busy throughout",
     [](FakeForm1& f) {
       f.text2Value = kHome;
       f.clipboard.busyAttempts = 1000;
     },
     kBefore, notice::kClipboardBusy, ui::kClipboardAttempts},
    {"write refused after the clipboard was emptied",
     [](FakeForm1& f) {
       f.text2Value = kHome;
       f.clipboard.failWrite = true;
     },
     std::nullopt, notice::kCopyFailed, 1},
    {"Text2 that cannot be read",
     [](FakeForm1& f) {
       f.text2Value = kHome;
       f.failReads = true;
     },
     kBefore, notice::kReadResultFailed, 0},
    {"memory running out",
     [](FakeForm1& f) {
       f.text2Value = kHome;
       f.throwOnRead = true;
     },
     kBefore, notice::kOutOfMemory, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, CopyCommand, testing::ValuesIn(kCopyCases), CaseName());

TEST(CopyCommandRetry, WaitsAboutHalfASecondToASecondInAll) {
  FakeForm1 form;
  form.text2Value = kHome;
  form.clipboard.busyAttempts = 1000;
  ui::onCommand2Click(form);
  EXPECT_GE(form.paused.count(), 500);
  EXPECT_LE(form.paused.count(), 1000);
}

TEST(CopyAfterRepair, UnsupportedRepairLeavesTheEarlierLinkToCopy) {
  FakeForm1 form;
  form.userEditsText1(kLink);
  ui::onCommand1Click(form);
  form.userEditsText1(u"not a link");
  ui::onCommand1Click(form);
  ui::onCommand2Click(form);
  ASSERT_TRUE(form.clipboard.text);
  EXPECT_EQ(utf8(*form.clipboard.text), utf8(kHome));
  EXPECT_EQ(utf8(form.notices),
            (std::vector<std::string>{utf8(notice::kRepaired), utf8(notice::kUnsupported),
                                      utf8(notice::kCopied)}));
}

// ---- Text1's hint ----

struct HintStep {
  enum Kind { Click, Edit, Repair } kind;
  std::u16string text;  // for Edit
};

struct HintCase {
  const char* name;
  friend void PrintTo(const HintCase& c, std::ostream* os) { *os << c.name; }
  std::vector<HintStep> steps;
  std::u16string expectedText1;
  ui::ColorValue expectedColor;
};

class Text1Hint : public testing::TestWithParam<HintCase> {};

TEST_P(Text1Hint, ClickAndChangeBehaveAsAUserExpects) {
  const HintCase& c = GetParam();
  FakeForm1 form;
  for (const HintStep& step : c.steps) {
    switch (step.kind) {
      case HintStep::Click:
        ui::onText1Click(form);
        break;
      case HintStep::Edit:
        form.userEditsText1(step.text);
        break;
      case HintStep::Repair:
        ui::onCommand1Click(form);
        break;
    }
  }
  EXPECT_EQ(utf8(form.text1Value), utf8(c.expectedText1));
  EXPECT_EQ(form.color, c.expectedColor);
}

const std::u16string kHint(ui::kText1Hint);

const HintCase kHintCases[] = {
    {"starts with the hint in the scroll-bar colour", {}, kHint, ui::kScrollBarSystemColor},
    {"first click empties and turns black", {{HintStep::Click, {}}}, u"", ui::kBlack},
    {"later click keeps a pasted link",
     {{HintStep::Click, {}}, {HintStep::Edit, kLink}, {HintStep::Click, {}}},
     kLink,
     ui::kBlack},
    {"typing without clicking keeps the hint text and turns black",
     {{HintStep::Edit, kHint + u"abc"}},
     kHint + u"abc",
     ui::kBlack},
    {"click after typing keeps the text",
     {{HintStep::Edit, kHint + kLink}, {HintStep::Click, {}}},
     kHint + kLink,
     ui::kBlack},
    {"deleting everything stays black and shows no hint",
     {{HintStep::Click, {}}, {HintStep::Edit, u"x"}, {HintStep::Edit, u""}, {HintStep::Click, {}}},
     u"",
     ui::kBlack},
    {"repair leaves the hint and its colour alone",
     {{HintStep::Repair, {}}},
     kHint,
     ui::kScrollBarSystemColor},
};

INSTANTIATE_TEST_SUITE_P(Cases, Text1Hint, testing::ValuesIn(kHintCases), CaseName());

TEST(Text1HintFailure, BoxThatRefusesToEmptyIsReportedAndKept) {
  FakeForm1 form;
  form.failSetText1 = true;
  ui::onText1Click(form);
  EXPECT_EQ(utf8(form.text1Value), utf8(kHint));
  EXPECT_EQ(utf8(form.notices), std::vector<std::string>{utf8(notice::kClearHintFailed)});
}

TEST(Text1HintRepair, RepairsLinkAfterHintAndKeepsColour) {
  FakeForm1 form;
  form.userEditsText1(kHint + kLink);
  ui::onCommand1Click(form);
  EXPECT_EQ(utf8(form.text2Value), utf8(kHome));
  EXPECT_EQ(form.color, ui::kBlack);
}

}  // namespace
