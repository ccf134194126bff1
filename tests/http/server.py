#!/usr/bin/python3
"""A small HTTP server for the tests of http urls: it listens on 127.0.0.1 on a free port, writes
the port to the file named on its command line, and answers until it is killed.

/text        a UTF-8 text of two lines, with two Set-Cookie headers
/binary      the bytes 0 to 255
/empty       no body
/status/N    status N with the body "status N"
/redirect    a 302 to /text
/echo        the method, the request headers it was sent (X-* and the defaults) and the body
"""
import http.server
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length else b""
        path = self.path
        if path == "/text":
            self.reply(200, "héllo\r\nworld\n".encode(), [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"), ("X-Tight", "v")])
        elif path == "/binary":
            self.reply(200, bytes(range(256)), [("Content-Type", "application/octet-stream")])
        elif path == "/empty":
            self.reply(200, b"")
        elif path.startswith("/status/"):
            code = int(path[8:])
            self.reply(code, f"status {code}".encode())
        elif path == "/redirect":
            self.reply(302, b"", [("Location", "/text")])
        elif path == "/echo":
            seen = [f"{k}={v}" for k, v in self.headers.items()
                    if k.lower().startswith("x-") or k in ("Content-Type", "Accept-Charset")]
            body = (self.command + "|" + ";".join(seen) + "|").encode() + data
            self.reply(200, body)
        else:
            self.reply(404, b"no such page")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = answer


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
