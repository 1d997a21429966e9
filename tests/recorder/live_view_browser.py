#!/usr/bin/env python3
"""A recording from the simulated wrist unit, watched in headless Chromium.

    live_view_browser.py RECORDER PREFIX SCREENSHOT

Runs the recorder with --live on a pseudo-terminal, opens its page through
ChromeDriver (WebDriver over plain HTTP) and checks what the page shows
against what the recording wrote; adds a marker with the page's button and
one with the terminal's key m; saves a screenshot. Exit status 0 when every
check holds, else the failed checks and the recorder's output on stderr.
"""
import base64
import csv
import json
import math
import os
import pty
import socket
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request

CHROME_ARGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--window-size=1280,900",
]

# What the page shows, read from its DOM and from the chart object it keeps.
SNAPSHOT = """
const text = (id) => document.getElementById(id).textContent;
const chart = window.corvaneChart;
const rows = chart ? chart.numRows() : 0;
return {
  rows: rows,
  first: rows ? chart.getValue(0, 0) : null,
  last: rows ? chart.getValue(rows - 1, 0) : null,
  state: text('state'),
  beatTime: document.getElementById('beat').dataset.time,
  beat: [text('systolic'), text('mean'), text('diastolic'), text('hr')],
  device: [text('generation'), text('serial'), text('firmware')],
  rowsShown: text('rows'),
  banners: [...document.querySelectorAll('#banners .banner')].map((b) => [b.dataset.kind, b.textContent]),
  ended: !document.getElementById('ended').hidden,
  summary: text('summary'),
  markerResult: text('marker-result'),
};
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Browser:
    """Chromium through ChromeDriver."""

    def __init__(self, profile):
        port = free_port()
        self.base = f"http://127.0.0.1:{port}"
        self.driver = subprocess.Popen(["/usr/bin/chromedriver", f"--port={port}"],
                                       stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while True:
            try:
                if self.call("GET", "/status").get("ready"):
                    break
            except (urllib.error.URLError, ConnectionError):
                pass
            if time.monotonic() > deadline:
                raise RuntimeError("ChromeDriver did not start")
            time.sleep(0.1)
        options = {"binary": "/usr/bin/chromium", "args": CHROME_ARGS + [f"--user-data-dir={profile}"]}
        capabilities = {"capabilities": {"alwaysMatch": {"goog:chromeOptions": options}}}
        self.session = self.call("POST", "/session", capabilities)["sessionId"]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as reply:
                return json.load(reply)["value"]
        except urllib.error.HTTPError as error:
            raise RuntimeError(f"WebDriver {method} {path}: {error.read().decode()[:300]}")

    def command(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def snapshot(self):
        return self.command("POST", "/execute/sync", {"script": SNAPSHOT, "args": []})

    def element(self, css):
        found = self.command("POST", "/element", {"using": "css selector", "value": css})
        return next(iter(found.values()))

    def wait_for(self, what, condition, seconds):
        deadline = time.monotonic() + seconds
        while True:
            page = self.snapshot()
            if condition(page):
                return page
            if time.monotonic() > deadline:
                raise RuntimeError(f"the page did not show {what} within {seconds} s: {page}")
            time.sleep(0.1)

    def quit(self):
        self.driver.terminate()
        self.driver.wait(10)


class Recorder:
    """The recorder on a pseudo-terminal, its output collected as it comes."""

    def __init__(self, args, cwd):
        self.terminal, follower = pty.openpty()
        self.process = subprocess.Popen(args, stdin=follower, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, cwd=cwd)
        os.close(follower)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode(errors="replace").rstrip("\r\n"))

    def wait_for_line(self, prefix, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for line in list(self.lines):
                if line.startswith(prefix):
                    return line
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError(f"the recorder printed no line starting {prefix!r}")

    def press(self, key):
        os.write(self.terminal, key)

    def output(self):
        self.reader.join(5)
        return "\n".join(self.lines)


def half_up(value):
    """Rounds as the page's toFixed(0) does."""
    return str(int(math.floor(value + 0.5)))


DURATION = 12  # seconds recorded


def main(recorder_path, out, screenshot):
    folder = os.path.dirname(os.path.abspath(out))
    settings = os.path.join(folder, "wrist_unit.txt")
    with open(settings, "w") as file:
        # Already on the firmware the build's image holds: no update first.
        file.write("firmware = 2.1.1.0\n")
    recorder = Recorder([recorder_path, "--wrist-unit-sim", "--sim-settings", settings, "--live",
                         "--duration", str(DURATION), "--out", out, "--overwrite"], folder)
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)

    browser = None
    try:
        url = recorder.wait_for_line("Live view: ", 30).split(": ", 1)[1]
        browser = Browser(os.path.join(folder, "chromium"))
        browser.command("POST", "/url", {"url": url})

        # Four seconds of pressure on the chart, and a beat.
        during = browser.wait_for("four seconds of recording",
                                  lambda p: p["rows"] and p["last"] - p["first"] >= 4
                                  and p["beatTime"], 60)
        check(during["state"] == "Recording", f"state while recording: {during['state']!r}")
        check(during["last"] - during["first"] <= 10.01,
              f"the chart spans more than 10 s: {during['first']} to {during['last']}")
        shown_time = (int(during["rowsShown"]) - 1) / 200
        check(abs(during["last"] - shown_time) < 1.0,
              f"the chart ends at {during['last']} s, the status counts {during['rowsShown']} rows")

        # A marker from the page, then one from the terminal.
        browser.command("POST", f"/element/{browser.element('#marker-text')}/value",
                        {"text": "Stimulus A"})
        browser.command("POST", f"/element/{browser.element('#marker-button')}/click", {})
        browser.wait_for("the page's marker", lambda p: p["markerResult"] == "Marker 1 added", 10)
        recorder.press(b"m")
        marked = browser.wait_for("both markers",
                                  lambda p: sum(k == "marker" for k, _ in p["banners"]) == 2, 10)
        markers = [text for kind, text in marked["banners"] if kind == "marker"]
        check("Marker 1: Stimulus A (page)" in markers[0], f"first marker banner: {markers[0]!r}")
        check("Marker 2 (terminal)" in markers[1], f"second marker banner: {markers[1]!r}")
        check(any(kind == "message" and "HCU not zeroed" in text
                  for kind, text in marked["banners"]),
              f"no banner for the module's message: {marked['banners']}")
        # The screenshot with most of the chart's span filled.
        browser.wait_for("eight seconds on the chart", lambda p: p["last"] - p["first"] >= 8,
                         DURATION)
        os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
        with open(screenshot, "wb") as file:
            file.write(base64.b64decode(browser.command("GET", "/screenshot")))

        ended = browser.wait_for("the end", lambda p: p["ended"], DURATION + 30)
        check(ended["state"] == "Recording ended: recorded", f"state at the end: {ended['state']!r}")
        code = recorder.process.wait(30)
        check(code == 0, f"the recorder exited with {code}")
        output = recorder.output()
        check(ended["summary"].strip() and ended["summary"].strip() in output,
              "the page's summary is not the one the recorder printed")

        # The beat the page showed is the CSV's at its time.
        with open(out + ".csv", newline="") as file:
            table = list(csv.DictReader(file))
        row = next((r for r in table if abs(float(r["time_s"]) - float(during["beatTime"])) < 1e-6),
                   None)
        check(row is not None, f"no CSV row at the beat's time {during['beatTime']}")
        if row:
            columns = ["systolic_mmHg", "mean_mmHg", "diastolic_mmHg", "heart_rate_bpm"]
            expected = [half_up(float(row[c])) for c in columns]
            check(during["beat"] == expected,
                  f"the page showed the beat {during['beat']}, the CSV holds {expected}")
        # The device is the one the recorder's log names.
        with open(out + ".log", encoding="utf-8") as file:
            log = file.read()
        generation, serial, firmware = ended["device"]
        check(f", serial {serial}, version {firmware}," in log and
              f"generation {generation} on " in log,
              f"the page's device {ended['device']} is not the log's")
    except Exception as error:  # the checks so far, and what stopped them
        failures.append(f"{type(error).__name__}: {error}")
    finally:
        if browser:
            browser.quit()
        if recorder.process.poll() is None:
            recorder.process.kill()
            recorder.process.wait()

    if failures:
        print("\n".join(["live view checks failed:"] + failures), file=sys.stderr)
        print("--- the recorder's output:\n" + recorder.output(), file=sys.stderr)
        return 1
    print("live view checks passed; screenshot " + screenshot)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
