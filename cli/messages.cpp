#include "messages.h"

namespace quenvar::cli {
namespace {

struct Entry {
  Message id;
  std::string_view text;
};

constexpr Entry kChinese[] = {
    {Message::Usage,
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
     "  --          之后的参数都当作链接或文件\n"
     "\n"
     "语言: LANGUAGE（其中第一项）、LC_ALL、LC_MESSAGES、LANG 中第一个有值的变量是中文\n"
     "（zh、zh_CN、zh_TW.UTF-8 等）时使用中文，否则使用英文；Windows 上按 Windows 的显示语言。\n"},
    {Message::UnknownOption, "未知选项 {0}"},
    {Message::OptionNeedsScan, "--where 和 --quiet 只能与 --scan 一起使用"},
    {Message::ReadStandardInputFailed, "读取标准输入失败"},
    {Message::WriteStandardOutputFailed, "写入标准输出失败"},
    {Message::LineNotUtf8, "第 {0} 行：不是有效的 UTF-8 文本"},
    {Message::LineNotSupported, "第 {0} 行：暂不支持此链接..."},
    {Message::CannotOpen, "无法打开 {0}"},
    {Message::ReadFailed, "读取 {0} 失败"},
    {Message::OutOfMemory, "内存不足，无法记下更多的分享者"},
    {Message::ScanSummary,
     "找到 {0} 个指明分享者的链接，{1} 位分享者；{2} 个分享链接不含用户编号（/s/…、surl=），"
     "无法离线找到分享者"},
    {Message::NoSharerFound, "没有找到分享者"},
};

constexpr Entry kEnglish[] = {
    {Message::Usage,
     "Usage: quenvar-cli [LINK...]\n"
     "       quenvar-cli [-] < FILE\n"
     "       quenvar-cli --scan [--where] [--quiet] [FILE...]\n"
     "\n"
     "Repairs expired Baidu Netdisk share links into links to the sharer's home page.\n"
     "Each input gives one line on standard output: the repaired link, or an empty\n"
     "line for an input that is not supported, whose line number is then given on\n"
     "standard error.\n"
     "With no arguments, or with -, reads standard input line by line (UTF-8; the\n"
     "\\n or \\r\\n that ends a line is not part of it).\n"
     "Typed at a terminal, each line is answered as soon as it is entered; Ctrl+D\n"
     "(Ctrl+Z then Enter in a Windows console) ends input.\n"
     "Exit status: 0 when every input was repaired; 1 when any was not supported;\n"
     "2 for a usage error or a failed read or write.\n"
     "\n"
     "--scan finds in any text (web pages, posts, chat logs, resource lists) every\n"
     "sharer named by a share link (the uk= parameter of a pan.baidu.com or\n"
     "yun.baidu.com link) and writes one home link per sharer, in order of first\n"
     "appearance. It reads the files given, or standard input when there are none or\n"
     "a file is -, as UTF-8, GBK/GB18030 or UTF-16 with a byte-order mark. At the end\n"
     "it gives a summary on standard error.\n"
     "Exit status: 0 when a sharer was found; 1 when none was; 2 for a usage error, a\n"
     "failed read or write, or too little memory.\n"
     "\n"
     "  --scan      find the sharers in the text\n"
     "  --where     (with --scan) add to each line how many links named that sharer\n"
     "              and where the first was (FILE:LINE, - for standard input),\n"
     "              tab-separated\n"
     "  --quiet     (with --scan) leave out the summary\n"
     "  --help      show this help\n"
     "  --version   show the version\n"
     "  --          take every argument after it as a link or a file\n"
     "\n"
     "Language: Chinese when the first of LANGUAGE (its first entry), LC_ALL,\n"
     "LC_MESSAGES and LANG that is set names Chinese (zh, zh_CN, zh_TW.UTF-8...),\n"
     "English otherwise; on Windows, the display language of Windows.\n"},
    {Message::UnknownOption, "unknown option {0}"},
    {Message::OptionNeedsScan, "--where and --quiet go only with --scan"},
    {Message::ReadStandardInputFailed, "reading standard input failed"},
    {Message::WriteStandardOutputFailed, "writing standard output failed"},
    {Message::LineNotUtf8, "line {0}: not valid UTF-8 text"},
    {Message::LineNotSupported, "line {0}: this link is not supported yet"},
    {Message::CannotOpen, "cannot open {0}"},
    {Message::ReadFailed, "reading {0} failed"},
    {Message::OutOfMemory, "out of memory: no room to record more sharers"},
    {Message::ScanSummary,
     "{0} link(s) naming a sharer, {1} sharer(s) found; {2} share link(s) without a user key "
     "(/s/..., surl=), whose sharers cannot be found offline"},
    {Message::NoSharerFound, "no sharer found"},
};

// Looked up by position: a table must list every message once, in the order of Message.
template <std::size_t N>
constexpr bool complete(const Entry (&table)[N]) {
  if (N != kMessageCount)
    return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].id != static_cast<Message>(i))
      return false;
  }
  return true;
}
static_assert(complete(kChinese) && complete(kEnglish));

}  // namespace

std::string_view text(Language language, Message id) {
  const auto index = static_cast<std::size_t>(id);
  return (language == Language::Chinese ? kChinese : kEnglish)[index].text;
}

std::string format(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}' &&
        pattern[i + 1] >= '0' && pattern[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(pattern[i + 1] - '0');
      if (n < args.size()) {
        out += args.begin()[n];
        i += 2;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

}  // namespace quenvar::cli
