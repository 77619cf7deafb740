// Every text quenvar-cli shows a person, in Chinese and in English: one table per language, with
// the same entries. Portable, and free of the program's own machinery: the scan's summary and
// its errors are entries of their own, for any program built on the scanner.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quenvar::cli {

enum class Language { Chinese, English };

enum class Message {
  Usage,            // the whole of --help
  UnknownOption,    // {0}: the option
  OptionNeedsScan,  // --where or --quiet without --scan
  ReadStandardInputFailed,
  WriteStandardOutputFailed,
  LineNotUtf8,       // {0}: the line number
  LineNotSupported,  // {0}: the line number
  CannotOpen,        // {0}: the file's name
  ReadFailed,        // {0}: the file's name
  OutOfMemory,       // while recording sharers
  ScanSummary,       // {0}: links naming a sharer, {1}: sharers, {2}: links without a key
  NoSharerFound,     // for a caller that shows the sharers, not an exit status
};
inline constexpr std::size_t kMessageCount = static_cast<std::size_t>(Message::NoSharerFound) + 1;

// The message as UTF-8, without the program's name or a line end. It may hold placeholders,
// {0} to {9}, which format() fills.
std::string_view text(Language language, Message id);

// The pattern with each {N} replaced by args[N]. Nothing else is special: a {N} without an
// argument, or any other brace, stays as written.
std::string format(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace quenvar::cli
