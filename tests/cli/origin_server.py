#!/usr/bin/env python3
"""Origin server for the Squid integration test: answers every GET with 200
and the body "origin:" + the request target, and appends each target to a log
file. Listens on 127.0.0.1, on a free port it writes to the port file.

Usage: origin_server.py PORT_FILE REQUEST_LOG
"""
import http.server
import os
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[2], "a", encoding="utf-8") as log:
            log.write(self.path + "\n")
        body = ("origin:" + self.path).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1] + ".tmp", "w", encoding="utf-8") as port_file:
    port_file.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
