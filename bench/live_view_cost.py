#!/usr/bin/env python3
"""What the live view costs a recording.

Records SECONDS (default 30) from the simulated wrist unit without the live
view, with one viewer following it, and with eight viewers of which one
stops reading as soon as it is connected; each REPEAT times (default 3),
taking the median. For each: the processor time of the recorder (with the
simulator it starts, the same in every run) as a share of one core, and
whether every row of every run reached the CSV.

    bench/live_view_cost.py [--seconds S] [--repeat N] [--recorder PATH]

Prints a Markdown table; exit status 1 when a run lost a row.
"""
import argparse
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def follow(url, stop, stalled=False):
    """A viewer of the feed: reads it until `stop`, or reads nothing at all."""
    match = re.match(r"http://([^/]+)/\?key=(\w+)", url)
    host, key = match.group(1), match.group(2)
    address, port = host.rsplit(":", 1)
    with socket.create_connection((address, int(port))) as connection:
        if stalled:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        connection.sendall(f"GET /events?key={key} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
        connection.settimeout(1)
        while not stop.is_set():
            if stalled:
                time.sleep(0.1)
                continue
            try:
                if not connection.recv(65536):
                    return
            except socket.timeout:
                pass


def record(recorder, seconds, folder, viewers=0, stalled=0):
    prefix = os.path.join(folder, f"run-{viewers}-{stalled}")
    settings = os.path.join(folder, "wrist_unit.txt")
    with open(settings, "w") as file:
        file.write("firmware = 2.1.1.0\n")
    args = [recorder, "--wrist-unit-sim", "--sim-settings", settings, "--duration", str(seconds),
            "--out", prefix, "--overwrite"]
    if viewers:
        args.append("--live")
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, text=True)
    stop = threading.Event()
    threads = []
    output = []
    for line in process.stdout:
        output.append(line)
        if line.startswith("Live view: "):
            url = line.split(": ", 1)[1].strip()
            for i in range(viewers):
                thread = threading.Thread(target=follow, args=(url, stop, i < stalled), daemon=True)
                thread.start()
                threads.append(thread)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    stop.set()
    for thread in threads:
        thread.join(5)
    with open(prefix + ".csv") as file:
        rows = sum(1 for _ in file) - 1
    cpu = usage.ru_utime + usage.ru_stime
    wall = seconds  # the recording's own time; start-up is the same in every run
    return {"cpu": cpu, "share": 100 * cpu / wall, "rows": rows,
            "expected": round(seconds * 200), "code": process.returncode,
            "output": "".join(output)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--recorder",
                        default=os.path.join(ROOT, "build/linux/tools/recorder/corvane-record"))
    args = parser.parse_args()
    runs = [("no live view", 0, 0), ("1 viewer", 1, 0),
            ("8 viewers, 1 of them not reading", 8, 1)]
    results = []
    with tempfile.TemporaryDirectory() as folder:
        for name, viewers, stalled in runs:
            repeats = [record(args.recorder, args.seconds, folder, viewers, stalled)
                       for _ in range(args.repeat)]
            for result in repeats:
                print(f"{name}: {result['cpu']:.2f} s of processor time, {result['rows']} rows",
                      file=sys.stderr, flush=True)
            result = sorted(repeats, key=lambda r: r["cpu"])[len(repeats) // 2]
            # Every run must have kept every row, not just the median one.
            worst = min(repeats, key=lambda r: (r["rows"] == r["expected"] and r["code"] == 0))
            result = dict(result, rows=worst["rows"], code=worst["code"])
            results.append((name, result))
    base = results[0][1]["share"]
    print(f"| {args.seconds:g} s recording, median of {args.repeat} | processor time | "
          "share of a core | extra | rows |")
    print("|---|---|---|---|---|")
    lost = False
    for name, result in results:
        complete = result["rows"] == result["expected"] and result["code"] == 0
        lost = lost or not complete
        print(f"| {name} | {result['cpu']:.2f} s | {result['share']:.2f} % | "
              f"{result['share'] - base:+.2f} % | {result['rows']} of {result['expected']}"
              f"{'' if complete else ' (exit ' + str(result['code']) + ')'} |")
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
