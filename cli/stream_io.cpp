#include "stream_io.h"

#include <string>
#include <vector>

#include "console_text.h"
#include "language_choice.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
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
// A file cut short while a window of it is mapped (a log truncated in place) raises SIGBUS where
// the lost pages are read: they are mapped again as zeros, and the read is reported as failed.
struct MappedWindow {
  std::atomic<std::uintptr_t> begin{0}, end{0};
  std::uintptr_t page = 4096;
  volatile std::sig_atomic_t cut = 0;
};
MappedWindow window;

void onBusError(int signal, siginfo_t* info, void*) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const std::uintptr_t begin = window.begin, end = window.end;
  if (at >= begin && at < end) {
    const std::uintptr_t from = at - at % window.page;
    if (mmap(reinterpret_cast<void*>(from), end - from, PROT_READ,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      window.cut = 1;
      return;
    }
  }
  // Not ours: the fault repeats, now fatal.
  std::signal(signal, SIG_DFL);
}

void guardMappedWindows() {
  static const bool guarded = [] {
    window.page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  (void)guarded;
}

class FdSource : public Source {
 public:
  explicit FdSource(int fd, bool owned) : fd_(fd), owned_(owned) { interactive = isatty(fd) != 0; }
  ~FdSource() override {
    unmap();
    if (owned_)
      close(fd_);
  }
  // Mapped a window at a time, so that memory stays flat: the pages of the file are read where
  // the page cache holds them, without the copy read() makes.
  std::optional<std::string_view> lend(std::size_t size) override {
    unmap();
    if (window.cut) {
      window.cut = 0;
      failed_ = true;
      return giveUp();
    }
    struct stat st;
    // A size of 0 may be a file whose size is not known (/proc): read() tells.
    if (!mappable_ || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
      return giveUp();
    guardMappedWindows();
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    if (at < 0)
      return giveUp();
    if (at >= st.st_size)
      return std::string_view();
    const off_t start = at - at % static_cast<off_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length =
        static_cast<std::size_t>(std::min<off_t>(st.st_size - start, at - start + size));
    void* p = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, start);
    if (p == MAP_FAILED)
      return giveUp();
    mapped_ = {static_cast<const char*>(p), length};
    window.begin = reinterpret_cast<std::uintptr_t>(p);
    window.end = window.begin + length;
    lseek(fd_, start + static_cast<off_t>(length), SEEK_SET);
    return mapped_.substr(static_cast<std::size_t>(at - start));
  }
  std::optional<std::size_t> read(char* data, std::size_t size) override {
    if (failed_)
      return std::nullopt;
    for (;;) {
      const ssize_t got = ::read(fd_, data, size);
      if (got >= 0)
        return static_cast<std::size_t>(got);
      if (errno != EINTR)
        return std::nullopt;
    }
  }

 private:
  std::nullopt_t giveUp() {
    mappable_ = false;
    return std::nullopt;
  }
  void unmap() {
    window.begin = window.end = 0;
    if (!mapped_.empty())
      munmap(const_cast<char*>(mapped_.data()), mapped_.size());
    mapped_ = {};
  }

  int fd_;
  bool owned_;
  bool mappable_ = true;
  bool failed_ = false;
  std::string_view mapped_;
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

ReadEnd readAll(Source& source, const std::function<bool(const char*, std::size_t)>& take,
                const std::function<void()>& answered) {
  for (;;) {
    const std::optional<std::string_view> lent = source.lend(1u << 20);
    if (!lent)
      break;
    if (lent->empty())
      return ReadEnd::Ended;
    if (!take(lent->data(), lent->size()))
      return ReadEnd::Stopped;
  }
  std::vector<char> chunk(1u << 17);
  for (;;) {
    const std::optional<std::size_t> got = source.read(chunk.data(), chunk.size());
    if (!got)
      return ReadEnd::Failed;
    if (*got == 0)
      return ReadEnd::Ended;
    if (!take(chunk.data(), *got))
      return ReadEnd::Stopped;
    if (source.interactive)
      answered();
  }
}

void endForClosedOutput() {
#ifdef _WIN32
  ExitProcess(141);
#else
  // Inherited as ignored (a service manager, a language runtime): restored, so the parent sees
  // what it would see of any program whose reader left.
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
  _exit(141);  // blocked rather than ignored
#endif
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
  struct stat status = {};
  pipe_ = fstat(which, &status) == 0 && S_ISFIFO(status.st_mode);
#endif
}

Output::~Output() = default;

bool Output::readerGone() {
#ifndef _WIN32
  // Windows tells only a write that has something to write.
  if (state_ == State::Ok && pipe_) {
    pollfd p{static_cast<int>(stream_), 0, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0)
      state_ = State::Closed;
  }
#endif
  return state_ == State::Closed;
}

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
    if (state_ == State::Ok &&
        !WriteConsoleW(h, wide_.get(), static_cast<DWORD>(length), &written, nullptr))
      state_ = State::Failed;
    size_ = 0;
    return;
  }
  for (const char* p = data_.get(); state_ == State::Ok && p < data_.get() + size_;) {
    DWORD written = 0;
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(data_.get() + size_ - p, 1u << 30));
    if (!WriteFile(h, p, part, &written, nullptr) || written == 0) {
      // A pipe whose reader has gone: ERROR_NO_DATA on Windows, ERROR_PIPE_NOT_CONNECTED
      // under Wine.
      const DWORD error = GetLastError();
      state_ =
          error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED
              ? State::Closed
              : State::Failed;
    }
    p += written;
  }
#else
  for (const char* p = data_.get(); state_ == State::Ok && p < data_.get() + size_;) {
    const ssize_t written =
        ::write(static_cast<int>(stream_), p, static_cast<std::size_t>(data_.get() + size_ - p));
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      state_ = written < 0 && errno == EPIPE ? State::Closed : State::Failed;
    else
      p += written;
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
