#include "actions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <set>
#include <sstream>

#include "test_support.h"

namespace {

using namespace quenvar::exercise;
using quenvar::test::CaseName;
using quenvar::test::utf8;

Actions parsed(std::string_view text) {
  const ParsedList list = parseList(text);
  EXPECT_EQ(list.error, "") << text;
  return list.actions;
}

Model after(std::string_view text) {
  Model m;
  for (const Action& a : performed(parsed(text)))
    apply(a, m);
  return m;
}

TEST(ExerciseActions, GeneratedListsAreApplicableInTurnAndTheirTextReadsBackTheSame) {
  Generator generator(20261208);
  Actions actions;
  std::set<Kind> kinds;
  for (int i = 0; i < 5000; ++i) {
    actions.push_back(generator.next());
    kinds.insert(actions.back().kind);
  }
  EXPECT_EQ(kinds.size(), static_cast<std::size_t>(Kind::Close)) << "every kind but a close";
  EXPECT_EQ(performed(actions).size(), actions.size());

  Action typed(Kind::Type), pasted(Kind::Paste);
  typed.text = pasted.text = u"\"\\\t 链接 \U0001F600 \xD83D lone \xDE00 end";
  pasted.newClipboard = true;
  actions.insert(actions.begin(), {typed, pasted, Action()});
  const ParsedList back = parseList(toText("what it caught", actions));
  EXPECT_EQ(back.error, "");
  EXPECT_EQ(back.caught, "what it caught");
  ASSERT_EQ(back.actions.size(), actions.size());
  for (std::size_t i = 0; i < actions.size(); ++i)
    ASSERT_EQ(back.actions[i], actions[i]) << "line " << i + 2 << ": " << toText(actions[i]);
}

TEST(ExerciseActions, CaseFilesAreReplayedAsWritten) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUENVAR_EXERCISE_CASES)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const ParsedList list = parseList(text);
    EXPECT_EQ(list.error, "") << entry.path();
    EXPECT_FALSE(list.caught.empty()) << entry.path() << ": the first line says what it caught";
    EXPECT_EQ(performed(list.actions), list.actions) << entry.path() << ": all are performed";
    EXPECT_EQ(toText(list.caught, list.actions), text) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

struct BadText {
  const char* name;
  std::string text, error;
};
class ExerciseListErrors : public testing::TestWithParam<BadText> {};
TEST_P(ExerciseListErrors, SayWhereAndWhat) {
  EXPECT_EQ(parseList(GetParam().text).error, GetParam().error);
}
INSTANTIATE_TEST_SUITE_P(
    All, ExerciseListErrors,
    testing::Values(
        BadText{"unknown", "# x\ntab\njump\n", "line 3: no such action"},
        BadText{"unclosed", "type \"abc", "line 1: the quote is not closed"},
        BadText{"not utf8", "type \"\xC0\xAF\"", "line 1: the text is not UTF-8"},
        BadText{"bad escape", "type \"\\uD83\"", "line 1: an escape is not \\\", \\\\ or \\uXXXX"},
        BadText{"outside", "click-text1 at 0.5 1.5", "line 1: a position must be from 0 to 1"},
        BadText{"no at", "dismiss-click 0.5 0.5", "line 1: \"at\" is missing"},
        BadText{"control", "click-under-notice Text3 at 0 0", "line 1: no such control"},
        BadText{"hold", "copy-held 700 at 0 0", "line 1: \"700\" is not a number of ms"},
        BadText{"more", "tab tab", "line 1: more follows the action"}),
    CaseName{});

struct Sequence {
  const char* name;
  std::string actions;
  std::u16string text1;
  std::size_t start1, end1;
  std::u16string text2, notice;  // no notice when empty
  Control focus;
  bool hint;
};
class ExerciseModel : public testing::TestWithParam<Sequence> {};
TEST_P(ExerciseModel, ShowsWhatQuenvarShould) {
  const Sequence& s = GetParam();
  const Model m = after(s.actions);
  EXPECT_EQ(utf8(m.text1.text), utf8(s.text1));
  EXPECT_EQ(m.text1.start, s.start1);
  EXPECT_EQ(m.text1.end, s.end1);
  EXPECT_EQ(utf8(m.text2.text), utf8(s.text2));
  EXPECT_EQ(utf8(m.notice.value_or(u"")), utf8(s.notice));
  EXPECT_EQ(kControlNames[static_cast<int>(m.focus)], kControlNames[static_cast<int>(s.focus)]);
  EXPECT_EQ(m.hintShown, s.hint);
}
const std::u16string kLinkText = u"https://pan.baidu.com/share/link?shareid=1&uk=1234567890";
const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=1234567890";
const std::string kLink = "type \"" + utf8(kLinkText) + "\"\n";
INSTANTIATE_TEST_SUITE_P(
    All, ExerciseModel,
    testing::Values(Sequence{"start", "", kHint, 0, 0, u"", u"", Control::Command1, true},
                    Sequence{"click clears the hint", "click-text1 at 0.9 0.9", u"", 0, 0, u"", u"",
                             Control::Text1, false},
                    Sequence{"tab selects the hint", "tab", kHint, 0, kHint.size(), u"", u"",
                             Control::Text1, true},
                    Sequence{"typing over the selected hint", "tab\ntype \"a\U0001F600\"",
                             u"a\U0001F600", 3, 3, u"", u"", Control::Text1, false},
                    Sequence{"select all and delete", "tab\nselect-all-delete", u"", 0, 0, u"", u"",
                             Control::Text1, false},
                    Sequence{"enter in a box types nothing, space a space", "tab\nenter\nspace",
                             u" ", 1, 1, u"", u"", Control::Text1, false},
                    Sequence{"repair", "tab\n" + kLink + "click-command1 at 0 0", kLinkText, 56, 56,
                             kHome, kRepaired, Control::Command1, false},
                    Sequence{"unsupported", "enter", kHint, 0, 0, u"", kUnsupported,
                             Control::Command1, true},
                    Sequence{"nothing to copy", "shift-tab\nspace", kHint, 0, 0, u"",
                             kNothingToCopy, Control::Command2, true},
                    Sequence{"dismissed", "shift-tab\nspace\ndismiss-escape", kHint, 0, 0, u"", u"",
                             Control::Command2, true},
                    Sequence{"end puts the caret last", "tab\nend", kHint, kHint.size(),
                             kHint.size(), u"", u"", Control::Text1, true}),
    CaseName{});

TEST(ExerciseCopy, PutsTheRepairedLinkAloneOnTheClipboard) {
  const Model m = after("tab\n" + kLink + "shift-tab\nenter\ndismiss-enter\ntab\ntab\ntab\nspace");
  EXPECT_EQ(utf8(m.clipboard), utf8(kHome));
  EXPECT_FALSE(m.clipboardHasOtherFormats);
  EXPECT_EQ(utf8(m.notice.value_or(u"")), utf8(kCopied));
}

struct Applicability {
  const char* name;
  std::string before, action;
  bool applicable;
};
class ExerciseApplicable : public testing::TestWithParam<Applicability> {};
TEST_P(ExerciseApplicable, FollowsTheNoticeTheFocusAndTheClose) {
  const Applicability& c = GetParam();
  EXPECT_EQ(applicable(parsed(c.action).at(0), after(c.before)), c.applicable);
}
INSTANTIATE_TEST_SUITE_P(
    All, ExerciseApplicable,
    testing::Values(Applicability{"typing on a button", "", "type \"a\"", false},
                    Applicability{"typing in a box", "tab", "type \"a\"", true},
                    Applicability{"pasting on a button", "tab\ntab\ntab", "paste", false},
                    Applicability{"dismissing nothing", "", "dismiss-enter", false},
                    Applicability{"dismissing a notice", "enter", "dismiss-enter", true},
                    Applicability{"tab under a notice", "enter", "tab", false},
                    Applicability{"closing under a notice", "enter", "close", true},
                    Applicability{"anything after closing", "close", "close", false}),
    CaseName{});

struct Planted {
  const char* name;
  std::function<bool(const Actions&)> diverges;
  std::string minimal;
};
class ExerciseShrink : public testing::TestWithParam<Planted> {};
TEST_P(ExerciseShrink, ReachesTheSmallestListThatStillDiverges) {
  Generator generator(7);
  Actions actions;
  for (int i = 0; i < 300; ++i)
    actions.push_back(generator.next());
  const Actions planted = parsed(GetParam().minimal);
  actions.insert(actions.begin() + 200, planted.begin(), planted.end());
  ASSERT_TRUE(GetParam().diverges(actions));
  std::stringstream shrunk;
  for (const Action& a : shrink(actions, GetParam().diverges))
    shrunk << toText(a) << "\n";
  EXPECT_EQ(shrunk.str(), GetParam().minimal);
  EXPECT_EQ(shrink(actions, GetParam().diverges, std::chrono::steady_clock::now()), actions)
      << "past the deadline nothing is tried";
}
bool has(const Action& a, Kind kind, std::u16string_view text = {}) {
  return a.kind == kind && a.text.find(text) != std::u16string::npos;
}
INSTANTIATE_TEST_SUITE_P(
    All, ExerciseShrink,
    testing::Values(Planted{"a typed text then a close",
                            [](const Actions& list) {
                              const auto typed = std::find_if(
                                  list.begin(), list.end(),
                                  [](const Action& a) { return has(a, Kind::Type, u"needle"); });
                              return std::any_of(typed, list.end(), [](const Action& a) {
                                return has(a, Kind::Close);
                              });
                            },
                            "type \"needle\"\nclose\n"},
                    Planted{"three Shift+Tabs",
                            [](const Actions& list) {
                              return std::count_if(list.begin(), list.end(), [](const Action& a) {
                                       return has(a, Kind::ShiftTab);
                                     }) >= 3;
                            },
                            "shift-tab\nshift-tab\nshift-tab\n"}),
    CaseName{});

}  // namespace
