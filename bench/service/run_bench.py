#!/usr/bin/env python3
"""The weight service's figures, printed as a Markdown table (nothing passes or fails here).

    run_bench.py --bin BIN_DIR [--seconds S]

In one run, over one pseudo-terminal linked as COM2:
  1. CR -> event: 5,760 numbered readings a second while 20 event-stream clients read; the delay
     from each line's CR to its event at every client (p50, p99, max), lost events, and the CPU
     of the service's process meanwhile;
  2. GET /api/v1/weight with 20 keep-alive clients: requests a second and p99, while readings
     arrive at 10 a second;
  3. idle with one event-stream client connected: wake-ups a second (context switches of all
     the process's threads);
  4. the same GET load against a minimal Python standard-library bridge (python_bridge.py)
     reading the same pseudo-terminal;
  5. with a token set: the token holder's GETs, each on a new connection, alone and while 250
     local addresses flood the service (idle connections, heads that never end, requests
     without the token, event streams that never read): the share answered, p50 and p99.
The service's process is the headless station waga-stacja (the serial port component, the line
pipeline and the service as the programs wire them, without the window; the journal and the
recording file off, so that the service's own share is measured) unless WAGA_SERVICE_PROGRAM
names another command that serves dodatki.ini's [SerwerWagi] from COM2 in its working directory
(or in WAGA_DIR, which names the same folder).
"""
import argparse
import glob
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def switches(pid):
    total = 0
    for status in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def wait_http(url, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with urllib.request.urlopen(url, timeout=1) as answer:
                return json.loads(answer.read())
        except Exception:
            time.sleep(0.1)
    raise SystemExit(f"bench-service: {url} does not answer")


def parse(line):
    return dict(item.split("=", 1) for item in line.split())


class SlowFeed:
    """Readings at 10 a second on the master, so the weight changes under the GET load."""

    def __init__(self, master):
        self.master, self.stop = master, threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        k = 0
        while not self.stop.wait(0.1):
            k += 1
            os.write(self.master, f"  {k % 100},{k % 10}0\r".encode())

    def close(self):
        self.stop.set()
        self.thread.join()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--seconds", type=int, default=20)
    options = parser.parse_args()
    load = os.path.join(options.bin, "service-load")
    program = os.environ.get("WAGA_SERVICE_PROGRAM", os.path.join(options.bin, "waga-stacja"))
    seconds = options.seconds

    work = tempfile.mkdtemp(prefix="waga-bench-service-")
    master, slave = os.openpty()
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), os.path.join(work, "COM2"))
    port = free_port()
    with open(os.path.join(work, "dodatki.ini"), "w") as f:
        f.write(f"[Dziennik]\nWlaczony=0\n[SerwerWagi]\nWlaczony=1\nPort={port}\n")
    with open(os.path.join(work, "konfig.ini"), "wb") as f:
        f.write(b"Zapis_do_pliku=0\r\nPredkosc_transmisji=115200\r\n")
    figures = {}
    host = subprocess.Popen([program], cwd=work, env=dict(os.environ, WAGA_DIR=work),
                            stderr=open(os.path.join(work, "host.log"), "w"))
    try:
        wait_http(f"http://127.0.0.1:{port}/api/v1/health")
        # 1. CR -> event at 5,760 lines a second, 20 clients.
        cpu0, t0 = cpu_seconds(host.pid), time.time()
        out = subprocess.run([load, "latency", "--fd", str(master), "--port", str(port),
                              "--clients", "20", "--rate", "5760", "--seconds", str(seconds)],
                             pass_fds=(master,), capture_output=True, text=True, check=True)
        cpu1, t1 = cpu_seconds(host.pid), time.time()
        figures["latency"] = parse(out.stdout)
        figures["cpu"] = 100.0 * (cpu1 - cpu0) / (t1 - t0)
        # 2. GET /api/v1/weight, 20 clients.
        feed = SlowFeed(master)
        out = subprocess.run([load, "get", "--port", str(port), "--clients", "20",
                              "--seconds", str(max(5, seconds // 2))],
                             capture_output=True, text=True, check=True)
        figures["get"] = parse(out.stdout)
        feed.close()
        # 3. Idle with one client.
        idle = max(5, seconds // 2)
        holder = subprocess.Popen([load, "hold", "--port", str(port), "--seconds", str(idle + 2)],
                                  stdout=subprocess.DEVNULL)
        time.sleep(1)
        s0, c0 = switches(host.pid), cpu_seconds(host.pid)
        time.sleep(idle)
        s1, c1 = switches(host.pid), cpu_seconds(host.pid)
        holder.wait()
        figures["idle"] = (s1 - s0) / idle
        figures["idle_cpu"] = (c1 - c0) / idle * 3600
    finally:
        host.send_signal(signal.SIGTERM)
        host.wait(10)
    # 4. The Python bridge over the same pseudo-terminal.
    bridge_port = free_port()
    bridge = subprocess.Popen([sys.executable, os.path.join(HERE, "python_bridge.py"),
                               "--device", os.path.join(work, "COM2"), "--port", str(bridge_port)])
    try:
        feed = SlowFeed(master)
        wait_http(f"http://127.0.0.1:{bridge_port}/api/v1/weight")
        out = subprocess.run([load, "get", "--port", str(bridge_port), "--clients", "20",
                              "--seconds", str(max(5, seconds // 2))],
                             capture_output=True, text=True, check=True)
        figures["bridge"] = parse(out.stdout)
        feed.close()
    finally:
        bridge.terminate()
        bridge.wait(10)
    # 5. The token holder under a flood.
    token = "bench-token-0123456789"
    with open(os.path.join(work, "dodatki.ini"), "w") as f:
        f.write(f"[Dziennik]\nWlaczony=0\n[SerwerWagi]\nWlaczony=1\nPort={port}\nToken={token}\n")
    os.chmod(os.path.join(work, "dodatki.ini"), 0o600)
    host = subprocess.Popen([program], cwd=work, env=dict(os.environ, WAGA_DIR=work),
                            stderr=open(os.path.join(work, "host-flood.log"), "w"))
    try:
        wait_http(f"http://127.0.0.1:{port}/api/v1/health")
        feed = SlowFeed(master)
        out = subprocess.run([load, "flood", "--port", str(port), "--token", token],
                             capture_output=True, text=True, check=True)
        figures["flood"] = parse(out.stdout)
        feed.close()
    finally:
        host.send_signal(signal.SIGTERM)
        host.wait(10)
    shutil.rmtree(work, ignore_errors=True)

    lat, get, bridge_get = figures["latency"], figures["get"], figures["bridge"]
    ratio = float(get["rps"]) / max(1.0, float(bridge_get["rps"]))
    print()
    print(f"scripts/bench-service: {seconds} s of stream; {os.cpu_count()} cores; "
          f"{time.strftime('%Y-%m-%d')}; process: {os.path.basename(program)}")
    print()
    print("| figure | measured | target |")
    print("|---|---|---|")
    print(f"| CR → event, 20 clients, {lat['rate']} lines/s: p50 / p99 / max | "
          f"{lat['p50_ms']} / {lat['p99_ms']} / {lat['max_ms']} ms | p99 < 100 ms |")
    print(f"| events delivered / lost (20 clients × {lat['lines']} lines) | "
          f"{lat['events']} / {lat['lost']} | 0 lost |")
    print(f"| CPU of the process, same run | {figures['cpu']:.1f} % of one core | < 7 % |")
    print(f"| GET /api/v1/weight, 20 clients: requests/s, p99 | {get['rps']}/s, "
          f"{get['p99_ms']} ms ({get['errors']} errors) | ≥ 5× the bridge |")
    print(f"| Python bridge, same pseudo-terminal: requests/s, p99 | {bridge_get['rps']}/s, "
          f"{bridge_get['p99_ms']} ms ({bridge_get['errors']} errors) | |")
    print(f"| service ÷ bridge, requests/s | {ratio:.1f}× | ≥ 5× |")
    fl = figures["flood"]
    print(f"| token holder, new connection each, under a flood from 250 local addresses "
          f"({fl['held']} connections held): answered, p50 / p99 | {fl['flood_served']} %, "
          f"{fl['flood_p50_ms']} / {fl['flood_p99_ms']} ms | ≥ 99 %, p99 < 100 ms |")
    print(f"| the same without the flood | {fl['alone_served']} %, {fl['alone_p50_ms']} / "
          f"{fl['alone_p99_ms']} ms | |")
    print(f"| idle, one event-stream client: wake-ups/s (CPU-s per hour) | "
          f"{figures['idle']:.2f} ({figures['idle_cpu']:.2f}) | ≤ 1/s |")


if __name__ == "__main__":
    main()
