// The command line's input and output, one kind of each per platform, so that the read loop and
// what the modes do with the text are written once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "messages.h"

namespace quenvar::cli {

#ifdef _WIN32
using ArgChar = wchar_t;  // arguments as the platform gives them
#else
using ArgChar = char;
#endif

// Where text comes from: a file, a pipe, a terminal or a Windows console, always as UTF-8 bytes
// (a console's UTF-16 is converted).
class Source {
 public:
  virtual ~Source() = default;
  // Up to `size` bytes into `data`: how many (0 at the end of input), or nullopt when the read
  // failed.
  virtual std::optional<std::size_t> read(char* data, std::size_t size) = 0;
  // A regular file may lend its next bytes in place instead, up to `size` of them, valid until
  // the next call: empty at its end, nullopt where it cannot (then read() goes on from there).
  virtual std::optional<std::string_view> lend(std::size_t /*size*/) { return std::nullopt; }
  // Typed by a person: what each line gives is written as soon as the line is entered.
  bool interactive = false;
};

std::unique_ptr<Source> standardInput();
// A file named on the command line, or null when it cannot be opened.
std::unique_ptr<Source> openFile(const ArgChar* path);

enum class ReadEnd { Ended, Failed, Stopped };

// Gives every chunk of the source to `take`, and calls `answered` after each one read from a
// person. `take` returns false to read no further (Stopped); Failed when a read failed, after
// every chunk before it has been given.
ReadEnd readAll(Source& source, const std::function<bool(const char*, std::size_t)>& take,
                const std::function<void()>& answered);

// Ends the program as one whose reader went away: quietly, as by SIGPIPE (status 141 in a shell).
[[noreturn]] void endForClosedOutput();

// Buffered UTF-8 text for standard output (1) or standard error (2). To a terminal or console it
// goes out line by line; a Windows console is given UTF-16, so Chinese reads correctly whatever
// its code page.
class Output {
 public:
  explicit Output(int which);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  bool toConsole() const { return console_; }

  // Room for `size` bytes (at most the 64 KiB buffer) at the end, counted once commit() is called.
  char* room(std::size_t size) {
    if (kCapacity - size_ < size)
      write();
    return data_.get() + size_;
  }
  void commit(std::size_t size) { size_ += size; }
  void append(std::string_view text) {
    while (!text.empty()) {
      if (size_ == kCapacity)
        write();
      const std::size_t part = std::min(text.size(), kCapacity - size_);
      std::memcpy(data_.get() + size_, text.data(), part);
      size_ += part;
      text.remove_prefix(part);
    }
  }
  // Called at line ends, so a write to a console splits no character.
  void lineDone() {
    if (console_)
      write();
  }
  // False once any write has failed.
  bool flush() {
    write();
    return state_ == State::Ok;
  }
  bool ok() const { return state_ == State::Ok; }
  // Whether the reader of a pipe went away, on Linux also while nothing is written (a scan that
  // finds only sharers it has already written); then closed() holds too.
  bool readerGone();
  // The reader went away (a closed pipe): not an error to report, but nothing more will be read.
  bool closed() const { return state_ == State::Closed; }

 private:
  static constexpr std::size_t kCapacity = 1u << 16;
  void write();

  std::intptr_t stream_;  // a HANDLE on Windows, a file descriptor elsewhere
  bool console_;
  bool pipe_ = false;
  std::unique_ptr<char[]> data_;
  // A console takes UTF-16; converted here, so that writing never needs memory it may not get.
  std::unique_ptr<wchar_t[]> wide_;
  std::size_t size_ = 0;
  enum class State : std::uint8_t { Ok, Closed, Failed } state_ = State::Ok;
};

// The language of the messages: on Windows the user's display language, elsewhere the locale
// variables (language_choice.h).
Language userLanguage();

}  // namespace quenvar::cli
