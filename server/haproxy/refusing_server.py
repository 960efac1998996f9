#!/usr/bin/env python3
"""A stand-in for a busy recognition server: healthy, but every upload is read and
refused with 503. Prints the size of each refused body, one a line.

    refusing_server.py PORT
"""
import http.server
import sys


class Refusing(http.server.BaseHTTPRequestHandler):
    def reply(self, status, body, *headers):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.reply(200, b'{"status": "ok"}')

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        print(length, flush=True)
        self.reply(503, b'{"error": "busy"}', ("Retry-After", "1"))

    def log_message(self, *args):
        pass


class Server(http.server.HTTPServer):
    def handle_error(self, request, client_address):
        pass  # health checks hang up once they have read the status


Server(("127.0.0.1", int(sys.argv[1])), Refusing).serve_forever()
