#!/usr/bin/env python3
"""The panel in a real browser: headless chromium loads the page, with a token, from a running
`vm316 serve` on the simulated board (channel 1 on the board's 1 kHz square-wave output,
channel 2 on a sine), waits for records, checks that the address bar keeps no token, reads the
DOM, takes a screenshot and checks that its pixels show both traces in their colours; reads the
panel's sigrok download back with the real sigrok-cli; shows the Spectrum view (the peaks at the
inputs' frequencies) and takes its screenshot; then a 32 760-sample record; then a page of
another origin that tries to frame the panel; then the XY view on two more servers, two sines
90 degrees apart (a circle: the drawn pixels lie at one radius all round) and in phase (a line
at 45 degrees), with a screenshot of the circle. Prints the records per second that reached the
page and the CPU time of `serve` while streaming and while idle.

usage: browser_test.py VM316 WORK_DIR [CALIBRATION_DIR]
Exit 77 (skipped) when chromium is not installed.
"""
import base64
import http.server
import json
import math
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
XY_RGB = (0x7D, 0xFF, 0x7A)
# The XY test's inputs: 1.5 V sines on the 2 V range draw a figure of 3/4 of the half-screen.
XY_AMPLITUDE = 1.5
XY_RANGE = 2
XY_RADIUS_SHARE = XY_AMPLITUDE / XY_RANGE
# The figure is drawn from 8-bit samples: from the centre to the edge of the square (half its
# side) are 128 code steps. A circle's radius may move by a few steps (quantisation, the
# converter's noise, each channel's offset) and the line's width.
CODE_STEPS_PER_HALF = 128
CIRCLE_STEPS = 4
LINE_WIDTH_PX = 2
RADIUS_SHARE_TOLERANCE = 0.03
LINE_THINNESS = 0.03
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


def start_server(vm316, work, calibration, ch1="generator", ch2="sine:freq=300,amp=2",
                 name="state"):
    state = os.path.join(work, name)
    os.makedirs(state, exist_ok=True)
    if calibration:
        for name in ("Vemora1.Cal", "Vemora2.Cal"):
            shutil.copy(os.path.join(calibration, name), state)
    token_file = os.path.join(work, "token")
    with open(token_file, "w") as out:
        out.write(secrets.token_hex(16) + "\n")
    env = dict(os.environ, VM316_CLOCK="real", VM316_MESSAGES="quiet")
    server = subprocess.Popen(
        [vm316, "serve", "--listen", "127.0.0.1:0", "--cal-dir", state, "--sim-ch1", ch1,
         "--sim-ch2", ch2, "--token-file", token_file],
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


def stop_server(server):
    server.send_signal(signal.SIGINT)
    try:
        code = server.wait(20)
    except subprocess.TimeoutExpired:
        server.kill()
        fail("vm316 serve did not stop on Ctrl-C")
    if code != 0:
        fail(f"vm316 serve ended with {code} on Ctrl-C: {server.stderr.read()}")


def screenshot(browser, path):
    """Saves the page as a PNG and returns its pixels and the canvas's box within them."""
    box = json.loads(browser.evaluate(
        "JSON.stringify((r => [r.left, r.top, r.right, r.bottom])"
        "(document.getElementById('screen').getBoundingClientRect()))"))
    shot = base64.b64decode(
        browser.call("Page.captureScreenshot", session=True, format="png")["data"])
    with open(path, "wb") as out:
        out.write(shot)
    width, height, rows = read_png(shot)
    canvas = (max(0, int(box[0]) + 2), max(0, int(box[1]) + 2),
              min(width, int(box[2]) - 2), min(height, int(box[3]) - 2))
    return rows, canvas


def check_sigrok_download(browser, work):
    """The panel's sigrok link gives a file the real sigrok-cli reads, with the record's rate
    and sample count."""
    sigrok = shutil.which("sigrok-cli")
    fetched = json.loads(browser.evaluate(
        "fetch(document.getElementById('sr').href).then(async r => {"
        " const bytes = new Uint8Array(await r.arrayBuffer()); let text = '';"
        " for (const b of bytes) text += String.fromCharCode(b);"
        " return JSON.stringify({status: r.status, data: btoa(text),"
        " name: r.headers.get('Content-Disposition')}); })"))
    if fetched["status"] == 404 and not sigrok:
        return "skipped: no sigrok session files in this build and no sigrok-cli"
    if fetched["status"] != 200:
        fail(f"the panel's sigrok link answered {fetched['status']}")
    match = re.search(r"vm316-record-(\d+)\.sr", fetched["name"] or "")
    if not match:
        fail(f"the sigrok download is named {fetched['name']!r}")
    path = os.path.join(work, "panel.sr")
    with open(path, "wb") as out:
        out.write(base64.b64decode(fetched["data"]))
    if not sigrok:
        return "sigrok-cli is not installed: the file was not read back"
    shown = subprocess.run([sigrok, "-i", path, "--show"], capture_output=True, text=True,
                           timeout=RECORD_LIMIT_S)
    if shown.returncode != 0:
        fail(f"sigrok-cli could not read the panel's download: {shown.stderr}")
    rate = re.search(r"Samplerate: (\d+)", shown.stdout)
    count = re.search(r"Analog sample count: (\d+)", shown.stdout)
    settings = browser.evaluate("state.settings")
    if not rate or int(rate.group(1)) != round(settings["rate"]):
        fail(f"sigrok-cli reads another rate than {settings['rate']} Hz: {shown.stdout}")
    if not count or int(count.group(1)) != settings["length"]:
        fail(f"sigrok-cli reads another sample count than {settings['length']}: {shown.stdout}")
    return f"sigrok-cli reads {count.group(1)} samples at {rate.group(1)} Hz"


def check_spectrum(browser, work):
    browser.evaluate("document.querySelector('[data-view=\"spectrum\"]').click(), true")
    text = browser.wait_for(
        "(() => { const t = document.getElementById('spectrum-text').textContent;"
        " return /ch1 spectrum \\(hann, [^)]*\\): peak 1\\.000 kHz/.test(t)"
        " && /ch2 spectrum \\(hann, [^)]*\\): peak 300\\.0 Hz/.test(t) ? t : null; })()",
        "the spectrum's peaks at 1 kHz (channel 1) and 300 Hz (channel 2)")
    # The flat-top window over 10 000 samples (10 Hz a bin) for the screenshot: the square
    # wave's odd harmonics, each line narrow, and the sine's line clear of 0 Hz.
    browser.evaluate("post({'ch1.dc': '0', length: '10000'}).then(() => true)")
    browser.evaluate(
        "(() => { const w = document.getElementById('window'); w.value = 'flattop';"
        " w.dispatchEvent(new Event('change')); return true; })()")
    text = browser.wait_for(
        "(() => { const t = document.getElementById('spectrum-text').textContent;"
        " return /ch1 spectrum \\(flattop, 10\\.00 Hz a bin\\): peak 1\\.000 kHz/.test(t)"
        " && /ch2 spectrum \\(flattop, [^)]*\\): peak 300\\.0 Hz/.test(t) ? t : null; })()",
        "the spectrum of 10 000 samples through the flat-top window")
    rows, canvas = screenshot(browser, os.path.join(work, "serve-spectrum.png"))
    yellow = count_colour(rows, canvas, CH1_RGB)
    cyan = count_colour(rows, canvas, CH2_RGB)
    least = (canvas[2] - canvas[0]) // 2
    if yellow < least or cyan < least:
        fail(f"the spectra are not on the screen: {yellow} channel-1 and {cyan} channel-2 pixels")
    browser.evaluate("document.querySelector('[data-view=\"time\"]').click(), true")
    browser.evaluate("post({length: '1000'}).then(() => true)")
    return text.splitlines()[0]


def drawn_xy_points(browser):
    """The canvas pixels in the XY figure's colour, read from the canvas itself."""
    r, g, b = XY_RGB
    return json.loads(browser.evaluate(
        "(() => { const c = document.getElementById('screen');"
        " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
        " const points = [];"
        " for (let y = 0; y < c.height; y++) for (let x = 0; x < c.width; x++) {"
        "  const i = 4 * (y * c.width + x);"
        f"  if (Math.abs(d[i] - {r}) < 40 && Math.abs(d[i + 1] - {g}) < 40"
        f" && Math.abs(d[i + 2] - {b}) < 40) points.push([x, y]); }}"
        " return JSON.stringify({points, width: c.width, height: c.height}); })()"))


def xy_figure(browser, vm316, work, calibration, phase, name):
    """Starts a server with two 1 kHz sines `phase` degrees apart, shows the XY view and
    returns the pixels it drew, the canvas size and the pixels of a screenshot."""
    sine = f"sine:freq=1000,amp={XY_AMPLITUDE}"
    server, url = start_server(vm316, work, calibration, sine, f"{sine},phase={phase}", name)
    try:
        browser.call("Page.navigate", session=True, url=url)
        browser.wait_for("document.getElementById('m1-freq')?.textContent === '1.000 kHz'",
                         "records of the XY inputs")
        # The level first: on the new ranges the default 2.5 V would be held at their edge.
        browser.evaluate("post({'trigger.level': '0'}).then(() => true)")
        browser.evaluate(f"post({{'ch1.range': '{XY_RANGE}', 'ch2.range': '{XY_RANGE}'}})"
                         ".then(() => true)")
        browser.evaluate("document.querySelector('[data-view=\"xy\"]').click(), true")
        browser.wait_for(
            "state.settings.xy && lastRecord && lastRecord.xy"
            f" && lastRecord.channels[1].range === {XY_RANGE}"
            " && document.getElementById('scalet').textContent.includes('board in XY')",
            "a record taken in XY on the screen")
        drawn = drawn_xy_points(browser)
        screenshot(browser, os.path.join(work, f"serve-xy-{name}.png"))
        # Leaving the view takes the board out of XY.
        browser.evaluate("document.querySelector('[data-view=\"time\"]').click(), true")
        browser.wait_for("fetch('api/state', {headers}).then(r => r.json())"
                         ".then(s => s.settings.xy === false)", "XY off with the Time view")
        return drawn
    finally:
        stop_server(server)


def check_circle(drawn):
    points = drawn["points"]
    if len(points) < 500:
        fail(f"the XY view drew {len(points)} pixels of its figure")
    half = min(drawn["width"], drawn["height"]) / 2
    step = half / CODE_STEPS_PER_HALF
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    cx, cy = (min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2
    if math.hypot(cx - drawn["width"] / 2, cy - drawn["height"] / 2) > step + LINE_WIDTH_PX:
        fail(f"the circle's centre ({cx:.0f}, {cy:.0f}) is off the screen's middle")
    radii = [math.hypot(x - cx, y - cy) for x, y in points]
    mean = sum(radii) / len(radii)
    deviation = max(abs(r - mean) for r in radii)
    expected = XY_RADIUS_SHARE * half
    if deviation > CIRCLE_STEPS * step + LINE_WIDTH_PX / 2 or \
            abs(mean / expected - 1) > RADIUS_SHARE_TOLERANCE:
        fail(f"not a circle of radius {expected:.0f} px: radius {min(radii):.1f} to "
             f"{max(radii):.1f} px around ({cx:.0f}, {cy:.0f})")
    sectors = {int(math.degrees(math.atan2(y - cy, x - cx)) // 10) for x, y in points}
    if len(sectors) < 36:
        fail(f"the circle is open: {36 - len(sectors)} of 36 sectors hold no pixel")
    return f"circle of radius {mean:.1f} px ({min(radii):.1f} to {max(radii):.1f})"


def check_line(drawn):
    points = drawn["points"]
    if len(points) < 200:
        fail(f"the XY view drew {len(points)} pixels of its figure")
    n = len(points)
    cx = sum(p[0] for p in points) / n
    cy = sum(p[1] for p in points) / n
    sxx = sum((x - cx) ** 2 for x, _ in points) / n
    syy = sum((y - cy) ** 2 for _, y in points) / n
    sxy = sum((x - cx) * (y - cy) for x, y in points) / n
    # The principal axes of the pixels: a line has one long and one short.
    half_trace, det = (sxx + syy) / 2, sxx * syy - sxy * sxy
    root = math.sqrt(max(0.0, half_trace * half_trace - det))
    major, minor = half_trace + root, max(0.0, half_trace - root)
    angle = math.degrees(0.5 * math.atan2(-2 * sxy, sxx - syy))  # screen y points down
    if math.sqrt(minor / major) > LINE_THINNESS or abs(angle - 45) > 2:
        fail(f"not a line at 45 degrees: {angle:.1f} degrees, width/length "
             f"{math.sqrt(minor / major):.3f}")
    return f"line at {angle:.1f} degrees, width/length {math.sqrt(minor / major):.3f}"


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

        rows, canvas = screenshot(browser, os.path.join(work, "panel.png"))
        yellow = count_colour(rows, canvas, CH1_RGB)
        cyan = count_colour(rows, canvas, CH2_RGB)
        # A trace across the screen is at least a line of pixels as wide as the canvas.
        least = (canvas[2] - canvas[0]) // 2
        if yellow < least or cyan < least:
            fail(f"the traces are not on the screen: {yellow} channel-1 and {cyan} channel-2 "
                 f"pixels, at least {least} each expected")

        sigrok = check_sigrok_download(browser, work)
        spectrum = check_spectrum(browser, work)

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

        circle = check_circle(xy_figure(browser, vm316, work, calibration, 90, "circle"))
        line = check_line(xy_figure(browser, vm316, work, calibration, 0, "line"))

        browser.close()
        browser = None
        time.sleep(IDLE_SECONDS + 1)  # the acquisition rests once no panel asks
        idle = cpu_share(server.pid, IDLE_SECONDS)
        print(f"channel 1: {freq}; channel 2: {ch2_freq}")
        print(f"screenshot: {os.path.join(work, 'panel.png')} ({yellow} channel-1, {cyan} "
              f"channel-2 pixels)")
        print(f"records/s to the browser: {rate_1000:.1f} (1000 samples), "
              f"{rate_long:.1f} (32760 samples)")
        print(f"sigrok download: {sigrok}")
        print(f"spectrum: {spectrum}")
        print(f"XY: 90 degrees apart a {circle}; in phase a {line}")
        print(f"screenshots: {work}/serve-spectrum.png, {work}/serve-xy-circle.png")
        print(f"CPU of vm316 serve: {100 * streaming:.1f} % streaming, {100 * idle:.1f} % idle")
        return 0
    finally:
        if browser:
            browser.close()
        stop_server(server)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
