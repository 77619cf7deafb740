#include "line_repair.h"

#include <algorithm>

#include "share_link.h"

namespace quenvar::cli {
namespace {

bool isAscii(const char* data, std::size_t size) {
  // Eight bytes at a time: most links are plain ASCII and this is the hot loop.
  std::size_t i = 0;
  std::uint64_t bits = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    bits |= word;
  }
  for (; i < size; ++i)
    bits |= static_cast<unsigned char>(data[i]);
  return (bits & 0x8080808080808080ull) == 0;
}

LineResult resultFor(std::u16string_view tail) {
  const std::optional<std::u16string_view> key = findUserKey(tail);
  return key ? LineResult{LineOutcome::Repaired, *key} : LineResult{LineOutcome::Unsupported, {}};
}

}  // namespace

void TailDecoder::push(char16_t unit) {
  ring_[static_cast<std::size_t>(units_ % kKept)] = unit;
  ++units_;
}

void TailDecoder::consume(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && valid_; ++i) {
    const auto byte = static_cast<std::uint8_t>(data[i]);
    if (pending_ == 0) {
      if (byte < 0x80) {
        push(byte);
        continue;
      }
      // Lead byte: sets how many continuation bytes follow and, for the second byte, the range
      // that rules out overlong forms, surrogates and code points above U+10FFFF.
      secondMin_ = 0x80;
      secondMax_ = 0xBF;
      if (byte >= 0xC2 && byte <= 0xDF) {
        pending_ = 1;
        codePoint_ = byte & 0x1Fu;
      } else if (byte >= 0xE0 && byte <= 0xEF) {
        pending_ = 2;
        codePoint_ = byte & 0x0Fu;
        if (byte == 0xE0)
          secondMin_ = 0xA0;
        if (byte == 0xED)
          secondMax_ = 0x9F;
      } else if (byte >= 0xF0 && byte <= 0xF4) {
        pending_ = 3;
        codePoint_ = byte & 0x07u;
        if (byte == 0xF0)
          secondMin_ = 0x90;
        if (byte == 0xF4)
          secondMax_ = 0x8F;
      } else {
        valid_ = false;
        break;
      }
      atSecond_ = true;
      continue;
    }
    const std::uint8_t low = atSecond_ ? secondMin_ : 0x80, high = atSecond_ ? secondMax_ : 0xBF;
    if (byte < low || byte > high) {
      valid_ = false;
      break;
    }
    atSecond_ = false;
    codePoint_ = (codePoint_ << 6) | (byte & 0x3Fu);
    if (--pending_ == 0) {
      if (codePoint_ >= 0x10000) {
        const std::uint32_t v = codePoint_ - 0x10000;
        push(static_cast<char16_t>(0xD800 + (v >> 10)));
        push(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        push(static_cast<char16_t>(codePoint_));
      }
    }
  }
}

LineResult TailDecoder::finish(bool stripCarriageReturn) {
  if (!valid_ || pending_ != 0)
    return {LineOutcome::InvalidUtf8, {}};
  std::uint64_t units = units_;
  if (stripCarriageReturn && units > 0 &&
      ring_[static_cast<std::size_t>((units - 1) % kKept)] == u'\r')
    --units;
  const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(units, MarkerOffset));
  for (std::size_t i = 0; i < keep; ++i)
    tail_[i] = ring_[static_cast<std::size_t>((units - keep + i) % kKept)];
  return resultFor(std::u16string_view(tail_.data(), keep));
}

LineResult LineRepairer::completeLine(const char* data, std::size_t size) {
  if (size > 0 && data[size - 1] == '\r')
    --size;
  if (isAscii(data, size)) {
    const std::size_t keep = std::min(size, MarkerOffset);
    for (std::size_t i = 0; i < keep; ++i) {
      asciiTail_[i] = static_cast<char16_t>(static_cast<unsigned char>(data[size - keep + i]));
    }
    return resultFor(std::u16string_view(asciiTail_.data(), keep));
  }
  decoder_.reset();
  decoder_.consume(data, size);
  // The CR is already gone. The key views the decoder's buffer, untouched until the next line.
  return decoder_.finish(false);
}

LineResult repairText(std::u16string_view text) {
  return resultFor(text);
}

std::size_t encodeUtf8(std::u16string_view units, char* out) {
  char* p = out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return static_cast<std::size_t>(p - out);
}

void appendUtf8(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 3 * units.size());
  out.resize(start + encodeUtf8(units, out.data() + start));
}

std::string_view homeLinkPrefixUtf8() {
  static const std::string prefix = [] {
    std::string s;
    appendUtf8(s, kHomeLinkPrefix);
    return s;
  }();
  return prefix;
}

}  // namespace quenvar::cli
