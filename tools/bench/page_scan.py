#!/usr/bin/env python3
"""Times quenvar.html's scan of one file in headless Chromium: the file is chosen through the
page's file input and each round runs from the click on the scan button to the list shown.
Prints the page's list of sharers once, then one line of seconds per round.

  page_scan.py PAGE FILE ROUNDS
"""
import sys
import tempfile
import shutil
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'tests' / 'web'))
from page_test import Browser, by_id, wait, sharers  # noqa: E402


def main():
    page, corpus, rounds = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve(), int(sys.argv[3])
    work = Path(tempfile.mkdtemp(prefix='quenvar-bench-'))
    try:
        browser = Browser(work, 'zh-CN')
        try:
            d = browser.driver
            d.get(page.as_uri())
            wait(d, lambda d: by_id(d, 'repair').text)
            by_id(d, 'scan-files').send_keys(str(corpus))
            times = []
            for _ in range(rounds):
                times.append(d.execute_async_script('''
                    const done = arguments[0], run = document.getElementById('scan-run');
                    const status = document.getElementById('scan-status');
                    const started = performance.now();
                    new MutationObserver((changes, observer) => {
                      if (!run.disabled && status.textContent !== '') {
                        observer.disconnect();
                        done((performance.now() - started) / 1000);
                      }
                    }).observe(document.body, { subtree: true, childList: true, characterData: true, attributes: true });
                    run.click();
                '''))
            print('\n'.join(sharers(d)))
            print('\n'.join(f'{t:.4f}' for t in times), file=sys.stderr)
        finally:
            browser.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
