#include "console_text.h"

#include "line_repair.h"

namespace quenvar::cli {

bool ConsoleText::append(std::u16string_view piece, std::string& out) {
  const std::size_t ctrlZ = piece.find(u'\x1A');
  const bool ended = ctrlZ != piece.npos;
  piece = piece.substr(0, ctrlZ);
  std::u16string joined;
  if (waiting_ != 0 && !piece.empty()) {
    joined.reserve(piece.size() + 1);
    joined += waiting_;
    joined += piece;
    piece = joined;
    waiting_ = 0;
  }
  // A read may end between the two halves of a character outside the BMP.
  if (!ended && !piece.empty() && piece.back() >= 0xD800 && piece.back() <= 0xDBFF) {
    waiting_ = piece.back();
    piece.remove_suffix(1);
  }
  appendUtf8(out, piece);
  if (ended)
    finish(out);
  return ended;
}

void ConsoleText::finish(std::string& out) {
  if (waiting_ != 0)
    appendUtf8(out, std::u16string_view(&waiting_, 1));
  waiting_ = 0;
}

}  // namespace quenvar::cli
