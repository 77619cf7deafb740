// Finds the sharers named by share links in arbitrary text (forum threads, chat exports, saved
// pages, link lists), read in pieces of any size, in constant memory and at several GB/s: a
// block scan skips to the rare places where the host names' common part is spelt, and only the
// links found there are read character by character.
//
// A link begins at one of kHostNames (any case, its prefix allowed, any scheme or none) followed
// by '/' or '?', where no host-name character comes just before (a letter or digit after a byte
// of 0x81 or more ends a GBK character and counts as none), and runs over URL characters (RFC
// 3986's without ' ( ) [ ]) up to the next such host name; punctuation at its end
// (. , ; : ! ? * _ ~) is not part of it. Its first query parameter uk of 1 to 20 digits is its
// sharer; without one, a path that begins /s/ or a parameter surl makes it a keyless share link.
// &amp; &#38; \u0026 \/ and the percent escapes of ? & = / : # are read as those characters, and
// UTF-16 with a byte-order mark as its ASCII. A percent escape of a character that ends a key in
// plain text (one outside a URL's, or that punctuation) ends the key as that character would. An
// escape may be percent-encoded again (%253F, %2522): a link whose host name is followed by such
// a '/' or '?' reads those as the characters too; others read them as written, except that they
// end a key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar::cli {

// The longest user key taken from a link, in digits.
inline constexpr std::size_t kMaxUserKeyDigits = 20;

// The hosts of share links, each with what may be written before it. Every name must share a run
// of letters with the others: the block scan looks for that.
struct HostName {
  std::string_view name;
  std::string_view prefix;
};
inline constexpr HostName kHostNames[] = {
    {"pan.baidu.com", "www."},
    {"yun.baidu.com", "www."},
};

// One input, from its first byte to its end. A new input needs a new scanner.
class LinkScanner {
 public:
  // Calls onLink(std::string_view key, std::uint64_t line) for each link in the piece that names
  // a sharer; a link that runs on past the piece is reported by a later call.
  template <typename OnLink>
  void feed(const char* data, std::size_t size, OnLink&& onLink) {
    sink_ = LinkSink(onLink);
    feed(reinterpret_cast<const unsigned char*>(data), size);
  }
  // Ends the input: reports a link that ran to its last byte.
  template <typename OnLink>
  void finish(OnLink&& onLink) {
    sink_ = LinkSink(onLink);
    finish();
  }
  // Share links that name no sharer, so far.
  std::uint64_t keylessLinks() const { return keyless_; }

 private:
  // The caller's callback for the length of one call.
  class LinkSink {
   public:
    LinkSink() = default;
    template <typename F>
    explicit LinkSink(F& f)
        : target_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* target, std::string_view key, std::uint64_t line) {
            (*static_cast<F*>(target))(key, line);
          }) {}
    void operator()(std::string_view key, std::uint64_t line) const { call_(target_, key, line); }

   private:
    void* target_ = nullptr;
    void (*call_)(void*, std::string_view, std::uint64_t) = nullptr;
  };

  enum class Encoding : std::uint8_t { Undecided, Bytes, Utf16Le, Utf16Be };
  enum class Part : std::uint8_t { Path, Query, Fragment };

  void feed(const unsigned char* data, std::size_t size);
  void finish();
  void feedUtf16(const unsigned char* data, std::size_t size);
  void scanBytes(const unsigned char* data, std::size_t size);
  void scan(const unsigned char* data, std::size_t from, std::size_t to);
  std::size_t readLink(const unsigned char* data, std::size_t at, std::size_t end);
  std::uint8_t quietClass() const;

  void startLink(bool twice);
  void linkChar(int c);
  void queryChar(int c);
  void startParameter();
  void endParameter(bool linkEnds);
  void endLink();

  LinkSink sink_;

  // The byte-order mark, or the first bytes while they might still begin one.
  Encoding encoding_ = Encoding::Undecided;
  std::array<unsigned char, 3> start_{};
  std::uint8_t startLength_ = 0;
  bool oddByteHeld_ = false;  // UTF-16: the first byte of a unit split between pieces
  unsigned char oddByte_ = 0;

  // The last bytes so far: a place is read once the bytes around it have come, so the end of
  // each piece is read with the start of the next. Zeros stand for the start and the end of the
  // input.
  static constexpr std::size_t kOverlap = 40;
  std::array<unsigned char, kOverlap> carry_{};
  std::size_t overrun_ = 0;  // how far the last read went past its end, into a host name or escape
  std::size_t counted_ = 0;  // newlines are counted up to here, in the piece being read
  std::uint64_t line_ = 1;   // the line at counted_
  std::uint64_t keyless_ = 0;

  // The link being read, as far as it decides the link's outcome.
  struct Link {
    Part part = Part::Path;
    bool twice = false;           // twice-encoded escapes are read as their characters
    std::uint8_t pathLength = 0;  // up to 3: enough to tell "/s/"
    bool sharePath = true;        // the path so far matches the start of "/s/"
    bool surl = false;
    bool hasKey = false;  // key_ holds the first user key
    // The current query parameter. A name is kept to 4 bytes, its length up to 5: no longer
    // name matters. The "end" lengths leave out trailing punctuation.
    bool inName = false;
    std::uint8_t nameLength = 0, nameEnd = 0;
    std::array<unsigned char, 4> name{};
    bool inUserKey = false;
    bool valueDigits = false;  // at most kMaxUserKeyDigits digits, then perhaps punctuation
    bool valueTail = false;    // punctuation after the digits
    std::uint8_t valueLength = 0;
  };
  bool inLink_ = false;
  std::uint64_t linkLine_ = 0;
  Link link_;
  // The digits of the current value, and the first key.
  std::array<char, kMaxUserKeyDigits> value_{};
  std::array<char, kMaxUserKeyDigits> key_{};
  std::uint8_t keyLength_ = 0;
};

// The sharers found across all inputs, in order of first appearance; keys compare as written.
class SharerTable {
 public:
  // One cache line each: a repeated key is checked and counted with one read from memory.
  struct alignas(64) Sharer {
    std::string key;
    std::uint64_t links = 0;  // links that name this sharer
    std::size_t input = 0;    // where the first was found
    std::uint64_t line = 0;
  };

  // A link naming `key`, found at `line` of input number `input`.
  void add(std::string_view key, std::size_t input, std::uint64_t line);
  void addKeyless(std::uint64_t links) { keyless_ += links; }

  // Valid until the next add.
  const std::vector<Sharer>& sharers() const;
  // Once memory has run out: the sharers counted so far, with the links still waiting that name
  // one of them. Allocates nothing; links naming a new sharer are dropped.
  const std::vector<Sharer>& sharersCounted() const;
  std::uint64_t links() const { return links_; }
  std::uint64_t keylessLinks() const { return keyless_; }

 private:
  // A link that waits to be counted with a few others, so that the reads from memory for their
  // lookups overlap: with the input streaming through the caches, each would otherwise wait for
  // its own.
  struct Waiting {
    std::array<char, kMaxUserKeyDigits> key;
    std::uint8_t length;
    std::size_t input;
    std::uint64_t line;
    std::uint64_t hash;
  };

  static std::uint64_t hash(std::string_view key);
  void settle() const;
  void count(std::string_view key, std::uint64_t hash, std::size_t input, std::uint64_t line) const;
  std::size_t slotOf(std::string_view key, std::uint64_t hash) const;
  void grow() const;
  static std::size_t index(std::uint64_t slot) {
    return static_cast<std::size_t>(slot & 0xFFFFFFFFu) - 1;
  }
  static constexpr std::uint64_t kTagBits = 0xFFFFFFFF00000000ull;

  // What waits is counted before anything is read, so the table stays logically const.
  mutable std::vector<Sharer> sharers_;
  // Open addressing over a small array: each slot holds the upper half of a key's hash and its
  // index in sharers_ plus one, 0 when empty.
  mutable std::vector<std::uint64_t> slots_;
  mutable std::array<Waiting, 32> waiting_;
  mutable std::size_t waitingCount_ = 0;
  std::uint64_t links_ = 0;
  std::uint64_t keyless_ = 0;
};

}  // namespace quenvar::cli
