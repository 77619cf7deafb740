#!/usr/bin/env bash
# Throughput of `quenvar-cli --scan` on two 100 MiB corpora, forum-like HTML and Chinese prose,
# against `cat` of the same file (the floor) and against `grep -oE` and `rg -o` with a pattern for
# the same links, run round by round over both corpora in one run; medians, with the machine's
# load before and after.
#   tools/bench-scan.sh [ROUNDS] [PROGRAM]   (default 7 rounds; the optimised build's quenvar-cli)
# PROGRAM is run as `PROGRAM --scan < corpus`. Needs ripgrep (Debian: apt-get install ripgrep).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
rounds=${1:-7}
command -v rg >/dev/null || { echo "bench-scan: needs rg (apt-get install ripgrep)" >&2; exit 1; }
if [[ $# -ge 2 ]]; then
  program=$2
else
  tools/bootstrap.sh
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/bench --target quenvar-cli >/dev/null
  program=build/bench/cli/quenvar-cli
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What both generators draw from: a word, a key (written in order to the file named by keys),
# a code of letters and digits.
common_awk='function word() { return words[int(rand() * nwords) + 1] }
function key(   k) {
  k = int(rand() * 5000)
  k = k < 4000 ? 1000000000 + k * 7919 : k * 13
  print k >keys
  return k
}
function code(n,   s, i) {
  s = ""
  for (i = 0; i < n; i++) s = s substr(alnum, int(rand() * 62) + 1, 1)
  return s
}
'

# Posts of about 2 KB: markup, Chinese text in UTF-8, and one or two links each in the forms
# found in saved pages and exports (plain, &amp;, JSON's \/ and \u0026, percent-encoded in a
# redirect, other hosts and cases, BBCode), many without a key (/s/..., surl=), and other Baidu
# addresses that are not share links. Deterministic: awk's generator with a fixed seed. The keys
# written go in order to the file named by the first argument, to check the program against.
forum() {
  LC_ALL=C awk -v size_mb=100 -v keys="$1" "$common_awk"'
function text(n,   s, i) {
  s = ""
  for (i = 0; i < n; i++) s = s word() (rand() < 0.1 ? "，" : "")
  return s
}
BEGIN {
  srand(11)
  nwords = split("分享 资源 下载 链接 失效 补档 网盘 求 谢谢 楼主 好人 一生 平安 电影 合集 高清 " \
                 "无水印 密码 提取码 更新 第 季 全集 教程 软件 绿色版 学习 资料 考研 英语 数学 百度 " \
                 "云盘 收藏 转载 原帖 回复 顶 沙发 已阅", words, " ")
  alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
  for (post = 1; written < size_mb * 1048576; post++) {
    s = sprintf("<div class=\"post\" id=\"post-%d\">\n<div class=\"author\"><a href=\"/space/uid-%d.html\" " \
                "class=\"xw1\">%s%s</a> 发表于 2013-%02d-%02d %02d:%02d</div>\n", post,
                int(rand() * 900000), word(), word(), int(rand() * 12) + 1, int(rand() * 28) + 1,
                int(rand() * 24), int(rand() * 60))
    s = s "<table cellspacing=\"0\" cellpadding=\"0\"><tr><td class=\"t_f\" id=\"postmessage_" post "\">\n" \
        text(80) "<br />\n" text(80) "<br />\n"
    f = post % 12
    sh = int(rand() * 1e9)
    if (f == 0) {
      k = key()
      l = sprintf("<a href=\"https://pan.baidu.com/share/link?shareid=%d&amp;uk=%d\" target=\"_blank\">" \
                  "https://pan.baidu.com/share/link?shareid=%d&amp;uk=%d</a>", sh, k, sh, k)
      print k >keys
    } else if (f == 1) {
      l = sprintf("链接：https://pan.baidu.com/share/link?shareid=%d&uk=%d 密码：%s", sh, key(), code(4))
    } else if (f == 2) {
      l = sprintf("<script>var data = {\"title\":\"%s\",\"url\":\"https:\\/\\/pan.baidu.com\\/share\\/link?" \
                  "shareid=%d\\u0026uk=%d\"};</script>", word(), sh, key())
    } else if (f == 3) {
      l = sprintf("<a href=\"https://www.baidu.com/link?url=https%%3A%%2F%%2Fpan.baidu.com%%2Fshare%%2Flink" \
                  "%%3Fshareid%%3D%d%%26uk%%3D%d\">%s</a>", sh, key(), word())
    } else if (f == 4) {
      l = sprintf("http://yun.baidu.com/share/home?uk=%d&view=share#category/type=0", key())
    } else if (f == 5) {
      l = sprintf("[url=HTTP://PAN.BAIDU.COM/share/home?uk=%d]%s[/url]", key(), word())
    } else if (f == 6) {
      l = sprintf("www.pan.baidu.com/share/link?uk=%d&shareid=%d", key(), sh)
    } else if (f == 7) {
      l = sprintf("<a href='"'"'//pan.baidu.com/wap/share/home?uk=%d&third=0'"'"'>%s</a>", key(), word())
    } else if (f == 8 || f == 9) {
      c = code(22)
      l = sprintf("<a href=\"https://pan.baidu.com/s/1%s\" target=\"_blank\">https://pan.baidu.com/s/1%s</a> " \
                  "提取码: %s", c, c, code(4))
    } else if (f == 10) {
      l = sprintf("https://pan.baidu.com/share/init?surl=%s 提取码：%s", code(22), code(4))
    } else {
      l = sprintf("pan.baidu.com/s/1%s?pwd=%s", code(22), code(4))
    }
    s = s l "<br />\n" text(60) "\n</td></tr></table>\n"
    s = s sprintf("<div class=\"sign\">%s <a href=\"https://tieba.baidu.com/p/%d\">tieba.baidu.com/p/%d</a></div>\n",
                  text(8), sh, sh)
    s = s "<script src=\"https://hm.baidu.com/hm.js?" code(32) "\"></script>\n</div>\n"
    printf "%s", s
    written += length(s)
  }
}'
}

# Chinese prose: lines of 1 to 4 KB in UTF-8, almost no ASCII, one link in each, at a random
# place, in the same mix of forms; its keys as above.
chinese() {
  LC_ALL=C awk -v size_mb=100 -v keys="$1" "$common_awk"'
function link(f,   sh) {
  sh = int(rand() * 1e9)
  if (f == 0) return sprintf("链接：https://pan.baidu.com/share/link?shareid=%d&uk=%d 提取码：%s", sh, key(), code(4))
  if (f == 1) return sprintf("<a href=\"https://pan.baidu.com/share/link?shareid=%d&amp;uk=%d\">下载</a>", sh, key())
  if (f == 2) return sprintf("{\"url\":\"https:\\/\\/yun.baidu.com\\/share\\/link?shareid=%d\\u0026uk=%d\"}", sh, key())
  if (f == 3) return sprintf("https://www.baidu.com/link?url=https%%3A%%2F%%2Fpan.baidu.com%%2Fshare%%2Flink%%3Fshareid%%3D%d%%26uk%%3D%d", sh, key())
  if (f == 4) return sprintf("网盘地址pan.baidu.com/share/home?uk=%d，", key())
  if (f == 5) return sprintf("[url=HTTP://WWW.PAN.BAIDU.COM/share/home?uk=%d]主页[/url]", key())
  if (f == 6) return sprintf("（https://pan.baidu.com/s/1%s 密码：%s）", code(22), code(4))
  return sprintf("https://pan.baidu.com/share/init?surl=%s。", code(22))
}
BEGIN {
  srand(13)
  nwords = split("我们 这个 时候 已经 因为 所以 但是 如果 可以 没有 一个 什么 自己 知道 现在 " \
                 "他们 觉得 事情 地方 问题 大家 还是 不是 看到 出来 起来 这样 那些 非常 其实 " \
                 "今天 明天 朋友 工作 生活 时间 世界 学校 老师 学生 文章 故事 城市 山水 春天 " \
                 "的 了 在 是 和 也 就 都 而 及 与 着 或 一 不 很 到 说 要 去 会 着 看 好 人", words, " ")
  alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
  for (n = 0; written < size_mb * 1048576; n++) {
    target = 1024 + int(rand() * 3072)
    at = int(rand() * target)
    s = ""
    placed = 0
    while (length(s) < target) {
      if (!placed && length(s) >= at) { s = s link(n % 8); placed = 1 }
      r = rand()
      s = s word() (r < 0.08 ? "，" : r < 0.11 ? "。" : r < 0.115 ? "、" : "")
    }
    if (!placed) s = s link(n % 8)
    print s
    written += length(s) + 1
  }
}'
}

# The plain links as well as a regex can: a host of either name in any case, "www." or not, a
# scheme or not, then URL characters without '#' up to the last "?uk=" or "&uk=" and its digits.
# Links written with escapes (&amp;, \u0026, percent-encoded) are beyond it.
host='([Ww][Ww][Ww]\.)?([Pp][Aa][Nn]|[Yy][Uu][Nn])\.[Bb][Aa][Ii][Dd][Uu]\.[Cc][Oo][Mm]'
pattern="(https?:)?(//)?${host}[/?][-A-Za-z0-9._~:/?@!\$&*+,;=%]*[?&]uk=[0-9]{1,20}"
grep_run=(env LC_ALL=C grep -oE "$pattern")
rg_run=(rg -o -N "$pattern")

corpora=(forum chinese)
for corpus in "${corpora[@]}"; do
  "$corpus" "$work/$corpus.keys" >"$work/$corpus"
  # The program must find every key written, in order of first appearance, before its speed
  # means anything.
  "$program" --scan <"$work/$corpus" >"$work/$corpus.by-program" 2>"$work/$corpus.counts" ||
    { echo "bench-scan: $program --scan failed: $(head -3 "$work/$corpus.counts")" >&2; exit 1; }
  awk '!seen[$0]++ { print "http://pan.baidu.com/share/home?uk=" $0 }' "$work/$corpus.keys" >"$work/expected"
  cmp -s "$work/$corpus.by-program" "$work/expected" ||
    { echo "bench-scan: $program --scan misses or adds sharers in the $corpus corpus" >&2; exit 1; }
  "${grep_run[@]}" <"$work/$corpus" | wc -l >"$work/$corpus.by-grep"
  rg -o -N "$pattern" <"$work/$corpus" | wc -l >"$work/$corpus.by-rg"
done

seconds() {  # wall-clock seconds of one run
  local input=$1 output=$2 start end
  shift 2
  start=$(date +%s.%N)
  "$@" <"$input" >"$output" 2>/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# GNU grep stops at its first match when its output is /dev/null, so the three write to files;
# `cat`, the floor, only reads.
echo "load before: $(load)"
for ((i = 0; i < rounds; i++)); do
  for corpus in "${corpora[@]}"; do
    seconds "$work/$corpus" /dev/null cat >>"$work/$corpus.t-cat"
    seconds "$work/$corpus" "$work/out" "$program" --scan >>"$work/$corpus.t-program"
    seconds "$work/$corpus" "$work/out" "${grep_run[@]}" >>"$work/$corpus.t-grep"
    seconds "$work/$corpus" "$work/out" "${rg_run[@]}" >>"$work/$corpus.t-rg"
  done
done
echo "load after: $(load)"
for corpus in "${corpora[@]}"; do
  size=$(stat -c %s "$work/$corpus")
  cat_s=$(median <"$work/$corpus.t-cat"); program_s=$(median <"$work/$corpus.t-program")
  grep_s=$(median <"$work/$corpus.t-grep"); rg_s=$(median <"$work/$corpus.t-rg")
  mb() { echo "scale=1; $size / 1048576 / $1" | bc -l; }
  echo
  echo "input: $((size / 1048576)) MiB of $corpus text, $(wc -l <"$work/$corpus.keys") links with a key; medians of $rounds rounds"
  echo "$program --scan: $(cat "$work/$corpus.counts")"
  echo "grep -oE and rg -o: $(cat "$work/$corpus.by-grep") and $(cat "$work/$corpus.by-rg") plain links"
  printf '%-22s %8ss  %8s MiB/s\n' cat "$cat_s" "$(mb "$cat_s")" "quenvar-cli --scan" "$program_s" \
    "$(mb "$program_s")" "grep -oE" "$grep_s" "$(mb "$grep_s")" "rg -o" "$rg_s" "$(mb "$rg_s")"
  echo "quenvar-cli --scan / cat throughput: $(echo "scale=2; $cat_s / $program_s" | bc -l)"
  echo "quenvar-cli --scan / grep -oE throughput: $(echo "scale=1; $grep_s / $program_s" | bc -l)"
  echo "quenvar-cli --scan / rg -o throughput: $(echo "scale=2; $rg_s / $program_s" | bc -l)"
done
# The page's scanner on the forum corpus, in headless Chromium.
tools/bench-web-scan.sh "$work/forum" "$program" "$rounds"
