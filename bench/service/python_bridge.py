#!/usr/bin/env python3
"""A minimal serial-to-HTTP weight bridge in Python's standard library only, the kind people
write for a scale: it reads lines from the serial device and answers GET /api/v1/weight with
the last one as JSON. scripts/bench-service measures it beside the program's service, over the
same pseudo-terminal in the same run.

    python_bridge.py --device PATH --port P
"""
import argparse
import json
import os
import termios
import threading
import time
import tty
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

last = {"reading": None, "time": None}
lock = threading.Lock()


def read_port(device):
    fd = os.open(device, os.O_RDONLY | os.O_NOCTTY)
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = termios.B115200
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    pending = b""
    while True:
        chunk = os.read(fd, 4096)
        if not chunk:
            time.sleep(0.01)
            continue
        pending += chunk
        *lines, pending = pending.split(b"\r")
        for line in lines:
            text = line.decode("cp1250", "replace").strip()
            with lock:
                last["reading"] = text
                last["time"] = time.time()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as the load generator expects

    def do_GET(self):
        if self.path != "/api/v1/weight":
            self.send_error(404)
            return
        with lock:
            body = json.dumps(last).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up is no news


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--device", required=True)
    parser.add_argument("--port", type=int, required=True)
    options = parser.parse_args()
    threading.Thread(target=read_port, args=(options.device,), daemon=True).start()
    Server(("127.0.0.1", options.port), Handler).serve_forever()


if __name__ == "__main__":
    main()
