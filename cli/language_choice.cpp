#include "language_choice.h"

#include <string_view>

namespace quenvar::cli {
namespace {

std::string_view valueOf(const char* variable) {
  return variable ? variable : "";
}

}  // namespace

Language languageOfLocale(const LocaleVariables& variables) {
  std::string_view first = valueOf(variables.language);
  first = first.substr(0, first.find(':'));
  for (const std::string_view value :
       {first, valueOf(variables.lcAll), valueOf(variables.lcMessages), valueOf(variables.lang)}) {
    if (value.empty())
      continue;
    // language[_territory][.codeset][@modifier]
    return value.substr(0, value.find_first_of("_.@")) == "zh" ? Language::Chinese
                                                               : Language::English;
  }
  return Language::English;
}

Language languageOfWindowsUi(std::uint16_t languageId) {
  constexpr std::uint16_t kLangChinese = 0x04;  // LANG_CHINESE, in the id's low ten bits
  return (languageId & 0x3FF) == kLangChinese ? Language::Chinese : Language::English;
}

}  // namespace quenvar::cli
