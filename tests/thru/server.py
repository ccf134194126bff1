#!/usr/bin/python3
"""Serves the files of a folder over HTTP for the thru tests: it listens on 127.0.0.1 on a free
port, writes the port to the file named first on its command line, serves the folder named second,
and answers until it is killed. Each answer carries the number of requests served so far in the
X-Served header, and /count answers that number as its body."""
import functools
import http.server
import sys

served = 0


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("X-Served", str(served))
        super().end_headers()

    def do_GET(self):
        global served
        if self.path == "/count":
            body = str(served).encode()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        served += 1
        super().do_GET()


handler = functools.partial(Handler, directory=sys.argv[2])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
with open(sys.argv[1], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
