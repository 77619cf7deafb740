#include "stream_io.h"

#include <string>
#include <vector>

#include "console_text.h"
#include "language_choice.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quenvar::cli {
namespace {

#ifdef _WIN32
HANDLE handleOf(std::intptr_t stream) {
  return reinterpret_cast<HANDLE>(stream);
}
bool isConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != FALSE;
}

class FileSource : public Source {
 public:
  explicit FileSource(HANDLE h, bool owned) : handle_(h), owned_(owned) {}
  ~FileSource() override {
    if (owned_)
      CloseHandle(handle_);
  }
  std::optional<std::size_t> read(char* data, std::size_t size) override {
    DWORD got = 0;
    if (!ReadFile(handle_, data, static_cast<DWORD>(size), &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE)
        return 0;  // the writing end has closed
      return std::nullopt;
    }
    return got;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

// A console gives UTF-16, and Ctrl+Z ends its input.
class ConsoleSource : public Source {
 public:
  explicit ConsoleSource(HANDLE h) : handle_(h) { interactive = true; }
  std::optional<std::size_t> read(char* data, std::size_t size) override {
    while (pending_.size() == taken_ && !ended_) {
      DWORD got = 0;
      if (!ReadConsoleW(handle_, wide_.data(), static_cast<DWORD>(wide_.size()), &got, nullptr))
        return std::nullopt;
      pending_.clear();
      taken_ = 0;
      if (got == 0) {
        text_.finish(pending_);
        ended_ = true;
      } else {
        ended_ = text_.append({reinterpret_cast<const char16_t*>(wide_.data()), got}, pending_);
      }
    }
    const std::size_t n = std::min(size, pending_.size() - taken_);
    std::memcpy(data, pending_.data() + taken_, n);
    taken_ += n;
    return n;
  }

 private:
  HANDLE handle_;
  std::vector<wchar_t> wide_ = std::vector<wchar_t>(4096);
  ConsoleText text_;
  std::string pending_;  // converted text not yet read
  std::size_t taken_ = 0;
  bool ended_ = false;
};
#else
class FdSource : public Source {
 public:
  explicit FdSource(int fd, bool owned) : fd_(fd), owned_(owned) { interactive = isatty(fd) != 0; }
  ~FdSource() override {
    if (owned_)
      close(fd_);
  }
  std::optional<std::size_t> read(char* data, std::size_t size) override {
    for (;;) {
      const ssize_t got = ::read(fd_, data, size);
      if (got >= 0)
        return static_cast<std::size_t>(got);
      if (errno != EINTR)
        return std::nullopt;
    }
  }

 private:
  int fd_;
  bool owned_;
};
#endif

}  // namespace

std::unique_ptr<Source> standardInput() {
#ifdef _WIN32
  const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  if (isConsole(h))
    return std::make_unique<ConsoleSource>(h);
  return std::make_unique<FileSource>(h, false);
#else
  return std::make_unique<FdSource>(0, false);
#endif
}

std::unique_ptr<Source> openFile(const ArgChar* path) {
#ifdef _WIN32
  const HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return nullptr;
  return std::make_unique<FileSource>(h, true);
#else
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return std::make_unique<FdSource>(fd, true);
#endif
}

bool readAll(Source& source, const std::function<void(const char*, std::size_t)>& take,
             const std::function<void()>& answered) {
  std::vector<char> chunk(1u << 17);
  for (;;) {
    const std::optional<std::size_t> got = source.read(chunk.data(), chunk.size());
    if (!got)
      return false;
    if (*got == 0)
      return true;
    take(chunk.data(), *got);
    if (source.interactive)
      answered();
  }
}

Output::Output(int which) : data_(std::make_unique<char[]>(kCapacity)) {
#ifdef _WIN32
  const HANDLE h = GetStdHandle(which == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  stream_ = reinterpret_cast<std::intptr_t>(h);
  console_ = isConsole(h);
  if (console_)
    wide_ = std::make_unique<wchar_t[]>(kCapacity);
#else
  stream_ = which;
  console_ = isatty(which) != 0;
#endif
}

Output::~Output() = default;

void Output::write() {
  if (size_ == 0)
    return;
#ifdef _WIN32
  const HANDLE h = handleOf(stream_);
  if (console_) {
    // UTF-8 never takes fewer units than UTF-16.
    const int length = MultiByteToWideChar(CP_UTF8, 0, data_.get(), static_cast<int>(size_),
                                           wide_.get(), static_cast<int>(kCapacity));
    DWORD written = 0;
    ok_ = ok_ && WriteConsoleW(h, wide_.get(), static_cast<DWORD>(length), &written, nullptr);
    size_ = 0;
    return;
  }
  for (const char* p = data_.get(); ok_ && p < data_.get() + size_;) {
    DWORD written = 0;
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(data_.get() + size_ - p, 1u << 30));
    ok_ = WriteFile(h, p, part, &written, nullptr) && written > 0;
    p += written;
  }
#else
  for (const char* p = data_.get(); ok_ && p < data_.get() + size_;) {
    const ssize_t written =
        ::write(static_cast<int>(stream_), p, static_cast<std::size_t>(data_.get() + size_ - p));
    if (written < 0 && errno == EINTR)
      continue;
    ok_ = written > 0;
    p += ok_ ? written : 0;
  }
#endif
  size_ = 0;
}

Language userLanguage() {
#ifdef _WIN32
  return languageOfWindowsUi(GetUserDefaultUILanguage());
#else
  return languageOfLocale({.language = std::getenv("LANGUAGE"),
                           .lcAll = std::getenv("LC_ALL"),
                           .lcMessages = std::getenv("LC_MESSAGES"),
                           .lang = std::getenv("LANG")});
#endif
}

}  // namespace quenvar::cli
