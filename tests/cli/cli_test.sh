#!/usr/bin/env bash
# quenvar-cli as a user runs it: arguments, standard input, CRLF files, a line of several
# megabytes, invalid UTF-8, empty input, options and exit statuses, and the language of its
# messages.
#   cli_test.sh PROGRAM [RUNNER...]    e.g. cli_test.sh quenvar-cli.exe tools/wine-run.sh --no-display
set -uo pipefail
program=$(realpath "$1")
shift
runner=("$@")
# Some checks run from the work folder.
[[ ${#runner[@]} -eq 0 || ${runner[0]} != */* ]] || runner[0]=$(realpath "${runner[0]}")
native=$([[ ${#runner[@]} -eq 0 ]] && echo yes || echo no)
# Exits 77 (skipped) when this host cannot run the program at all.
[[ ${#runner[@]} -eq 0 ]] || "${runner[@]}" --check "$program" || exit $?
work=$(mktemp -d)
holder=
trap '[[ -z $holder ]] || { kill "$holder"; wait "$holder"; }; rm -rf "$work"' EXIT
# Under Wine one server serves every run of the script, instead of one started for each.
if [[ ${#runner[@]} -gt 0 ]]; then
  "${runner[@]}" --hold </dev/null >/dev/null 2>&1 &
  holder=$!
fi
P=http://pan.baidu.com/share/home?uk=
passed=0 failed=0
# The language of each run is set here, whatever the caller's locale: Chinese unless a check
# says otherwise (lang=LC_ALL=C check ...). This script's own tools read UTF-8.
unset LANGUAGE LC_ALL LC_MESSAGES LANG
export LC_CTYPE=C.UTF-8
lang=LANG=zh_CN.UTF-8

# check NAME STATUS STDOUT STDERR-PATTERN|(nothing) STDIN-FILE -- ARGS...
check() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4 stdin=$5
  shift 6
  local status=0
  env "$lang" "${runner[@]}" "$program" "$@" <"$stdin" >"$work/out" 2>"$work/err" || status=$?
  printf '%s' "$want_out" >"$work/want"
  local problems=()
  [[ $status -eq $want_status ]] || problems+=("exit status $status, expected $want_status")
  if [[ $want_err == "(nothing)" ]]; then
    [[ -s $work/err ]] && problems+=("stderr is not empty: $(head -c 300 "$work/err")")
    want_err=
  fi
  cmp -s "$work/out" "$work/want" || problems+=("stdout differs: $(head -c 300 "$work/out" | od -c | head -5)")
  if [[ -n $want_err ]] && ! grep -q -- "$want_err" "$work/err"; then
    problems+=("stderr lacks '$want_err': $(head -c 300 "$work/err")")
  fi
  if [[ ${#problems[@]} -eq 0 ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n' "$name"
    printf '  %s\n' "${problems[@]}"
  fi
}

printf '' >"$work/empty"
printf 'https://pan.baidu.com/share/link?shareid=1&uk=1234567890\nnot a link\n=abc\n' >"$work/lf"
printf 'a?uk=1111111111\r\nb?uk=2222222222\r\n\r\nc?uk=3333333333' >"$work/crlf"
printf 'x?uk=1234567890\nbad \xff\xfe byte\ny?uk=0987654321\n' >"$work/invalid"
printf '链接=一二三四五六七八九十\nx=12345678\xf0\x9f\x98\x80\n' >"$work/chinese"
{ head -c $((5 * 1024 * 1024)) /dev/zero | tr '\0' 'q'; printf '=5555555555\nz?uk=6666666666\n'; } >"$work/long"

check "arguments, one unsupported" 1 "${P}1234567890"$'\n\n'"${P}=abc"$'\n' "第 2 行：暂不支持此链接..." \
  "$work/empty" -- "x?uk=1234567890" "x?uk=123" "=abc"
check "arguments, all repaired" 0 "${P}1234567890"$'\n' "" "$work/empty" -- "x?uk=1234567890"
check "Chinese argument" 0 "${P}一二三四五六七八九十"$'\n' "" "$work/empty" -- "链接=一二三四五六七八九十"
check "argument outside the BMP counts two units" 0 "${P}12345678😀"$'\n' "" "$work/empty" -- "x=12345678😀"
check "standard input without arguments" 1 "${P}1234567890"$'\n\n'"${P}=abc"$'\n' "第 2 行：暂不支持此链接..." "$work/lf" --
check "dash reads standard input" 1 "${P}1234567890"$'\n\n'"${P}=abc"$'\n' "" "$work/lf" -- -
check "arguments around standard input" 1 "${P}9999999999"$'\n'"${P}1234567890"$'\n\n'"${P}=abc"$'\n' \
  "第 3 行" "$work/lf" -- "=9999999999" -
check "CRLF file" 1 "${P}1111111111"$'\n'"${P}2222222222"$'\n\n'"${P}3333333333"$'\n' "第 3 行" "$work/crlf" --
check "empty input" 0 "" "" "$work/empty" --
check "invalid UTF-8 line" 1 "${P}1234567890"$'\n\n'"${P}0987654321"$'\n' "第 2 行：不是有效的 UTF-8 文本" "$work/invalid" --
check "UTF-8 input counts UTF-16 units" 0 "${P}一二三四五六七八九十"$'\n'"${P}12345678😀"$'\n' "" "$work/chinese" --
check "a line of five megabytes" 0 "${P}5555555555"$'\n'"${P}6666666666"$'\n' "" "$work/long" --
check "double dash ends options" 0 "${P}1234567890"$'\n' "" "$work/empty" -- -- "-x=1234567890"
check "unknown option" 2 "" "未知选项 --bogus" "$work/empty" -- --bogus
lang=LC_ALL=C check "unknown option, in English" 2 "" "unknown option --bogus" "$work/empty" -- --bogus
lang=LC_ALL=C check "arguments, one unsupported, in English" 1 "${P}1234567890"$'\n\n' \
  "line 2: this link is not supported yet" "$work/empty" -- "x?uk=1234567890" "x?uk=123"
check "version" 0 "quenvar-cli ${QUENVAR_VERSION:?set by the build}"$'\n' "" "$work/empty" -- --version
status=0
env "$lang" "${runner[@]}" "$program" --help >"$work/help" 2>&1 </dev/null || status=$?
if [[ $status -eq 0 ]] && grep -q "用法: quenvar-cli" "$work/help" && grep -q "退出状态" "$work/help"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL help (status $status)"
fi

# The language, from --help's first word. Natively the first of LANGUAGE (its first entry),
# LC_ALL, LC_MESSAGES and LANG that is set and not empty decides; a Windows program follows the
# display language of Windows, which Wine takes from LC_ALL, LC_MESSAGES and LANG (not from
# LANGUAGE). Standard error is not read: bash warns of an LC_ALL the host has no locale for.
#   NATIVE WINE VARIABLES...    (- where not run)
while read -r want_native want_wine vars; do
  want=$([[ $native == yes ]] && echo "$want_native" || echo "$want_wine")
  [[ $want != - ]] || continue
  # shellcheck disable=SC2086 # one word per variable
  env $vars "${runner[@]}" "$program" --help >"$work/help" 2>/dev/null </dev/null
  case $(head -n 1 "$work/help") in
    "Usage: quenvar-cli"*) got=en ;;
    "用法: quenvar-cli"*) got=zh ;;
    *) got="neither: $(head -c 100 "$work/help")" ;;
  esac
  if [[ $got == "$want" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL language with ${vars:-no variable set}: $got, expected $want"
  fi
done <<'CASES'
en en
zh zh LANG=zh_CN.UTF-8
zh zh LC_ALL=zh_CN.UTF-8
en en LC_ALL=C
en en LC_ALL=C LANG=zh_CN.UTF-8
en - LC_ALL=POSIX
en - LANG=en_US.UTF-8
zh zh LC_MESSAGES=zh_TW.UTF-8 LANG=en_US.UTF-8
en - LC_ALL=en_US.UTF-8 LC_MESSAGES=zh_CN.UTF-8
zh zh LC_ALL= LC_MESSAGES= LANG=zh
zh en LANGUAGE=zh_CN:en LC_ALL=C
en zh LANGUAGE=en:zh_CN LANG=zh_CN.UTF-8
CASES

# Standard input that cannot be read (a directory): every source reports a failed read.
check "standard input that cannot be read" 2 "" "读取标准输入失败" / --

# --scan: every sharer in free text, once, in order of first appearance across the inputs.
cd "$work" || exit 1
cat >page.html <<'PAGE'
<p>资源 <a href="https://pan.baidu.com/share/link?shareid=1&amp;uk=1111111111">下载</a></p>
{"url":"https:\/\/yun.baidu.com\/share\/home?uk=22\u0026view=1"}
跳转 https://www.baidu.com/link?url=https%3A%2F%2Fpan.baidu.com%2Fshare%2Flink%3Fshareid%3D5%26uk%3D3333
失效 https://pan.baidu.com/s/1abcdef 和 pan.baidu.com/share/init?surl=xyz
again PAN.BAIDU.COM/share/link?uk=1111111111&shareid=9
not: pan.baidu.com.cn/share/link?uk=4444 fuk=5555 pan.baidu.com/share/link?uk=123456789012345678901
PAGE
printf '链接：https://pan.baidu.com/share/link?uk=7777 完\n' | iconv -f UTF-8 -t GBK >gbk.txt
{ printf '\xff\xfe'; printf 'x\nhttps://pan.baidu.com/share/home?uk=8888\nyun.baidu.com/share/link?uk=22\n' | iconv -t UTF-16LE; } >utf16.txt
printf 'only https://pan.baidu.com/s/1abc here\n' >keyless.txt
page="${P}1111111111"$'\n'"${P}22"$'\n'"${P}3333"$'\n'
check "scan a saved page" 0 "$page" "找到 4 个指明分享者的链接，3 位分享者；2 个分享链接不含用户编号" empty -- --scan page.html
lang=LC_ALL=C check "scan a saved page, in English" 0 "$page" \
  "4 link(s) naming a sharer, 3 sharer(s) found; 2 share link(s) without a user key" empty -- --scan page.html
check "scan with --where: GBK on standard input, UTF-16 with a byte-order mark" 0 \
  "${P}1111111111"$'\t2\tpage.html:1\n'"${P}22"$'\t2\tpage.html:2\n'"${P}3333"$'\t1\tpage.html:3\n'"${P}7777"$'\t1\t-:1\n'"${P}8888"$'\t1\tutf16.txt:2\n' \
  "" gbk.txt -- --scan --where page.html - utf16.txt
check "scan finds nobody" 1 "" "0 位分享者；1 个" keyless.txt -- --scan
check "scan, quietly" 0 "$page" "(nothing)" empty -- --scan --quiet page.html
check "scan an input that cannot be opened" 2 "$page" "无法打开 missing.txt" empty -- --scan missing.txt page.html
check "--where without --scan" 2 "" "只能与 --scan 一起使用" empty -- --where page.html
cd - >/dev/null || exit 1

# A reader that goes away ends the program at once and quietly (status 141, as by SIGPIPE), also
# when SIGPIPE is ignored (as a service manager or a language runtime may start it) and when it has
# nothing new to write. The input never ends: only the program's own stop ends the pipeline.
same_link() { yes "https://pan.baidu.com/share/link?uk=1234567890"; }
new_sharers() { awk 'BEGIN { for (i = 0;; i++) printf "pan.baidu.com/s?uk=%d\n", i }'; }
while IFS='|' read -r name input reader mode; do
  status=$(
    trap '' PIPE
    $input 2>/dev/null | timeout 60 "${runner[@]}" "$program" $mode 2>"$work/err" | $reader >/dev/null
    echo "${PIPESTATUS[1]}"
  )
  if [[ $status -eq 141 && ! -s $work/err ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL reader gone, $name: status $status (124: still reading after 60 s), stderr: $(head -c 200 "$work/err")"
  fi
done < <(
  echo "repair|same_link|head -1|"
  echo "scan|new_sharers|head -1|--scan"
  # Found by Linux's poll; Windows tells only a write that has something to write.
  [[ $native == no ]] || echo "scan with nothing new to write|same_link|true|--scan"
)

if [[ $native == yes ]]; then
  # Any other write failure is said once, with status 2.
  status=0
  env "$lang" "$program" "x?uk=1234567890" >/dev/full 2>"$work/err" || status=$?
  if [[ $status -eq 2 && $(grep -c "写入标准输出失败" "$work/err") -eq 1 ]]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL full disk (status $status)"; fi

  # A file whose size the system does not know (/proc gives 0) is read all the same.
  if [[ $(QUENVAR_PROBE="pan.baidu.com/s?uk=42" "$program" --scan --quiet /proc/self/environ) == "${P}42" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL a /proc file read as empty"
  fi

  # A file of several MiB is read in mapped windows: every link, each at its line, also from
  # standard input that a shell left after the first line.
  awk 'BEGIN { for (i = 1; i <= 150000; i++) printf "x pan.baidu.com/s?uk=%d\n", i }' >"$work/windows"
  "$program" --scan --where --quiet "$work/windows" >"$work/out" 2>&1
  (read -r _; "$program" --scan --where --quiet >>"$work/out" 2>&1) <"$work/windows"
  if awk -F'\t' -v file="$work/windows" '
      { n = NR; first = NR <= 150000; i = first ? NR : NR - 150000
        if ($1 != "'"$P"'" (first ? i : i + 1) || $2 != 1 || $3 != (first ? file : "-") ":" i) exit 1 }
      END { exit n != 299999 }' "$work/out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL mapped windows: $(wc -l <"$work/out") lines, $(head -c 200 "$work/out")"
  fi

  # Memory stays flat: a 100 MB input, as one line and as many.
  # Not under the sanitizers, whose shadow memory is not the program's.
  if [[ -x /usr/bin/time && ${QUENVAR_SANITIZED:-OFF} != ON ]]; then
    for shape in one-line many-lines; do
      if [[ $shape == one-line ]]; then
        { head -c $((100 * 1024 * 1024)) /dev/zero | tr '\0' 'q'; printf '=1234567890\n'; } >"$work/big"
      else
        yes 'https://pan.baidu.com/share/link?shareid=42&uk=1234567890' | head -c $((100 * 1024 * 1024)) >"$work/big"
      fi
      for mode in repair --scan; do
        /usr/bin/time -f '%M' -o "$work/rss" "$program" ${mode/repair/} <"$work/big" >/dev/null 2>&1
        rss=$(tail -1 "$work/rss")
        if [[ $rss -lt 10240 ]]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL memory, $mode, $shape: ${rss} KB"; fi
        echo "peak memory on 100 MB input ($mode, $shape): ${rss} KB"
      done
    done
  fi

  # --scan keeps each distinct sharer: when memory runs out, every one counted is still written,
  # with its links, and the status says the run failed. Sharer i is named on lines 2i-1 and 2i;
  # only the last written may have missed its second link. (Not under the sanitizers, which
  # reserve far more address space than the limit.)
  if [[ ${QUENVAR_SANITIZED:-OFF} != ON ]]; then
    awk 'BEGIN { for (i = 0; i < 1500000; i++) for (j = 0; j < 2; j++) printf "pan.baidu.com/s?uk=%d\n", 1000000000 + i }' >"$work/many"
    for where in "" --where; do
      status=0
      (ulimit -v 60000; env "$lang" "$program" --scan $where "$work/many" >"$work/out" 2>"$work/err") || status=$?
      if [[ $status -eq 2 ]] && grep -q "内存不足" "$work/err" &&
        awk -F'\t' -v prefix="$P" -v where="$where" -v file="$work/many" '
          { n = NR; key[NR] = $1; links[NR] = $2; at[NR] = $3 }
          END {
            if (n < 1000) exit 1
            for (i = 1; i <= n; i++) {
              if (key[i] != prefix (999999999 + i)) exit 1
              if (where && (at[i] != file ":" (2 * i - 1) || (links[i] != 2 && !(i == n && links[i] == 1)))) exit 1
            }
          }' "$work/out"; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1)); echo "FAIL memory running out in --scan $where: status $status, $(wc -l <"$work/out") lines, $(head -c 200 "$work/err")"
      fi
    done
  fi
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
