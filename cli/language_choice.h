// Which language quenvar-cli speaks, from what the platform says about the user. Pure, so that
// every combination is tested on any platform; the program asks the platform (stream_io.cpp).
#pragma once

#include <cstdint>

#include "messages.h"

namespace quenvar::cli {

// The locale variables as the environment holds them; null when unset.
struct LocaleVariables {
  const char* language = nullptr;  // LANGUAGE, a list such as "zh_CN:en"
  const char* lcAll = nullptr;
  const char* lcMessages = nullptr;
  const char* lang = nullptr;
};

// The first of LANGUAGE's first entry, LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides: Chinese when its language is zh (zh, zh_CN, zh_TW.UTF-8...), English for anything
// else (C, POSIX, en_US.UTF-8...) and when none is set.
Language languageOfLocale(const LocaleVariables& variables);

// From a Windows language id (GetUserDefaultUILanguage): Chinese for every Chinese, whatever
// the region or script, English for any other language.
Language languageOfWindowsUi(std::uint16_t languageId);

}  // namespace quenvar::cli
