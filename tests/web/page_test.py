#!/usr/bin/env python3
"""quenvar.html as a user has it, opened from disk in headless Chromium: the repair rule's table
of cases through the page, the hint, the copy read back from the clipboard, the keyboard order,
the scan of files in each encoding and of 50 MB while the page keeps answering, the English page,
a narrow screen, and not one request beyond the page file itself.

  page_test.py --page quenvar.html [--screenshot OUT.png] [--big-mb N] --repair-cases COMMAND...

Ends every process it starts, by its own id, and leaves nothing behind. Prints one line per
failure, then "N passed, N failed".
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

HOME = 'http://pan.baidu.com/share/home?uk='
ZH = {
    'hint': '在此输入已经失效的资源链接', 'repaired': '修复成功', 'unsupported': '暂不支持此链接...',
    'copied': '链接已复制到剪贴板', 'nothing': '没有可复制的链接，请先修复链接',
    'copyFailed': '复制失败，请稍后重试',
    'labels': {'label1': '失效的链接：', 'label2': '修复后的链接:', 'repair': '修复链接',
               'copy': '复制已修复链接'},
}
FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--disable-dev-shm-usage', '--window-size=900,1100']


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=''):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f'FAIL {name}{": " + detail if detail else ""}', flush=True)

    def equal(self, name, got, want):
        self.check(name, got == want, f'got {got!r}, expected {want!r}')


class Browser:
    """Chromium through chromedriver, with a profile and temporary folder of its own."""

    def __init__(self, work, language):
        # Short names: Chromium's socket in TMPDIR must fit a socket address (107 bytes), also
        # under a TMPDIR of the caller's.
        self.home = Path(tempfile.mkdtemp(prefix='b-', dir=work))
        env = dict(os.environ, TMPDIR=str(self.home))
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in FLAGS + [f'--user-data-dir={self.home / "profile"}', f'--lang={language}', f'--accept-lang={language}']:
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
        self.service = Service('/usr/bin/chromedriver', env=env)
        self.driver = None
        try:
            self.driver = webdriver.Chrome(service=self.service, options=options)
        except BaseException:
            self.close()
            raise
        self.driver.set_script_timeout(120)

    def close(self):
        try:
            if self.driver:
                self.driver.quit()
        finally:
            self.service.stop()
            # Whatever of Chromium outlived quit() is found by the profile only it uses.
            for pid in self._ours():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + 10
            while self._ours() and time.monotonic() < deadline:
                time.sleep(0.05)

    def _ours(self):
        mark = f'--user-data-dir={self.home / "profile"}'.encode()
        pids = []
        for entry in Path('/proc').iterdir():
            if entry.name.isdigit():
                try:
                    if mark in (entry / 'cmdline').read_bytes().split(b'\0'):
                        pids.append(int(entry.name))
                except OSError:
                    pass
        return pids


def wait(driver, condition, seconds=20):
    return WebDriverWait(driver, seconds, poll_frequency=0.02).until(lambda d: condition(d))


def by_id(driver, element_id):
    return driver.find_element(By.ID, element_id)


# Clicks the button and waits for the notice it gives; the notice is emptied first, so that a
# notice the same as the last one still counts.
def press(driver, button):
    driver.execute_script("document.getElementById('notice').textContent = ''")
    by_id(driver, button).click()
    return wait(driver, lambda d: by_id(d, 'notice').text)


def keys(driver, *typed):
    """Types at whatever has the focus, as a user does."""
    ActionChains(driver).send_keys(*typed).perform()


def clipboard(driver):
    return driver.execute_async_script(
        'navigator.clipboard.readText().then(arguments[0], (e) => arguments[0]("refused: " + e))')


def set_clipboard(driver, text):
    driver.execute_async_script(
        'navigator.clipboard.writeText(arguments[0]).then(() => arguments[1]())', text)


def sharers(driver):
    return [li.get_attribute('textContent') for li in driver.find_elements(By.CSS_SELECTOR, '#sharers li')]


def scan(driver, paths=(), text=None):
    """Chooses the files, pastes the text, scans and returns the scan's status text."""
    if text is not None:
        driver.execute_script("document.getElementById('scan-text').value = arguments[0]", text)
    files = by_id(driver, 'scan-files')
    files.clear()
    if paths:
        files.send_keys('\n'.join(str(p) for p in paths))
    driver.execute_script("document.getElementById('scan-status').textContent = ''")
    by_id(driver, 'scan-run').click()
    return wait(driver, lambda d: by_id(d, 'scan-run').is_enabled() and by_id(d, 'scan-status').text, 120)


def check_start_and_keyboard(c, d):
    c.equal('focus starts on the repair button', d.switch_to.active_element.get_attribute('id'), 'repair')
    for element_id, text in ZH['labels'].items():
        c.equal(f'text of {element_id}', by_id(d, element_id).text, text)
    c.equal('hint at start', by_id(d, 'text1').get_attribute('value'), ZH['hint'])
    c.equal('hint is grey', by_id(d, 'text1').value_of_css_property('color'), 'rgba(200, 200, 200, 1)')
    c.equal('lower box empty at start', by_id(d, 'text2').get_attribute('value'), '')
    order = []
    for _ in range(4):
        keys(d, Keys.TAB)
        order.append(d.switch_to.active_element.get_attribute('id'))
    c.equal('Tab order', order, ['text1', 'text2', 'copy', 'scan-text'])
    c.equal('each box is named by its label',
            [d.execute_script(f"return document.getElementById('{i}').labels[0].textContent")
             for i in ('text1', 'text2')], [ZH['labels']['label1'], ZH['labels']['label2']])


def check_hint(c, d):
    # Reached with Tab the hint stays, selected, so typing replaces it.
    keys(d, Keys.TAB)
    c.equal('Tab keeps the hint', by_id(d, 'text1').get_attribute('value'), ZH['hint'])
    c.equal('repair with the hint', press(d, 'repair'), ZH['unsupported'])
    c.equal('lower box still empty', by_id(d, 'text2').get_attribute('value'), '')
    keys(d, Keys.TAB, 'x=1234567890')
    c.equal('typing replaces the selected hint', by_id(d, 'text1').get_attribute('value'), 'x=1234567890')
    c.equal('typed text is black', by_id(d, 'text1').value_of_css_property('color'), 'rgba(0, 0, 0, 1)')
    by_id(d, 'text1').click()
    c.equal('a later click keeps the text', by_id(d, 'text1').get_attribute('value'), 'x=1234567890')
    reload(d)
    # A link typed after the hint still repairs.
    keys(d, Keys.TAB, Keys.END, 'pan.baidu.com/share/link?uk=2233445566')
    c.equal('link after the hint', press(d, 'repair'), ZH['repaired'])
    c.equal('link after the hint: lower box', by_id(d, 'text2').get_attribute('value'), HOME + '2233445566')
    reload(d)
    by_id(d, 'text1').click()
    c.equal('first click empties the box', by_id(d, 'text1').get_attribute('value'), '')
    c.equal('and turns it black', by_id(d, 'text1').value_of_css_property('color'), 'rgba(0, 0, 0, 1)')
    c.equal('repair of the empty box', press(d, 'repair'), ZH['unsupported'])


def reload(d):
    d.refresh()
    wait(d, lambda d: by_id(d, 'repair').text)


def check_repair_table(c, d, cases):
    # Every case through the page: the input's units into the upper box, a click, then the
    # notice and the lower box's units. An unsupported input leaves the lower box as it was.
    results = d.execute_async_script('''
        const [cases, done] = arguments;
        const text1 = document.getElementById('text1'), text2 = document.getElementById('text2');
        const notice = document.getElementById('notice'), button = document.getElementById('repair');
        const units = (s) => Array.from(s, (ch, i) => s.charCodeAt(i)).slice(0, s.length);
        const results = [];
        (async () => {
          for (const c of cases) {
            text1.value = String.fromCharCode(...c.input);
            text1.dispatchEvent(new Event('input'));
            text2.value = 'before';
            notice.textContent = '';
            button.click();
            while (notice.textContent === '') await new Promise((r) => setTimeout(r, 1));
            const s = text2.value;
            results.push({ notice: notice.textContent, text2: Array.from({ length: s.length }, (_, i) => s.charCodeAt(i)) });
          }
          done(results);
        })();
    ''', cases)
    for case, got in zip(cases, results):
        before = [ord(ch) for ch in 'before']
        want = {'notice': ZH['repaired'] if case['link'] else ZH['unsupported'],
                'text2': case['link'] or before}
        c.equal(f'repair case "{case["name"]}"', got, want)
    c.equal('every repair case ran', len(results), len(cases))


def check_copy(c, d):
    d.execute_cdp_cmd('Browser.grantPermissions', {'permissions': ['clipboardReadWrite', 'clipboardSanitizedWrite']})
    reload(d)
    set_clipboard(d, 'held before')
    c.equal('copy with the lower box empty', press(d, 'copy'), ZH['nothing'])
    c.equal('the clipboard keeps what it held', clipboard(d), 'held before')
    by_id(d, 'text1').click()
    by_id(d, 'text1').send_keys('https://pan.baidu.com/share/link?shareid=1&uk=1234567890')
    press(d, 'repair')
    c.equal('copy', press(d, 'copy'), ZH['copied'])
    c.equal('the link is on the clipboard', clipboard(d), HOME + '1234567890')
    by_id(d, 'text2').send_keys(' 已编辑')
    press(d, 'copy')
    c.equal('an edited lower box is copied as it stands', clipboard(d), HOME + '1234567890 已编辑')
    set_clipboard(d, 'held before')
    d.execute_cdp_cmd('Browser.setPermission', {'permission': {'name': 'clipboard-write'}, 'setting': 'denied'})
    c.equal('copy refused by the browser', press(d, 'copy'), ZH['copyFailed'])
    d.execute_cdp_cmd('Browser.grantPermissions', {'permissions': ['clipboardReadWrite', 'clipboardSanitizedWrite']})
    c.equal('a refused copy leaves the clipboard', clipboard(d), 'held before')


def check_scan_encodings(c, d, work):
    link = 'https://pan.baidu.com/share/link?shareid=1&uk='
    # In GBK and GB18030 the link follows a character whose last byte is a letter or digit, which
    # only a reading of the bytes as GBK tells from a host name's first letter.
    samples = [  # name, bytes, the sharer, its line
        ('utf8.html', f'<p>资源</p>\n<a href="{link.replace("&", "&amp;")}101">下载</a>'.encode(), '101', 2),
        ('gbk.txt', '第一行\n百度網pan.baidu.com/share/link?uk=202 提取碼abcd'.encode('gbk'), '202', 2),
        ('gb18030.txt', '\n\n𠀀pan.baidu.com/share/link?uk=303'.encode('gb18030'), '303', 3),
        ('utf16le.txt', b'\xff\xfe' + f'说明\n{link}404\n'.encode('utf-16-le'), '404', 2),
        ('utf16be.txt', b'\xfe\xff' + f'说明\n\n\n{link}505'.encode('utf-16-be'), '505', 4),
    ]
    for name, data, key, line in samples:
        path = work / name
        path.write_bytes(data)
        scan(d, [path], text='')
        c.equal(f'scan of {name}', sharers(d), [f'{HOME}{key}\t1\t{name}:{line}'])
    # Several inputs at once: order of first appearance, counts and first places across them;
    # a file that is gone by the time it is read and one with no sharer are named, the rest
    # still scanned, and the pasted text stays.
    (work / 'a.txt').write_text(f'{link}7\n{link}8 {link}7\n')
    (work / 'none.txt').write_text('pan.baidu.com/s/1abc 没有编号\n')
    (work / 'gone.txt').write_text(f'{link}9\n')
    pasted = f'贴在这里的 {link}8\n第二行'
    driver_files = [work / 'gone.txt', work / 'a.txt', work / 'none.txt']
    d.execute_script("document.getElementById('scan-text').value = arguments[0]", pasted)
    files = by_id(d, 'scan-files')
    files.clear()
    files.send_keys('\n'.join(str(p) for p in driver_files))
    c.equal('files chosen', d.execute_script(
        "return [...document.getElementById('scan-files').files].map((f) => f.size > 0)"), [True] * 3)
    (work / 'gone.txt').unlink()
    d.execute_script("document.getElementById('scan-status').textContent = ''")
    by_id(d, 'scan-run').click()
    status = wait(d, lambda d: by_id(d, 'scan-run').is_enabled() and by_id(d, 'scan-status').text, 60)
    c.equal('scan of several inputs', sharers(d), [f'{HOME}8\t2\t-:1', f'{HOME}7\t2\ta.txt:1'])
    c.equal('scan notes', status.split('\n'), [
        '无法打开 gone.txt', 'none.txt：没有找到分享者',
        '找到 4 个指明分享者的链接，2 位分享者；1 个分享链接不含用户编号（/s/…、surl=），无法离线找到分享者'])
    c.equal('the pasted text stays', by_id(d, 'scan-text').get_attribute('value'), pasted)
    by_id(d, 'scan-copy').click()
    wait(d, lambda d: by_id(d, 'scan-status').text == ZH['copied'])
    c.equal('copy all home links', clipboard(d), f'{HOME}8\n{HOME}7\n')


def check_big_scan(c, d, work, megabytes):
    # Mebibytes of forum text, each with one link naming sharer 1111 in its middle; a link naming
    # 2222 straddles every 4 MiB piece the worker reads; 3333 is on the last line.
    piece = 4 << 20
    filler = '<div class="post">资源 分享 链接 失效 补档 https://tieba.baidu.com/p/1 pan.baidu.com/s/1x</div>\n'.encode()
    half = filler * ((1 << 19) // len(filler))
    block = half + b'https://pan.baidu.com/share/link?shareid=1&uk=1111\n' + half
    block += b' ' * ((1 << 20) - len(block) - 1) + b'\n'
    data = bytearray(block * megabytes)
    straddling = b' pan.baidu.com/share/link?uk=2222 '
    starts = range(piece - len(straddling) // 2, len(data) - len(straddling), piece)
    for at in starts:
        data[at:at + len(straddling)] = straddling
    data += b'last https://pan.baidu.com/share/home?uk=3333'
    line = lambda key: data[:data.index(b'uk=' + key)].count(b'\n') + 1
    want = [f'{HOME}1111\t{megabytes}\tbig.html:{line(b"1111")}',
            f'{HOME}2222\t{len(starts)}\tbig.html:{line(b"2222")}',
            f'{HOME}3333\t1\tbig.html:{line(b"3333")}']
    big = work / 'big.html'
    big.write_bytes(data)
    del data
    files = by_id(d, 'scan-files')
    files.clear()
    files.send_keys(str(big))
    d.execute_script("document.getElementById('scan-text').value = ''")
    # While the worker scans, the page must repair a link, and never stall for long.
    answered = d.execute_async_script('''
        const done = arguments[0];
        const run = document.getElementById('scan-run'), notice = document.getElementById('notice');
        const started = performance.now();
        let last = started, longest = 0, ticks = 0, repairedDuring = false;
        document.getElementById('scan-status').textContent = '';
        run.click();
        document.getElementById('text1').value = 'x=1234567890';
        notice.textContent = '';
        document.getElementById('repair').click();
        const tick = () => {
          const now = performance.now();
          longest = Math.max(longest, now - last);
          last = now;
          if (run.disabled) {
            ticks += 1;
            if (notice.textContent !== '') repairedDuring = true;
            setTimeout(tick, 5);
          } else {
            done({ seconds: (now - started) / 1000, longest, ticks, repairedDuring });
          }
        };
        setTimeout(tick, 5);
    ''')
    c.check('the page repairs while the big file is scanned', answered['repairedDuring'], str(answered))
    c.check('the page never stalls during the scan',
            answered['longest'] < 250 and answered['ticks'] >= 5, str(answered))
    c.equal(f'scan of {megabytes} MB', sharers(d), want)
    print(f'{megabytes} MB scanned in the page in {answered["seconds"]:.2f} s; longest pause '
          f'{answered["longest"]:.0f} ms', flush=True)
    big.unlink()


def check_english(c, d):
    c.equal('English labels', [by_id(d, i).text for i in ('label1', 'label2', 'repair', 'copy')],
            ['Expired link:', 'Repaired link:', 'Repair link', 'Copy repaired link'])
    c.equal('English hint', by_id(d, 'text1').get_attribute('value'), 'Enter the expired link here')
    c.equal('English notice', press(d, 'repair'), 'This link is not supported yet...')
    c.equal('language of the document', d.execute_script('return document.documentElement.lang'), 'en')
    # The scan's texts are quenvar-cli's English ones.
    d.execute_script("document.getElementById('scan-text').value = arguments[0]",
                     'https://pan.baidu.com/share/link?shareid=1&uk=5 pan.baidu.com/s/1abc')
    by_id(d, 'scan-run').click()
    status = wait(d, lambda d: by_id(d, 'scan-run').is_enabled() and by_id(d, 'scan-status').text, 60)
    c.equal('English scan summary', status, '1 link(s) naming a sharer, 1 sharer(s) found; 1 share '
            'link(s) without a user key (/s/..., surl=), whose sharers cannot be found offline')
    d.execute_script("document.getElementById('scan-text').value = 'nothing here'")
    by_id(d, 'scan-run').click()
    wait(d, lambda d: by_id(d, 'scan-run').is_enabled() and 'no sharer' in by_id(d, 'scan-status').text, 60)
    status = by_id(d, 'scan-status').text
    c.equal('English note on an input without sharers', status.split('\n')[0], 'The pasted text: no sharer found')


def check_narrow(c, d):
    d.set_window_size(360, 740)
    overflow = d.execute_script('return document.documentElement.scrollWidth - document.documentElement.clientWidth')
    c.equal('nothing wider than a 360-pixel screen', overflow, 0)
    d.set_window_size(900, 1100)


def check_no_request(c, d, page_url):
    # The policy stops what a page could try; the browser's log shows nothing but the page.
    blocked = d.execute_async_script('''
        const done = arguments[0];
        let violations = 0;
        document.addEventListener('securitypolicyviolation', () => { violations += 1; });
        const image = new Image();
        image.src = 'http://127.0.0.1:9/x.png';
        fetch('http://127.0.0.1:9/').then(() => done('fetched'), () => setTimeout(() => done(violations), 200));
    ''')
    c.check('the page policy blocks loads and connections', blocked == 2, f'got {blocked!r}')
    # Each request the log shows: the page file, and the worker's script, which the page makes
    # in memory as a blob, may load; anything else must have been refused by the policy. The
    # browser's own pages in other tabs (its new-tab page) load from chrome:// and data: only.
    urls, refused = {}, {}
    for entry in d.get_log('performance'):
        logged = json.loads(entry['message'])
        message, params = logged['message'], logged['message']['params']
        if logged['webview'] != d.current_window_handle and message['method'] == 'Network.requestWillBeSent':
            c.check('other tabs load only the browser\'s own pages',
                    params['request']['url'].startswith(('chrome://', 'data:')), params['request']['url'])
            continue
        if message['method'] == 'Network.requestWillBeSent':
            urls[params['requestId']] = params['request']['url']
        elif message['method'] == 'Network.webSocketCreated':
            urls[params['requestId']] = params['url']
        elif message['method'] == 'Network.loadingFailed' and params.get('blockedReason') == 'csp':
            refused[params['requestId']] = True
    loaded = [u for r, u in urls.items() if r not in refused]
    c.check('the page was loaded', page_url in loaded, f'requests: {list(urls.values())}')
    c.check('no request but the page itself and its worker',
            all(u == page_url or u.startswith('blob:null/') for u in loaded), f'loaded: {loaded}')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--page', required=True)
    parser.add_argument('--screenshot')
    parser.add_argument('--big-mb', type=int, default=50)
    parser.add_argument('--repair-cases', nargs=argparse.REMAINDER, required=True)
    args = parser.parse_args()
    cases = [json.loads(line) for line in subprocess.run(
        args.repair_cases, check=True, capture_output=True, text=True).stdout.splitlines()]
    page = Path(args.page).resolve()
    page_url = page.as_uri()
    c = Checks()
    work = Path(tempfile.mkdtemp(prefix='page-'))
    try:
        browser = Browser(work, 'zh-CN')
        try:
            d = browser.driver
            # The tab starts on the browser's own new-tab page: left and forgotten first.
            d.get('about:blank')
            d.get_log('performance')
            d.get(page_url)
            wait(d, lambda d: by_id(d, 'repair').text)
            check_start_and_keyboard(c, d)
            check_hint(c, d)
            check_repair_table(c, d, cases)
            check_copy(c, d)
            check_scan_encodings(c, d, work)
            check_big_scan(c, d, work, args.big_mb)
            check_narrow(c, d)
            if args.screenshot:
                reload(d)
                by_id(d, 'text1').click()
                by_id(d, 'text1').send_keys('https://pan.baidu.com/share/link?shareid=1&uk=1234567890')
                press(d, 'repair')
                scan(d, [work / 'a.txt', work / 'utf8.html', work / 'gbk.txt'],
                     text='https://pan.baidu.com/share/link?shareid=2&uk=8')
                d.set_window_size(900, d.execute_script('return document.documentElement.scrollHeight'))
                d.get_screenshot_as_file(args.screenshot)
            check_no_request(c, d, page_url)
        finally:
            browser.close()
        browser = Browser(work, 'en-US')
        try:
            d = browser.driver
            d.get(page_url)
            wait(d, lambda d: by_id(d, 'repair').text)
            check_english(c, d)
        finally:
            browser.close()
    except TimeoutException as e:
        c.check('the page answered in time', False, repr(e))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f'{c.passed} passed, {c.failed} failed')
    return 0 if c.failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
