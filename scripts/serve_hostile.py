#!/usr/bin/env python3
"""Measures what `vm316 serve` holds against, at the sizes of the reports that found the faults
(not the bounded sizes of tests/serve): slow connections beside a normal client, floods of
headers, ranges and bodies, many polling panels, posts while a long record is taken, and
Ctrl-C with slow connections open. Prints the figures that docs/serve.md lists.

usage: scripts/serve_hostile.py BUILD_DIR   (needs BUILD_DIR/vm316 and the calibration of
                                            BUILD_DIR/tests/cli_calibration)
Loopback only; every loop is bounded.
"""
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def memory_kb(pid, field="VmHWM"):
    """The peak resident memory of a process (or another field of its status), in kB."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


class Server:
    def __init__(self, build, extra=()):
        self.root = tempfile.mkdtemp(prefix="vm316-hostile-")
        state = os.path.join(self.root, "state")
        os.makedirs(state)
        for name in ("Vemora1.Cal", "Vemora2.Cal"):
            shutil.copy(os.path.join(build, "tests", "cli_calibration", name), state)
        env = dict(os.environ, VM316_CLOCK="real", VM316_MESSAGES="quiet")
        self.process = subprocess.Popen(
            [os.path.join(build, "vm316"), "serve", "-q", "--listen", "127.0.0.1:0",
             "--cal-dir", state, *extra], env=env, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        self.port = int(re.search(r":(\d+)/", line).group(1))
        self.host = f"127.0.0.1:{self.port}"

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=30)

    def get(self, path, extra="", timeout=10.0, method="GET"):
        """Status and body of one request on a fresh connection, or (0, b'') on a time-out."""
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
                s.sendall(f"{method} {path} HTTP/1.1\r\nHost: {self.host}\r\n{extra}"
                          "Connection: close\r\n\r\n".encode())
                data = b""
                while True:
                    chunk = s.recv(1 << 16)
                    if not chunk:
                        break
                    data += chunk
        except OSError:
            return 0, b""
        head, _, body = data.partition(b"\r\n\r\n")
        return (int(head.split()[1]) if head else 0), body

    def stop(self):
        start = time.monotonic()
        self.process.send_signal(signal.SIGINT)
        code = self.process.wait(60)
        shutil.rmtree(self.root, ignore_errors=True)
        return code, time.monotonic() - start


def normal_client(server, count, seconds):
    """How many of `count` requests, spread over `seconds`, were answered, and how fast."""
    times = []
    for _ in range(count):
        start = time.monotonic()
        status, _ = server.get("/api/state", timeout=seconds)
        if status == 200:
            times.append(time.monotonic() - start)
        time.sleep(max(0.0, seconds / count - (time.monotonic() - start)))
    return times


def slow_clients(build):
    server = Server(build)
    silent = [server.connect() for _ in range(200)]
    trickling = [server.connect() for _ in range(16)]
    stop = threading.Event()

    def trickle():
        for line in range(100):
            for s in trickling:
                try:
                    s.sendall((f"GET /api/state HTTP/1.1\r\n" if line == 0
                               else f"X-Slow-{line}: 1\r\n").encode())
                except OSError:
                    pass
            if stop.wait(3.0):
                return

    thread = threading.Thread(target=trickle)
    thread.start()
    times = normal_client(server, 7, 20)
    cut = 0
    for s in silent + trickling:
        s.setblocking(False)
        try:
            cut += s.recv(1) == b""
        except BlockingIOError:
            pass
        except OSError:
            cut += 1
    stop.set()
    thread.join()
    print(f"200 silent + 16 trickling connections: the normal client got {len(times)} of 7 "
          f"answers in 20 s, median {1000 * statistics.median(times):.1f} ms, "
          f"longest {1000 * max(times):.1f} ms; {cut} of 216 slow connections cut by then")
    # Ctrl-C with them open again.
    silent = [server.connect() for _ in range(200)]
    trickling = [server.connect() for _ in range(16)]
    stop.clear()
    thread = threading.Thread(target=trickle)
    thread.start()
    time.sleep(1)
    peak = memory_kb(server.process.pid)
    code, took = server.stop()
    stop.set()
    thread.join()
    print(f"Ctrl-C with 216 slow connections open: exit {code} after {took:.2f} s; "
          f"peak memory {peak // 1024} MB")


def floods(build):
    server = Server(build)
    pid = server.process.pid
    base = memory_kb(pid, "VmRSS")
    line = b"X-Flood: " + b"a" * 1000 + b"\r\n"

    def header_flood():
        s = server.connect()
        sent = 0
        try:
            s.sendall(f"GET /api/state HTTP/1.1\r\nHost: {server.host}\r\n".encode())
            for _ in range(100000):
                s.sendall(line)
                sent += len(line)
        except OSError:
            pass
        s.close()
        return sent

    threads = [threading.Thread(target=header_flood) for _ in range(9)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(f"9 floods of 100 000 header lines of 1 kB at once: peak {memory_kb(pid) // 1024} MB "
          f"(at rest before: {base // 1024} MB)")

    server.get("/api/record?after=0")
    status, whole = server.get("/api/record.csv")
    ranges = "Range: bytes=0-" + ",0-" * 999 + "\r\n"
    results = []

    def range_flood():
        results.append(server.get("/api/record.csv", ranges))

    threads = [threading.Thread(target=range_flood) for _ in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(f"3 GETs of the CSV with 1000 ranges at once: statuses "
          f"{[r[0] for r in results]}, {max(len(r[1]) for r in results)} bytes each "
          f"(the CSV alone: {len(whole)} bytes); peak {memory_kb(pid) // 1024} MB")

    def body_flood(chunked):
        s = server.connect()
        sent = 0
        head = (f"POST /api/settings?run=run HTTP/1.1\r\nHost: {server.host}\r\nX-VM316-Panel: 1\r\n"
                "Content-Type: application/octet-stream\r\n")
        head += "Transfer-Encoding: chunked\r\n\r\n" if chunked else "Content-Length: 268435456\r\n\r\n"
        piece = b"a" * (1 << 16)
        try:
            s.sendall(head.encode())
            answer = b""
            for _ in range(4096):  # 256 MB
                s.sendall((b"10000\r\n" + piece + b"\r\n") if chunked else piece)
                sent += len(piece)
        except OSError:
            pass
        try:
            answer = s.recv(200)
        except OSError:
            answer = b""
        s.close()
        return sent, answer.split(b"\r\n")[0].decode(errors="replace")

    for chunked in (False, True):
        sent, answer = body_flood(chunked)
        print(f"a {'chunked ' if chunked else ''}body of 256 MB: cut after {sent // 1024} kB "
              f"had left the client ({answer or 'connection closed'}); "
              f"peak {memory_kb(pid) // 1024} MB")
    code, took = server.stop()


def pollers(build, count=64, seconds=10.0):
    server = Server(build)
    got = [0] * count

    def poll(index):
        after = 0
        end = time.monotonic() + seconds
        s = server.connect()
        while time.monotonic() < end:
            s.sendall(f"GET /api/record?after={after} HTTP/1.1\r\nHost: {server.host}\r\n\r\n"
                      .encode())
            data = b""
            while b"\r\n\r\n" not in data:
                data += s.recv(1 << 16)
            head, _, body = data.partition(b"\r\n\r\n")
            length = int(re.search(rb"Content-Length: (\d+)", head).group(1))
            while len(body) < length:
                body += s.recv(1 << 16)
            if head.startswith(b"HTTP/1.1 200"):
                after = int(re.search(rb'"sequence":(\d+)', body[:200]).group(1))
                got[index] += 1

    threads = [threading.Thread(target=poll, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    peak = memory_kb(server.process.pid)
    server.stop()
    print(f"{count} polling clients for {seconds:.0f} s: every one got records: "
          f"{min(got) > 0}; records/s per client {min(got) / seconds:.1f} to "
          f"{max(got) / seconds:.1f}; peak {peak // 1024} MB")


def posts_during_long_record(build):
    server = Server(build)
    server.get("/api/settings?rate=100k&length=32760&trigger.source=none", "X-VM316-Panel: 1\r\n",
               method="POST")
    _, state = server.get("/api/state")
    first = int(re.search(rb'"sequence":(\d+)', state).group(1))
    end = time.monotonic() + 10
    while time.monotonic() < end:
        server.get("/api/settings?rate=100k", "X-VM316-Panel: 1\r\n", method="POST")
        server.get("/api/record?after=0")
        time.sleep(0.3)
    _, state = server.get("/api/state")
    last = int(re.search(rb'"sequence":(\d+)', state).group(1))
    server.stop()
    print(f"32 760 samples at 100 kHz, a post of an unchanged rate every 300 ms for 10 s: "
          f"{last - first} records (the board's limit: 30)")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    slow_clients(build)
    floods(build)
    pollers(build)
    posts_during_long_record(build)


if __name__ == "__main__":
    main()
