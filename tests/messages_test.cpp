// The command line's messages in both languages, and which language a user gets.
#include "messages.h"

#include "language_choice.h"
#include "share_link.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <string_view>

namespace quenvar::cli {
void PrintTo(Language language, std::ostream* os) {
  *os << (language == Language::Chinese ? "Chinese" : "English");
}
}  // namespace quenvar::cli

namespace {

using quenvar::cli::Language;
using quenvar::cli::Message;

std::set<int> placeholders(std::string_view text) {
  std::set<int> found;
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] == '{' && text[i + 1] >= '0' && text[i + 1] <= '9' && text[i + 2] == '}')
      found.insert(text[i + 1] - '0');
  }
  return found;
}

TEST(Messages, BothLanguagesHaveEveryMessageWithTheSamePlaceholders) {
  for (std::size_t i = 0; i < quenvar::cli::kMessageCount; ++i) {
    const auto id = static_cast<Message>(i);
    const std::string_view chinese = text(Language::Chinese, id);
    const std::string_view english = text(Language::English, id);
    SCOPED_TRACE("message " + std::to_string(i) + ", in English \"" + std::string(english) + "\"");
    EXPECT_FALSE(chinese.empty());
    EXPECT_FALSE(english.empty());
    EXPECT_NE(chinese, english) << "left untranslated";
    const std::set<int> held = placeholders(chinese);
    EXPECT_EQ(held, placeholders(english));
    EXPECT_TRUE(held.empty() || *held.rbegin() == static_cast<int>(held.size()) - 1)
        << "placeholders are numbered from {0} without a gap";
  }
}

// In Chinese, an unsupported line is told in the window's words.
TEST(Messages, AnUnsupportedLineIsToldInTheWindowsWords) {
  EXPECT_TRUE(text(Language::Chinese, Message::LineNotSupported)
                  .ends_with(quenvar::test::utf8(quenvar::kUnsupportedMessage)));
}

TEST(Messages, FormatFillsEachPlaceholderWithItsArgument) {
  const struct {
    std::string_view pattern, expected;
  } cases[] = {
      {"{0} and {1}", "a and b"},
      {"{2} comes before {0}", "c comes before a"},
      {"{1}{1}", "bb"},
      {"ends with {2}", "ends with c"},
      {"{3} has no argument", "{3} has no argument"},
      {"{x} {} { 0} {0", "{x} {} { 0} {0"},
      {"{{0}}", "{a}"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quenvar::cli::format(c.pattern, {"a", "b", "c"}), c.expected) << c.pattern;
}

TEST(UserLanguage, FollowsTheFirstLocaleVariableThatIsSet) {
  constexpr Language zh = Language::Chinese, en = Language::English;
  const struct {
    const char* name;
    quenvar::cli::LocaleVariables variables;
    Language expected;
  } cases[] = {
      {"nothing set", {}, en},
      {"LANG zh_CN.UTF-8", {.lang = "zh_CN.UTF-8"}, zh},
      {"LANG zh alone", {.lang = "zh"}, zh},
      {"LANG zh_TW.UTF-8", {.lang = "zh_TW.UTF-8"}, zh},
      {"LANG zh_SG.GB2312", {.lang = "zh_SG.GB2312"}, zh},
      {"LANG zh with a modifier", {.lang = "zh@x"}, zh},
      {"LANG C", {.lang = "C"}, en},
      {"LANG POSIX", {.lang = "POSIX"}, en},
      {"LANG C.UTF-8", {.lang = "C.UTF-8"}, en},
      {"LANG en_US.UTF-8", {.lang = "en_US.UTF-8"}, en},
      {"LANG ja_JP.UTF-8", {.lang = "ja_JP.UTF-8"}, en},
      {"a language that only begins with zh", {.lang = "zha_CN"}, en},
      {"LC_MESSAGES before LANG", {.lcMessages = "zh_CN.UTF-8", .lang = "en_US.UTF-8"}, zh},
      {"LC_MESSAGES C before LANG zh", {.lcMessages = "C", .lang = "zh_CN.UTF-8"}, en},
      {"LC_ALL before LC_MESSAGES", {.lcAll = "C", .lcMessages = "zh_CN.UTF-8"}, en},
      {"LC_ALL zh before LANG C", {.lcAll = "zh_CN.UTF-8", .lang = "C"}, zh},
      {"LANGUAGE before LC_ALL", {.language = "zh_CN", .lcAll = "C"}, zh},
      {"LANGUAGE en before LC_ALL zh", {.language = "en_US", .lcAll = "zh_CN.UTF-8"}, en},
      {"LANGUAGE's first entry decides", {.language = "zh_TW:en", .lang = "C"}, zh},
      {"LANGUAGE's first entry alone", {.language = "zh:en"}, zh},
      {"LANGUAGE's later entries do not", {.language = "en:zh_CN", .lang = "zh_CN.UTF-8"}, en},
      {"an empty LANGUAGE is not set", {.language = "", .lang = "zh_CN.UTF-8"}, zh},
      {"LANGUAGE with an empty first entry", {.language = ":en", .lang = "zh_CN.UTF-8"}, zh},
      {"an empty LC_ALL is not set", {.lcAll = "", .lcMessages = "zh_CN.UTF-8"}, zh},
      {"an empty LC_MESSAGES is not set", {.lcMessages = "", .lang = "zh"}, zh},
      {"all empty", {.language = "", .lcAll = "", .lcMessages = "", .lang = ""}, en},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quenvar::cli::languageOfLocale(c.variables), c.expected) << c.name;
}

TEST(UserLanguage, FollowsTheWindowsDisplayLanguage) {
  const struct {
    std::uint16_t id;
    Language expected;
  } cases[] = {
      {0x0804, Language::Chinese},  // zh-CN
      {0x0404, Language::Chinese},  // zh-TW
      {0x0C04, Language::Chinese},  // zh-HK
      {0x1004, Language::Chinese},  // zh-SG
      {0x7C04, Language::Chinese},  // zh-Hant
      {0x0004, Language::Chinese},  // zh-Hans
      {0x0409, Language::English},  // en-US
      {0x0809, Language::English},  // en-GB
      {0x0411, Language::English},  // ja-JP
      {0x0000, Language::English},  // neutral
      {0x0C00, Language::English},  // the default custom locale
  };
  for (const auto& c : cases)
    EXPECT_EQ(quenvar::cli::languageOfWindowsUi(c.id), c.expected) << std::hex << c.id;
}

}  // namespace
