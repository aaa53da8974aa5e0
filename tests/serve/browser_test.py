#!/usr/bin/env python3
"""The panel in a real browser: headless chromium loads the page, with a token, from a running
`vm316 serve` on the simulated board (channel 1 on the board's 1 kHz square-wave output,
channel 2 on a sine), waits for records, checks that the address bar keeps no token, reads the
DOM, takes a screenshot and checks that its pixels show both traces in their colours; then a
32 760-sample record; then a page of another origin that tries to frame the panel. Prints the
records per second that reached the page and the CPU time of `serve` while streaming and while
idle.

usage: browser_test.py VM316 WORK_DIR [CALIBRATION_DIR]
Exit 77 (skipped) when chromium is not installed.
"""
import base64
import http.server
import json
import os
import re
import secrets
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zlib

SKIPPED = 77
CH1_RGB = (0xFF, 0xD4, 0x00)
CH2_RGB = (0x00, 0xC8, 0xFF)
# Bounds on waits that guard against a hang; no assertion depends on how fast anything is.
START_LIMIT_S = 120
RECORD_LIMIT_S = 60
STREAM_SECONDS = 5
IDLE_SECONDS = 5


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """Chromium driven through its DevTools protocol on a pipe (fds 3 and 4): no web socket
    client needed, and nothing listens on the network."""

    def __init__(self, chromium, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        os.dup2(to_browser_r, 100)
        os.dup2(from_browser_w, 101)

        def wire_pipes():
            os.dup2(100, 3)
            os.dup2(101, 4)

        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--remote-debugging-pipe",
                 "--window-size=1400,1000", "--hide-scrollbars", "about:blank"]
        self.process = subprocess.Popen([chromium] + flags, preexec_fn=wire_pipes, pass_fds=(3, 4),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for fd in (to_browser_r, from_browser_w, 100, 101):
            os.close(fd)
        self.next_id = 0
        self.buffer = b""
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", session=True, width=1400, height=1000,
                  deviceScaleFactor=1, mobile=False)

    def call(self, method, session=False, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + RECORD_LIMIT_S
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                answer = json.loads(raw)
                if answer.get("id") == self.next_id:
                    if "error" in answer:
                        fail(f"{method}: {answer['error']}")
                    return answer.get("result", {})
            if time.monotonic() > deadline:
                fail(f"the browser did not answer {method}")
            ready, _, _ = select.select([self.from_browser], [], [], 1.0)
            if ready:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    fail("the browser closed its pipe")
                self.buffer += chunk

    def evaluate(self, expression, context=None):
        params = {"contextId": context} if context else {}
        result = self.call("Runtime.evaluate", session=True, expression=expression,
                           returnByValue=True, awaitPromise=True, **params)
        return result["result"].get("value")

    def in_frame(self, name, expression):
        """The value of `expression` in the child frame called `name`, or None when there is no
        such frame (yet)."""
        tree = self.call("Page.getFrameTree", session=True)["frameTree"]
        for child in tree.get("childFrames", []):
            if child["frame"].get("name") == name:
                world = self.call("Page.createIsolatedWorld", session=True,
                                  frameId=child["frame"]["id"], grantUniveralAccess=True)
                return self.evaluate(expression, world["executionContextId"])
        return None

    def wait_for(self, expression, what):
        deadline = time.monotonic() + RECORD_LIMIT_S
        while time.monotonic() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.2)
        fail("timed out waiting for " + what)

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def read_png(data):
    """Width, height and rows of RGB tuples of an 8-bit RGB or RGBA PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("the screenshot is not a PNG")
    at, idat = 8, b""
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        kind = data[at + 4:at + 8]
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height = int.from_bytes(body[0:4], "big"), int.from_bytes(body[4:8], "big")
            depth, colour = body[8], body[9]
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    if depth != 8 or colour not in (2, 6):
        fail(f"unexpected PNG format: depth {depth}, colour type {colour}")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def count_colour(rows, box, rgb, tolerance=40):
    left, top, right, bottom = box
    return sum(1 for y in range(top, bottom) for x in range(left, right)
               if all(abs(a - b) <= tolerance for a, b in zip(rows[y][x], rgb)))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.monotonic() - start)


def start_server(vm316, work, calibration):
    state = os.path.join(work, "state")
    os.makedirs(state, exist_ok=True)
    if calibration:
        for name in ("Vemora1.Cal", "Vemora2.Cal"):
            shutil.copy(os.path.join(calibration, name), state)
    token_file = os.path.join(work, "token")
    with open(token_file, "w") as out:
        out.write(secrets.token_hex(16) + "\n")
    env = dict(os.environ, VM316_CLOCK="real", VM316_MESSAGES="quiet")
    server = subprocess.Popen(
        [vm316, "serve", "--listen", "127.0.0.1:0", "--cal-dir", state, "--sim-ch1", "generator",
         "--sim-ch2", "sine:freq=300,amp=2", "--token-file", token_file],
        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + START_LIMIT_S
    while time.monotonic() < deadline:
        ready, _, _ = select.select([server.stdout], [], [], 1.0)
        if ready:
            line = server.stdout.readline()
            match = re.search(r"panel at (http://\S+)", line)
            if match:
                return server, match.group(1)
            if not line:
                break
        if server.poll() is not None:
            break
    server.kill()
    fail("vm316 serve did not start: " + server.stderr.read())


def serve_other_origin(panel_url):
    """A page of another origin (another port) that frames the panel, and beside it a page of
    its own that has no policy against framing: the control that frames are read right."""
    pages = {
        "/": f'<!doctype html><iframe name="panel" src="{panel_url}"></iframe>'
             '<iframe name="control" src="/framable"></iframe>',
        "/framable": '<!doctype html><canvas id="screen"></canvas>',
    }

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = pages.get(self.path, "").encode()
            self.send_response(200 if body else 404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    other = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=other.serve_forever, daemon=True).start()
    return other


def check_framing(browser, panel_url):
    other = serve_other_origin(panel_url)
    try:
        browser.call("Page.navigate", session=True,
                     url=f"http://127.0.0.1:{other.server_address[1]}/")
        has_screen = "!!document.getElementById('screen')"
        deadline = time.monotonic() + RECORD_LIMIT_S
        while not browser.in_frame("control", has_screen):
            if time.monotonic() > deadline:
                fail("the control frame never showed its page")
            time.sleep(0.2)
        time.sleep(1)  # the panel's frame had as long, and longer
        if browser.in_frame("panel", has_screen):
            fail("a page of another origin framed the panel")
    finally:
        other.shutdown()


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    vm316, work = sys.argv[1], sys.argv[2]
    calibration = sys.argv[3] if len(sys.argv) > 3 else None
    chromium = find_chromium()
    if chromium is None:
        print("chromium is not installed: skipped")
        return SKIPPED
    os.makedirs(work, exist_ok=True)
    server, url = start_server(vm316, work, calibration)
    profile = tempfile.mkdtemp(prefix="vm316-chromium-")
    browser = None
    try:
        browser = Browser(chromium, profile)
        browser.call("Page.enable", session=True)
        browser.call("Page.navigate", session=True, url=url)
        freq = browser.wait_for(
            "(() => { const t = document.getElementById('m1-freq');"
            " return t && t.textContent === '1.000 kHz' ? t.textContent : null; })()",
            "channel 1 to read 1.000 kHz")
        # The cookie carries the token now: it is gone from the address bar and the history,
        # and a download needs no more than the cookie.
        address = browser.evaluate("location.href")
        if "token" in address:
            fail(f"the address bar still holds the token: {address}")
        status = browser.evaluate("fetch('api/record.csv').then(r => r.status)")
        if status != 200:
            fail(f"a download with the cookie alone answered {status}")
        # Let the rate settle over a full window of arrivals before reading it.
        time.sleep(STREAM_SECONDS)
        streaming = cpu_share(server.pid, STREAM_SECONDS)
        rate_1000 = float(browser.evaluate("document.getElementById('rps').dataset.rate"))
        dom = browser.evaluate("document.documentElement.outerHTML")
        with open(os.path.join(work, "panel.html"), "w") as out:
            out.write(dom)
        for needed in ('id="m1-freq">1.000 kHz<', "Trig'd", "CH1 2 V/div", "CH2 2 V/div",
                       "1 ms/div", "100 kHz, 1000 samples"):
            if needed not in dom:
                fail(f"the page does not show {needed!r}")
        ch2_freq = browser.evaluate("document.getElementById('m2-freq').textContent")
        if not re.fullmatch(r"(299|300|301)\.\d Hz", ch2_freq or ""):
            fail(f"channel 2 reads {ch2_freq!r}, not the 300 Hz sine")

        # A value the board refuses: the reason and the value in force stand by the control.
        browser.evaluate(
            "(() => { const c = document.querySelector('[data-key=\"ch1.dc\"]');"
            " c.value = '100'; c.dispatchEvent(new Event('change')); return true; })()")
        note = browser.wait_for(
            "document.querySelector('[data-note=\"ch1.dc\"].refused')?.textContent",
            "the refusal of a DC level of 100 V")
        if "within twice the range" not in note or "in force: 0 V" not in note:
            fail(f"the refusal reads {note!r}")

        box = json.loads(browser.evaluate(
            "JSON.stringify((r => [r.left, r.top, r.right, r.bottom])"
            "(document.getElementById('screen').getBoundingClientRect()))"))
        shot = base64.b64decode(
            browser.call("Page.captureScreenshot", session=True, format="png")["data"])
        with open(os.path.join(work, "panel.png"), "wb") as out:
            out.write(shot)
        width, height, rows = read_png(shot)
        canvas = (max(0, int(box[0]) + 2), max(0, int(box[1]) + 2),
                  min(width, int(box[2]) - 2), min(height, int(box[3]) - 2))
        yellow = count_colour(rows, canvas, CH1_RGB)
        cyan = count_colour(rows, canvas, CH2_RGB)
        # A trace across the screen is at least a line of pixels as wide as the canvas.
        least = (canvas[2] - canvas[0]) // 2
        if yellow < least or cyan < least:
            fail(f"the traces are not on the screen: {yellow} channel-1 and {cyan} channel-2 "
                 f"pixels, at least {least} each expected")

        # The longest record the board takes: it must arrive and be drawn, and keep coming.
        browser.evaluate(
            "(() => { const c = document.querySelector('[data-key=\"length\"]');"
            " c.value = '32760'; c.dispatchEvent(new Event('change')); return true; })()")
        browser.wait_for("document.getElementById('scalet').textContent.includes('32760 samples')",
                         "a 32760-sample record on the screen")
        first = int(browser.evaluate("document.getElementById('seq').textContent.slice(1)"))
        browser.wait_for(
            f"Number(document.getElementById('seq').textContent.slice(1)) > {first + 2}",
            "more 32760-sample records")
        if browser.evaluate("document.getElementById('m1-freq').textContent") != "1.000 kHz":
            fail("channel 1 does not read 1.000 kHz on the long record")
        # 32760 samples at 100 kHz: 32.76 ms a division, off the 1-2-5 steps, is what it shows.
        per_div = browser.evaluate("document.getElementById('tdiv').selectedOptions[0].textContent")
        if per_div != "32.76 ms":
            fail(f"Time/div shows {per_div!r} where 32.76 ms/div is in force")
        time.sleep(STREAM_SECONDS)
        rate_long = float(browser.evaluate("document.getElementById('rps').dataset.rate"))

        check_framing(browser, url)

        browser.close()
        browser = None
        time.sleep(IDLE_SECONDS + 1)  # the acquisition rests once no panel asks
        idle = cpu_share(server.pid, IDLE_SECONDS)
        print(f"channel 1: {freq}; channel 2: {ch2_freq}")
        print(f"screenshot: {os.path.join(work, 'panel.png')} ({yellow} channel-1, {cyan} "
              f"channel-2 pixels)")
        print(f"records/s to the browser: {rate_1000:.1f} (1000 samples), "
              f"{rate_long:.1f} (32760 samples)")
        print(f"CPU of vm316 serve: {100 * streaming:.1f} % streaming, {100 * idle:.1f} % idle")
        return 0
    finally:
        if browser:
            browser.close()
        server.send_signal(signal.SIGINT)
        try:
            code = server.wait(20)
        except subprocess.TimeoutExpired:
            server.kill()
            fail("vm316 serve did not stop on Ctrl-C")
        if code != 0:
            fail(f"vm316 serve ended with {code} on Ctrl-C: {server.stderr.read()}")
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
