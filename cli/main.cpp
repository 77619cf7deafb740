// quenvar-cli: repairs expired share links in bulk with the same rule as the window, or finds
// every sharer named by the share links in any text.
//   quenvar-cli LINK...                        repair each argument
//   quenvar-cli [-] < FILE                     repair each line of standard input
//   quenvar-cli --scan [--where] [--quiet] [FILE...]
//                                              one home link per sharer found in the files
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "identity.h"
#include "line_repair.h"
#include "scan.h"
#include "share_link.h"
#include "stream_io.h"

namespace {

using quenvar::cli::ArgChar;
using quenvar::cli::LineOutcome;
using quenvar::cli::LineResult;
using quenvar::cli::Output;

constexpr int kAllRepaired = 0, kSomeUnsupported = 1, kUsageOrIoError = 2;
constexpr int kSharersFound = 0, kNoSharer = 1;

constexpr const char* kUsage =
    "用法: quenvar-cli [链接...]\n"
    "      quenvar-cli [-] < 文件\n"
    "      quenvar-cli --scan [--where] [--quiet] [文件...]\n"
    "\n"
    "把失效的百度网盘分享链接修复为分享者主页的链接。每个输入在标准输出上对应一行：\n"
    "修复后的链接；不支持的输入对应一个空行，并在标准错误上说明是第几行。\n"
    "没有参数或参数为 - 时，从标准输入逐行读取（UTF-8，行尾的 \\n 或 \\r\\n 不计入）。\n"
    "在终端里逐行输入时，每输入一行就给出结果；Ctrl+D（Windows 控制台中为 Ctrl+Z 再按回车）"
    "结束输入。\n"
    "退出状态: 0 全部修复成功；1 有输入不受支持；2 用法错误或读写失败。\n"
    "\n"
    "--scan 在任意文本（网页、帖子、聊天记录、资源列表）中找出分享链接（pan.baidu.com、\n"
    "yun.baidu.com 的链接中的 uk= 参数）所指的每一位分享者，按第一次出现的顺序每人输出一行\n"
    "主页链接。读取给出的文件，没有文件或文件为 - 时读取标准输入；可以是 UTF-8、GBK/GB18030\n"
    "或带 BOM 的 UTF-16 文本。结束时在标准错误上给出统计。\n"
    "退出状态: 0 找到了分享者；1 没有找到；2 用法错误、读写失败或内存不足。\n"
    "\n"
    "  --scan      在文本中查找分享者\n"
    "  --where     （与 --scan 一起）在每行后加上指向该分享者的链接数和第一次出现的位置\n"
    "              （文件:行，标准输入为 -），以制表符分隔\n"
    "  --quiet     （与 --scan 一起）不输出统计\n"
    "  --help      显示本帮助\n"
    "  --version   显示版本\n"
    "  --          之后的参数都当作链接或文件\n";

std::string utf8(std::u16string_view text) {
  std::string s;
  quenvar::cli::appendUtf8(s, text);
  return s;
}

// Repairs each input (an argument or a line of standard input) and writes one line for it.
class Batch {
 public:
  Batch(Output& out, Output& err) : out_(out), err_(err) {}

  void report(const LineResult& result) {
    ++line_;
    if (result.outcome != LineOutcome::Repaired) {
      reportNotRepaired(result.outcome);
      return;
    }
    // Fixed-size copies: the key goes in sixteen-byte halves and only its length counts.
    constexpr std::string_view prefix = quenvar::cli::homeLinkPrefixUtf8();
    char* p = out_.room(prefix.size() + quenvar::cli::kKeyRoom + 1);
    std::memcpy(p, prefix.data(), prefix.size());
    std::memcpy(p + prefix.size(), result.keyBytes.data(), 16);
    if (result.keyLength > 16)
      std::memcpy(p + prefix.size() + 16, result.keyBytes.data() + 16, 16);
    p[prefix.size() + result.keyLength] = '\n';
    out_.commit(prefix.size() + result.keyLength + 1);
    out_.lineDone();
  }

  // A failed read is reported at the end; every line read before it has been answered. Nothing
  // more is read once the output cannot be written.
  void readStandardInput() {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [this](const LineResult& r) { report(r); };
    const quenvar::cli::ReadEnd end = quenvar::cli::readAll(
        *quenvar::cli::standardInput(),
        [&](const char* data, std::size_t size) {
          repairer.feed(data, size, onLine);
          return !out_.readerGone() && out_.ok();
        },
        [this] {
          out_.flush();
          err_.flush();
        });
    if (end == quenvar::cli::ReadEnd::Ended)
      repairer.finish(onLine);
    else if (end == quenvar::cli::ReadEnd::Failed)
      readFailed_ = true;
  }

  int finish() {
    const bool written = out_.flush();
    if (out_.closed())
      quenvar::cli::endForClosedOutput();
    if (readFailed_)
      err_.append("quenvar-cli: 读取标准输入失败\n");
    if (!written)
      err_.append("quenvar-cli: 写入标准输出失败\n");
    err_.flush();
    if (readFailed_ || !written)
      return kUsageOrIoError;
    return allRepaired_ ? kAllRepaired : kSomeUnsupported;
  }

 private:
  // An empty line keeps the output in step with the input; standard error says why.
  [[gnu::noinline]] void reportNotRepaired(LineOutcome outcome) {
    allRepaired_ = false;
    out_.append("\n");
    // Both on one screen: the line goes first, so the message stands next to it.
    if (out_.toConsole() && err_.toConsole())
      out_.flush();
    out_.lineDone();
    err_.append("quenvar-cli: 第 " + std::to_string(line_) + " 行：" +
                (outcome == LineOutcome::InvalidUtf8 ? std::string("不是有效的 UTF-8 文本")
                                                     : unsupportedMessage_) +
                "\n");
    err_.lineDone();
  }

  Output &out_, &err_;
  const std::string unsupportedMessage_ = utf8(quenvar::kUnsupportedMessage);
  std::uint64_t line_ = 0;
  bool allRepaired_ = true;
  bool readFailed_ = false;
};

// Finds the sharers named in the inputs and writes each one's home link once, in order of first
// appearance; with --where, at the end, with how many links named each and where the first was.
class Scan {
 public:
  Scan(Output& out, Output& err, bool where, bool quiet)
      : out_(out), err_(err), where_(where), quiet_(quiet) {}

  // `path` null for standard input.
  void read(const ArgChar* path, std::string name) {
    names_.push_back(std::move(name));
    const std::string& shown = names_.back();
    const std::unique_ptr<quenvar::cli::Source> source =
        path ? quenvar::cli::openFile(path) : quenvar::cli::standardInput();
    if (!source) {
      fail("无法打开 " + shown);
      return;
    }
    quenvar::cli::LinkScanner scanner;
    const std::size_t input = names_.size() - 1;
    auto onLink = [this, input](std::string_view key, std::uint64_t line) {
      table_.add(key, input, line);
    };
    const quenvar::cli::ReadEnd end = quenvar::cli::readAll(
        *source,
        [&](const char* data, std::size_t size) {
          scanner.feed(data, size, onLink);
          writeNewSharers();
          return !out_.readerGone() && out_.ok();
        },
        [this] { out_.flush(); });
    if (end == quenvar::cli::ReadEnd::Ended)
      scanner.finish(onLink);
    else if (end == quenvar::cli::ReadEnd::Failed)
      fail("读取 " + shown + " 失败");
    table_.addKeyless(scanner.keylessLinks());
    writeNewSharers();
  }

  // The distinct sharers are kept in memory. When it runs out, what was found is still written.
  int outOfMemory() {
    write(table_.sharersCounted());
    if (out_.closed())
      quenvar::cli::endForClosedOutput();
    if (!out_.flush())
      err_.append("quenvar-cli: 写入标准输出失败\n");
    err_.append("quenvar-cli: 内存不足，无法记下更多的分享者\n");
    err_.flush();
    return kUsageOrIoError;
  }

  int finish() {
    write(table_.sharers());
    if (!out_.flush()) {
      if (out_.closed())
        quenvar::cli::endForClosedOutput();
      fail("写入标准输出失败");
    }
    if (!quiet_) {
      err_.append("quenvar-cli: 找到 " + std::to_string(table_.links()) + " 个指明分享者的链接，" +
                  std::to_string(table_.sharers().size()) + " 位分享者；" +
                  std::to_string(table_.keylessLinks()) +
                  " 个分享链接不含用户编号（/s/…、surl=），无法离线找到分享者\n");
    }
    err_.flush();
    if (failed_)
      return kUsageOrIoError;
    return table_.sharers().empty() ? kNoSharer : kSharersFound;
  }

 private:
  // Without --where each sharer is written once the chunk that names it first has been read.
  void writeNewSharers() {
    if (!where_)
      write(table_.sharers());
  }

  // The sharers not written yet, piece by piece: with the counts known it needs no memory, so it
  // also writes what was found once memory has run out.
  void write(const std::vector<quenvar::cli::SharerTable::Sharer>& sharers) {
    for (; written_ < sharers.size(); ++written_) {
      const auto& sharer = sharers[written_];
      out_.append(quenvar::cli::homeLinkPrefixUtf8());
      out_.append(sharer.key);
      if (where_) {
        out_.append("\t");
        out_.append(std::to_string(sharer.links));  // short enough to need no allocation
        out_.append("\t");
        out_.append(names_[sharer.input]);
        out_.append(":");
        out_.append(std::to_string(sharer.line));
      }
      out_.append("\n");
      out_.lineDone();
    }
  }

  void fail(const std::string& what) {
    failed_ = true;
    err_.append("quenvar-cli: " + what + "\n");
    err_.lineDone();
  }

  Output &out_, &err_;
  const bool where_, quiet_;
  quenvar::cli::SharerTable table_;
  std::vector<std::string> names_;  // of the inputs, as --where shows them
  std::size_t written_ = 0;         // sharers written so far
  bool failed_ = false;
};

// Command-line arguments as the platform gives them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
std::u16string_view units(const wchar_t* arg) {
  return {reinterpret_cast<const char16_t*>(arg), std::wcslen(arg)};
}
LineResult repairArgument(const wchar_t* arg) {
  return quenvar::cli::repairUtf16(units(arg));
}
std::string narrow(const wchar_t* arg) {
  return utf8(units(arg));
}
#else
LineResult repairArgument(const char* arg) {
  return quenvar::cli::repairBytes(arg);
}
std::string narrow(const char* arg) {
  return arg;
}
#endif

// --help and --version: a closed pipe ends quietly, any other failure shows in the status.
int finishText(Output& out) {
  if (out.flush())
    return kAllRepaired;
  if (out.closed())
    quenvar::cli::endForClosedOutput();
  return kUsageOrIoError;
}

int run(int argc, ArgChar** argv) {
  Output out(1), err(2);
  std::vector<const ArgChar*> inputs;
  bool optionsEnded = false, scan = false, where = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = narrow(argv[i]);
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      inputs.push_back(argv[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      out.append(kUsage);
      return finishText(out);
    } else if (arg == "--version") {
      out.append("quenvar-cli " QUENVAR_VERSION_STRING "\n");
      return finishText(out);
    } else if (arg == "--scan" || arg == "--where" || arg == "--quiet") {
      (arg == "--scan" ? scan : arg == "--where" ? where : quiet) = true;
    } else {
      err.append("quenvar-cli: 未知选项 " + arg + "\n" + kUsage);
      err.flush();
      return kUsageOrIoError;
    }
  }
  if ((where || quiet) && !scan) {
    err.append("quenvar-cli: --where 和 --quiet 只能与 --scan 一起使用\n");
    err.flush();
    return kUsageOrIoError;
  }

  if (scan) {
    Scan scanning(out, err, where, quiet);
    try {
      if (inputs.empty())
        scanning.read(nullptr, "-");
      for (const ArgChar* input : inputs) {
        if (!out.ok())
          break;
        const std::string name = narrow(input);
        scanning.read(name == "-" ? nullptr : input, name);
      }
      return scanning.finish();
    } catch (const std::bad_alloc&) {
      return scanning.outOfMemory();
    }
  }
  Batch batch(out, err);
  if (inputs.empty())
    batch.readStandardInput();
  for (const ArgChar* argument : inputs) {
    if (!out.ok())
      break;
    if (narrow(argument) == "-")
      batch.readStandardInput();
    else
      batch.report(repairArgument(argument));
  }
  return batch.finish();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return run(argc, argv);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
