// What a Windows console gives a program that reads it, UTF-16 in pieces of whatever size the
// read asked for, made into the UTF-8 text the rest of the command line reads. Pure, so that it
// is tested on any platform.
#pragma once

#include <string>
#include <string_view>

namespace quenvar::cli {

class ConsoleText {
 public:
  // Appends the piece as UTF-8. Returns true when the piece holds Ctrl+Z, which ends console
  // input: what came before it is the last text, anything after it is dropped.
  bool append(std::u16string_view piece, std::string& out);
  // At the end of input, writes a first half of a surrogate pair still waiting for its second.
  void finish(std::string& out);

 private:
  char16_t waiting_ = 0;  // a high surrogate that ended the last piece
};

}  // namespace quenvar::cli
