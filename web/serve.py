#!/usr/bin/env python3
"""Serves a built site on 127.0.0.1 for tools/web --serve: Python's own static
file server, mended in three places.

  - A port already taken is said in one line (exit status 1), not a traceback.
  - A request whose path holds a NUL byte (%00) gets the reply 400; the
    standard server fails on it with a traceback and an empty reply.
  - A request line may run to 4 MiB, so that a test-mode URL with thousands of
    ticks (?ticks=...) loads; the standard server refuses lines past 64 KiB
    with 414. Longer still is refused with 414 and a page that says so.

Usage: serve.py DIR PORT   (until interrupted)
"""
import errno
import functools
import http.server
import sys
import urllib.parse

MAX_REQUEST_LINE = 4 * 1024 * 1024


class Handler(http.server.SimpleHTTPRequestHandler):
    def handle_one_request(self):
        # The standard handler's steps, with the longer request line.
        try:
            self.raw_requestline = self.rfile.readline(MAX_REQUEST_LINE + 1)
            if len(self.raw_requestline) > MAX_REQUEST_LINE:
                self.requestline = self.request_version = self.command = ""
                self.send_error(414, explain="A request line of this server is at most 4 MiB: "
                                "give the test a shorter schedule (fps=N&start=MS&frames=COUNT).")
                return
            if not self.raw_requestline:
                self.close_connection = True
                return
            if not self.parse_request():
                return
            method = getattr(self, "do_" + self.command, None)
            if method is None:
                self.send_error(501, "Unsupported method (%r)" % self.command)
                return
            method()
            self.wfile.flush()
        except TimeoutError as error:
            self.log_error("Request timed out: %r", error)
            self.close_connection = True

    def send_head(self):
        if "\0" in urllib.parse.unquote(urllib.parse.urlsplit(self.path).path):
            self.send_error(400, "The path holds a NUL byte (%00)")
            return None
        return super().send_head()

    def log_message(self, format, *args):
        # The request line can be megabytes long: the log gets its start.
        message = format % args
        sys.stderr.write("%s - %s\n" % (self.address_string(),
                                        message if len(message) <= 200 else message[:200] + "..."))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: serve.py DIR PORT")
    directory, port = sys.argv[1], int(sys.argv[2])
    handler = functools.partial(Handler, directory=directory)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError as error:
        if error.errno == errno.EADDRINUSE:
            sys.exit(f"tools/web: port {port} is already in use; give another: "
                     f"tools/web --serve PORT")
        sys.exit(f"tools/web: cannot serve on 127.0.0.1:{port}: {error.strerror}")
    with server:
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
