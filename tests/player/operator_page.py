#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The operator's page in a real browser, for operator.sh: headless Chromium driven by Debian's chromedriver
# through Selenium opens the page, gives it the token, says "[demo] ready" and then carries out one request a
# line from standard input, each answered by one "[demo] ..." line (the test bed's event lines):
#   rows N TIMEOUT_S             N rows, every one on line and with figures (clock offset, skew, frames)
#   offline IP LOG TIMEOUT_S     the row of IP shows off line; also times the master's line in LOG that
#                                says so, and answers how long after it the page showed it
#   online IP TIMEOUT_S          a row of IP shows on line (a slave started again has a new key)
#   click BUTTON STATE TIMEOUT_S clicks play, pause, stop or next; waits for the command's answer and for
#                                the programme's state to read STATE; answers how long it took
#   seek SECONDS TIMEOUT_S       seeks there with the page's seek field
#   trim IP MS TIMEOUT_S         sets the trim of IP's screen with its row's field; answers the monotonic time
#                                of the answer
#   shot PATH                    a screenshot of the page
#   quit
import argparse
import json
import os
import re
import shutil
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--window-size=1480,500']
POLL_S = 0.01
# The page as the test reads it: the programme's state, the last answer, and each row's cells by column.
READ_PAGE = """return {state: document.getElementById('state').textContent, message: document.getElementById('message').textContent,
  rows: [...document.querySelectorAll('#screens tr')].map((row) => ({key: row.dataset.key, ip: row.dataset.ip,
    online: row.dataset.online === '1', cells: Object.fromEntries([...row.cells].map((c) => [c.classList[0], c.textContent]))}))};"""


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def answer(event, **fields):
    print('[demo] ' + event + ''.join(' %s=%s' % (k.replace('_', '-'), str(v).replace(' ', '_')) for k, v in fields.items()),
          flush=True)


class Page:
    def __init__(self, driver):
        self.driver = driver

    def wait(self, timeout_s, done):
        """Reads the page until done(page) holds or the time is up; the last page read and whether it held."""
        deadline = time.monotonic() + float(timeout_s)
        while True:
            page = self.driver.execute_script(READ_PAGE)
            if done(page) or time.monotonic() > deadline:
                return page, done(page)
            time.sleep(POLL_S)

    def enter(self, command, field, text, button, timeout_s, within=None):
        """Types TEXT into FIELD (of the element WITHIN), presses BUTTON and waits for COMMAND's answer."""
        within = within or self.driver
        field = within.find_element(*field)
        field.clear()
        field.send_keys(text)
        within.find_element(*button).click()
        return self.wait(timeout_s, lambda p: p['message'].startswith(command + ':') and not p['message'].endswith('…'))

    def rows(self, count, timeout_s):
        with_figures = lambda r: r['online'] and all(r['cells'][c] != 'unknown' for c in ('name', 'offset', 'rate', 'skew', 'frames'))
        seen, met = self.wait(timeout_s, lambda p: len(p['rows']) == int(count) and all(map(with_figures, p['rows'])))
        answer('rows', met=int(met), count=len(seen['rows']),
               detail=';'.join('%s:%s' % (r['ip'], ','.join(r['cells'].get(c, '') for c in ('online', 'offset', 'skew', 'frames')))
                               for r in seen['rows']))

    def offline(self, ip, log, timeout_s):
        """Times the page's off-line mark against the master's line, each the first time it is seen."""
        line = re.compile(r'^\[demo\] slave key=%s_\d+ on-line=0' % re.escape(ip), re.M)
        shown_us = logged_us = None
        deadline = time.monotonic() + float(timeout_s)
        while (shown_us is None or logged_us is None) and time.monotonic() < deadline:
            if shown_us is None and self.wait(0, lambda p: any(not r['online'] for r in p['rows'] if r['ip'] == ip))[1]:
                shown_us = mono_us()
            if logged_us is None:
                with open(log, errors='replace') as f:
                    logged_us = mono_us() if line.search(f.read()) else None
            time.sleep(POLL_S)
        met = shown_us is not None and logged_us is not None
        answer('offline', met=int(met), page_after_line_ms='%.0f' % ((shown_us - logged_us) / 1000) if met else 'none',
               page_mono_us=shown_us, line_mono_us=logged_us)

    def online(self, ip, timeout_s):
        seen, met = self.wait(timeout_s, lambda p: any(r['online'] for r in p['rows'] if r['ip'] == ip))
        answer('online', met=int(met), keys=','.join(r['key'] for r in seen['rows'] if r['ip'] == ip))

    def click(self, button, state, timeout_s):
        started_us = mono_us()
        self.driver.find_element(By.ID, button).click()
        seen, met = self.wait(timeout_s, lambda p: p['message'].startswith(button + ':') and not p['message'].endswith('…')
                              and p['state'] == state)
        answer('clicked', button=button, met=int(met), ms='%.0f' % ((mono_us() - started_us) / 1000), state=seen['state'],
               message=seen['message'])

    def seek(self, seconds, timeout_s):
        seen, met = self.enter('seek', (By.ID, 'seek-position'), seconds, (By.ID, 'seek'), timeout_s)
        answer('sought', met=int(met and seen['message'].startswith('seek: done')), message=seen['message'])

    def trim(self, ip, ms, timeout_s):
        row = self.driver.find_element(By.CSS_SELECTOR, '#screens tr[data-ip="%s"]' % ip)
        seen, met = self.enter('trim', (By.CLASS_NAME, 'trim-input'), ms, (By.CLASS_NAME, 'trim-set'), timeout_s, row)
        answer('trimmed', met=int(met and seen['message'].startswith('trim: done')), mono_us=mono_us(), message=seen['message'])

    def shot(self, path):
        answer('shot', met=int(self.driver.execute_script('window.scrollTo(0, 0); return true') and self.driver.save_screenshot(path)))


def main():
    # The browser and its driver join this process's group, so that operator.sh can end them all by its
    # id should this process be killed before it ends them itself.
    os.setpgid(0, 0)
    parser = argparse.ArgumentParser(description="The operator's page in a real browser, for operator.sh")
    parser.add_argument('--url', required=True)
    parser.add_argument('--token-file', required=True)
    arguments = parser.parse_args()
    profile = tempfile.mkdtemp(prefix='operator-page-')
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which('chromium')
    for flag in CHROMIUM_FLAGS + ['--user-data-dir=' + profile]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(shutil.which('chromedriver')), options=options)
    try:
        driver.get(arguments.url)
        page = Page(driver)
        # Reading beyond loopback needs the token: the page asks for it.
        page.wait(10, lambda p: driver.find_element(By.ID, 'token-box').is_displayed())
        with open(arguments.token_file) as f:
            driver.find_element(By.ID, 'token').send_keys(f.read().strip())
        driver.find_element(By.ID, 'use-token').click()
        answer('ready', page=arguments.url)
        for words in map(str.split, sys.stdin):
            if words == ['quit']:
                break
            if words and words[0] in ('rows', 'offline', 'online', 'click', 'seek', 'trim', 'shot'):
                getattr(page, words[0])(*words[1:])
            else:
                answer('unknown', line=' '.join(words))
        answer('page', console=json.dumps([e['message'] for e in driver.get_log('browser')]))
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == '__main__':
    main()
