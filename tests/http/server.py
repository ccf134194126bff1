#!/usr/bin/python3
"""A small HTTP server for the tests of http urls: it listens on 127.0.0.1 on a free port, writes
the port to the file named on its command line, and answers until it is killed.

/text        a UTF-8 text of two lines, with two Set-Cookie headers
/binary      the bytes 0 to 255
/empty       no body
/status/N    status N with the body "status N"
/redirect    a 302 to /text
/echo        the method, the request headers it was sent (X-* and the defaults) and the body
/values      the text "1 2 three", as text/plain
/script      a Zub script that tells where it runs
/png         a PNG image of 2x1 pixels, as image/png
"""
import http.server
import struct
import sys
import zlib


def png_2x1():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", 2, 1, 8, 2, 0, 0, 0)
    pixels = zlib.compress(bytes([0, 255, 0, 0, 0, 0, 255]))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b"")


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
        elif path == "/values":
            self.reply(200, b"1 2 three", [("Content-Type", "text/plain; charset=utf-8")])
        elif path == "/script":
            body = b'#!/usr/bin/env zub-cli\nZub [Title: "remote"]\n' \
                   b'reduce [system/script/header/Title system/options/path copy system/state/source-files]\n'
            self.reply(200, body, [("Content-Type", "text/plain")])
        elif path == "/png":
            self.reply(200, png_2x1(), [("Content-Type", "image/png")])
        else:
            self.reply(404, b"no such page")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = answer


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
