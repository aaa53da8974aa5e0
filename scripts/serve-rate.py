#!/usr/bin/env python3
"""Records per second that `vm316 serve` delivers to a page, on the simulated board with the
real clock: starts the server, sets the rate (and whatever else is given), then long-polls
/api/record as the page does and counts the records that arrive. docs/performance.md has the
figures.

    scripts/serve-rate.py [--seconds S] [--vm316 build/vm316] [KEY=VALUE ...]

KEY=VALUE are settings of /api/settings (docs/serve.md), default rate=20M; `then` between
them applies what follows a second later (`rate=100k pre=50 then rate=20M`); the server's own
options after `--`, e.g. `-- --sim-ch1 sine:freq=200000,amp=0.5`. Records are counted from
the first one after the last settings.
"""
import argparse
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--vm316", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                        "vm316"))
    parser.add_argument("settings", nargs="*", default=["rate=20M"])
    parser.add_argument("server", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    server_args = [a for a in args.server if a != "--"]
    with tempfile.TemporaryDirectory() as state:
        # The calibration is made once on the virtual clock, which costs no waiting.
        env = dict(os.environ, VM316_CLOCK="virtual")
        subprocess.run([args.vm316, "calibrate", "-q", "--cal-dir", state], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ)
        env.pop("VM316_CLOCK", None)
        proc = subprocess.Popen([args.vm316, "serve", "-q", "--listen", "127.0.0.1:0",
                                 "--cal-dir", state] + server_args,
                                stdout=subprocess.PIPE, text=True, env=env)
        try:
            line = ""
            while "http://" not in line:
                line = proc.stdout.readline()
                if not line:
                    raise SystemExit("the server did not start")
            url = urllib.parse.urlparse(re.search(r"http://\S+", line).group(0))
            host, port = url.hostname, url.port
            headers = {"Host": f"{host}:{port}", "X-VM316-Panel": "1"}

            def request(method, path):
                conn = http.client.HTTPConnection(host, port, timeout=10)
                conn.request(method, path, headers=headers)
                response = conn.getresponse()
                body = response.read()
                conn.close()
                return response.status, body

            # Settings are applied in the groups given (separated by "then"), a second apart.
            groups = [[]]
            for setting in args.settings:
                if setting == "then":
                    groups.append([])
                else:
                    groups[-1].append(setting)
            for i, group in enumerate(groups):
                if i > 0:
                    time.sleep(1.0)
                status, body = request("POST", "/api/settings?" + "&".join(group))
                results = json.loads(body).get("results", []) if status == 200 else body[:200]
                print("settings:", status, [(r.get("key"), r.get("value")) for r in results]
                      if status == 200 else results)
            after, records, first = 0, 0, None
            asked = time.monotonic()
            deadline = asked + args.seconds
            while time.monotonic() < deadline:
                status, body = request("GET", f"/api/record?after={after}")
                if status != 200:
                    continue
                length = int.from_bytes(body[:4], "little")
                header = json.loads(body[4:4 + length])
                after = header["sequence"]
                if first is None:
                    first = time.monotonic()  # counted from the first record on
                    print(f"first record {first - asked:.3f} s after the settings")
                    continue
                records += 1
            elapsed = time.monotonic() - first if first else 0.0
            rate = records / elapsed if elapsed > 0 else 0.0
            print(f"{records} records in {elapsed:.2f} s: {rate:.1f} records/s")
        finally:
            proc.terminate()
            proc.wait()


if __name__ == "__main__":
    sys.exit(main())
