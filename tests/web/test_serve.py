#!/usr/bin/env python3
"""tools/web --serve's server (web/serve.py) on a scratch site: a long test URL
loads, a path with a NUL byte gets 400, and a second server on the same port
says so in one line. Usage: test_serve.py SERVE_PY"""
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time

serve = sys.argv[1]
site = tempfile.mkdtemp()
with open(os.path.join(site, "index.html"), "w") as page:
    page.write("<!doctype html>")
with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]

server = subprocess.Popen([sys.executable, serve, site, str(port)], stderr=subprocess.DEVNULL)
failures = 0


def check(ok, what, detail=""):
    global failures
    print(("ok   " if ok else "FAIL ") + what + (": " + detail if detail else ""))
    failures += not ok


def status(path):
    for _ in range(100):
        try:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            connection.request("GET", path)
            return connection.getresponse().status
        except ConnectionRefusedError:
            time.sleep(0.05)
    return None


try:
    ticks = ",".join(str(15000 + k) for k in range(20000))  # 120 KB
    code = status("/?ticks=" + ticks)
    check(code == 200, "a test URL of 20,000 ticks loads", f"status {code}")
    code = status("/index.html%00")
    check(code == 400, "a path with %00 gets 400", f"status {code}")
    second = subprocess.run([sys.executable, serve, site, str(port)], capture_output=True, text=True,
                            timeout=30)
    check(second.returncode == 1 and second.stderr.count("\n") == 1 and
          f"port {port} is already in use" in second.stderr,
          "a port already taken is said in one line", repr(second.stderr))
finally:
    server.terminate()
    server.wait()
sys.exit(1 if failures else 0)
