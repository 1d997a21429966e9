#!/usr/bin/env python3
"""Builds and runs every benchmark and writes bench/RESULTS.md.

Linux: host_wait_bench, serial_latency, nano_codec_bench, firmware_update_bench,
nano_latency_bench, nano_flood_bench and the soak (SOAK_MINUTES per device,
default 2). Windows: host_wait_bench and serial_latency under 32-bit Wine where
the machine runs 32-bit programs, else the 64-bit build under wine64, else
skipped with a note. Each program's whole output is kept in build/bench-logs/.
Exit code 1 when a benchmark failed or a check in it did not pass.
"""

import datetime
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOGS = os.path.join(ROOT, "build", "bench-logs")
NANO_SECONDS = int(os.environ.get("NANO_BENCH_SECONDS", "30"))
JOBS = os.environ.get("BENCH_JOBS", "2")

LINE_BYTES_PER_S = 115200 / 10  # 8N1: ten bits a byte
D_FRAME_BYTES = 15
FRAME_FLOOR_MS = 1000 * D_FRAME_BYTES / LINE_BYTES_PER_S
LINE_D_FRAMES_PER_S = LINE_BYTES_PER_S / D_FRAME_BYTES


def say(text):
    print(f"bench: {text}", flush=True)


def run(cmd, cwd=ROOT, env=None, timeout=None, log=None):
    """Runs cmd; returns (exit code, output, seconds). Output also goes to log."""
    start = time.monotonic()
    try:
        done = subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, text=True,
                              errors="replace")
        code, out = done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        code = "timeout"
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
    seconds = time.monotonic() - start
    if log:
        with open(os.path.join(LOGS, log), "w") as f:
            f.write(f"$ {' '.join(cmd)}\n{out}\nexit: {code}, {seconds:.1f} s\n")
    return code, out, seconds


def quiet(cmd, env, timeout=60):
    """Runs a command whose children may live on, with no pipe to wait on."""
    try:
        return subprocess.run(cmd, cwd=ROOT, env=env, timeout=timeout, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def first_line(cmd):
    try:
        return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              cwd=ROOT).stdout.splitlines()[0].strip()
    except (OSError, IndexError):
        return "unknown"


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    # The report itself is rewritten by every run: it does not make the tree dirty.
    dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no", "--", ".",
                            ":(exclude)bench/RESULTS.md"], cwd=ROOT, stdout=subprocess.PIPE,
                           text=True).stdout.strip()
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "kernel": f"{platform.system()} {platform.release()} {platform.machine()}",
        "compiler": first_line(["c++", "--version"]),
        "commit": first_line(["git", "rev-parse", "--short", "HEAD"]) + (" (with local changes)" if dirty else ""),
    }


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Results:
    def __init__(self):
        self.rows = []      # (benchmark, figure, value, unit, limit)
        self.runs = []      # (benchmark, exit code, seconds, note)
        self.notes = []
        self.failed = False

    def add(self, bench, figure, value, unit, limit=""):
        self.rows.append((bench, figure, value, unit, limit))

    def ran(self, bench, code, seconds, note=""):
        ok = code == 0
        self.failed |= not ok
        self.runs.append((bench, "ok" if ok else f"FAILED ({code})", f"{seconds:.0f} s", note))


def num(pattern, text, group=1):
    m = re.search(pattern, text)
    return m.group(group) if m else "?"


def parse_host_wait(res, name, out):
    idle = re.search(r"idle ReadLine wait\s+wall\s+([\d.]+) s\s+process CPU\s+([\d.]+) s\s+=\s+([\d.]+) %", out)
    rec = re.search(r"recording read\s+wall\s+([\d.]+) s\s+process CPU\s+([\d.]+) s\s+=\s+([\d.]+) %.*?"
                    r"([\d.]+) finger-pressure samples/s", out)
    if idle:
        res.add(name, f"process CPU while one ReadLine waits {float(idle.group(1)):.0f} s", idle.group(3),
                "% of one core")
    if rec:
        res.add(name, "process CPU while reading a recording (ReadLine time-out 100 ms)", rec.group(3),
                "% of one core")
        res.add(name, "finger-pressure samples read", rec.group(4), "samples/s", "200 samples/s (device rate)")


def parse_serial(res, name, out):
    for label, figure, limit in (
            ("Read, nothing waiting", "Read with nothing waiting", ""),
            ("6-byte frame round trip", "6-byte frame written and echoed back",
             f"{2 * 6 / LINE_BYTES_PER_S * 1e6:.0f} us on a paced 115200-baud line (a pty is not paced)")):
        m = re.search(re.escape(label) + r"\s+median\s+([\d.]+) us\s+p99\s+([\d.]+) us", out)
        if m:
            res.add(name, f"{figure}, median", m.group(1), "us", limit)
            res.add(name, f"{figure}, 99th percentile", m.group(2), "us", limit)


def parse_gbench(res, name, out, figures):
    try:
        data = json.loads(out[out.index("{"):out.rindex("}") + 1])
    except ValueError:
        res.notes.append(f"{name}: no JSON output")
        return
    for b in data.get("benchmarks", []):
        for key, figure, unit, limit, fmt in figures:
            if key in b and b["name"].startswith(figure[0]):
                res.add(name, figure[1], fmt(b[key]), unit, limit)


def parse_firmware(res, out):
    floor = "firmware floor"
    try:
        data = json.loads(out[out.index("{"):out.rindex("}") + 1])
        seconds = data["benchmarks"][0]["floor_s"]
        floor = f"firmware floor {seconds:.1f} s (512 blocks x (50 ms + 137 bytes at 115200 baud))"
    except (ValueError, KeyError, IndexError):
        pass
    parse_gbench(res, "firmware_update_bench", out, [
        ("transfer_s", ("BM_FirmwareTransfer64KiB", "64 KiB image transferred"), "s", floor,
         lambda v: f"{v:.2f}"),
        ("ratio", ("BM_FirmwareTransfer64KiB", "transfer time / floor"), "ratio", "1.00", lambda v: f"{v:.3f}"),
    ])


def parse_stream(res, name, out, flood):
    res.add(name, "frames lost", num(r"lost (\d+)", out), "frames", "0")
    res.add(name, "values matching no frame sent", num(r"values matching no frame (\d+)", out), "values", "0")
    rate = num(r"'d' frames sent at (\d+) per second", out)
    share = num(r"with the status frames ([\d.]+) %", out)
    res.add(name, "'d' frames sent and read", rate, "frames/s",
            f"{LINE_D_FRAMES_PER_S:.0f} frames/s (115200 baud / 15-byte frame)" if flood
            else "200 frames/s (the unit's pace)")
    res.add(name, "line used, status frames included", share, "% of 115200 baud", "100 %")
    lat = re.search(r"min ([\d.]+) ms, median ([\d.]+) ms, 99th percentile ([\d.]+) ms, max ([\d.]+) ms", out)
    if lat:
        floor = f"frame floor {FRAME_FLOOR_MS:.2f} ms (15 bytes at 115200 baud)"
        for label, value in zip(("min", "median", "99th percentile", "max"), lat.groups()):
            res.add(name, f"latency, last byte sent to ReadLine return, {label}", value, "ms", floor)
    res.add(name, "host process CPU, module included", num(r"= ([\d.]+) % of one core", out), "% of one core")


def parse_soak(res, out):
    name = "soak_bench"
    for device, label in (("controller", "Controller"), ("wrist", "wrist unit")):
        rss = re.search(rf"soak {device} rss_first_minute_kib=(\d+) rss_final_kib=(\d+) rss_peak_kib=(\d+)"
                        rf" rss_slope_kib_per_min=(-?[\d.]+) tolerance_kib=(\d+).*?(PASS|FAIL)", out)
        if rss:
            res.add(name, f"{label}: VmRSS at the first minute / at the end", f"{rss.group(1)} / {rss.group(2)}",
                    "KiB", f"end at most {rss.group(5)} KiB above the first minute ({rss.group(6)})")
            res.add(name, f"{label}: VmRSS slope after the first minute", rss.group(4), "KiB/min",
                    "reported; judged by the end figure")
        fds = re.search(rf"soak {device} fds_before=(\d+) fds_after=(\d+) threads_before=(\d+)"
                        rf" threads_after=(\d+) (PASS|FAIL)", out)
        if fds:
            res.add(name, f"{label}: descriptors / threads before and after unloading",
                    f"{fds.group(1)}->{fds.group(2)} / {fds.group(3)}->{fds.group(4)}", "count",
                    f"equal ({fds.group(5)})")
    ctl = re.search(r"soak controller measurements=(\d+) failed=(\d+) values=(\d+) notices=(\d+) (PASS|FAIL)", out)
    if ctl:
        res.add(name, "Controller: measurements with faults / failed", f"{ctl.group(1)} / {ctl.group(2)}",
                "measurements", f"0 failed ({ctl.group(5)})")
        res.add(name, "Controller: values read, each equal to the simulator's wave", ctl.group(3), "values",
                "every value from each measurement's start, none lost")
    wr = re.search(r"soak wrist frames_sent_intact=(\d+) values_read=(\d+) paired=(\d+) lost=(\d+) not_sent=(\d+)"
                   r" lost_in_hangups=(\d+) unjudged_tail=(\d+) (PASS|FAIL)", out)
    if wr:
        res.add(name, "wrist unit: 'd' frames sent intact / values read / paired",
                f"{wr.group(1)} / {wr.group(2)} / {wr.group(3)}", "frames", "")
        res.add(name, "wrist unit: frames lost outside hang-ups / values never sent",
                f"{wr.group(4)} / {wr.group(5)}", "frames", f"0 / 0 ({wr.group(8)})")
        res.add(name, "wrist unit: frames lost in the line's hang-ups / unjudged tail",
                f"{wr.group(6)} / {wr.group(7)}", "frames", "reported")


def linux(res, env):
    preset_dir = os.path.join(ROOT, "build", "linux")
    if not os.path.exists(os.path.join(preset_dir, "CMakeCache.txt")):
        run(["cmake", "--preset", "linux"], env=env, log="configure-linux.txt")
    targets = ["host_wait_bench", "serial_latency", "nano_codec_bench", "firmware_update_bench",
               "nano_latency_bench", "nano_flood_bench", "soak_bench"]
    code, out, secs = run(["cmake", "--build", preset_dir, "-j", JOBS, "--target", *targets], env=env,
                          log="build-linux.txt")
    res.ran("build (Linux)", code, secs)
    if code != 0:
        return
    b = os.path.join(preset_dir, "bench")

    say("host_wait_bench (Linux, 20 s)")
    code, out, secs = run([os.path.join(b, "host_wait_bench")], cwd=b, env=env, timeout=120, log="host_wait_bench.txt")
    res.ran("host_wait_bench", code, secs)
    parse_host_wait(res, "host_wait_bench (Linux)", out)

    say("serial_latency (Linux)")
    code, out, secs = run([os.path.join(b, "serial_latency"), "1000"], cwd=b, env=env, timeout=120,
                          log="serial_latency.txt")
    res.ran("serial_latency", code, secs)
    parse_serial(res, "serial_latency (Linux pty)", out)

    say("nano_codec_bench")
    code, out, secs = run([os.path.join(b, "nano_codec_bench"), "--benchmark_format=json"], cwd=b, env=env,
                          timeout=300, log="nano_codec_bench.txt")
    res.ran("nano_codec_bench", code, secs)
    parse_gbench(res, "nano_codec_bench", out, [
        ("frames/s", ("BM_ReadMessage", "frames found by the frame scanner"), "frames/s",
         f"{LINE_D_FRAMES_PER_S:.0f} frames/s arrive on a full line", lambda v: f"{v / 1e6:.2f} million"),
        ("real_time", ("BM_HandleDataFrame", "one data frame handled into the pressure ring"), "ns",
         f"{1e9 / LINE_D_FRAMES_PER_S:.0f} ns between frames on a full line", lambda v: f"{v:.0f}"),
        ("allocs/frame", ("BM_HandleDataFrame", "heap allocations per data frame"), "allocations", "0",
         lambda v: f"{v:g}"),
    ])

    say("firmware_update_bench (about 35 s)")
    fw = os.path.join(b, "update")
    code, out, secs = run([os.path.join(fw, "firmware_update_bench"), "--benchmark_format=json"], cwd=fw, env=env,
                          timeout=300, log="firmware_update_bench.txt")
    res.ran("firmware_update_bench", code, secs)
    parse_firmware(res, out)

    for bench, flood in (("nano_latency_bench", False), ("nano_flood_bench", True)):
        say(f"{bench} ({NANO_SECONDS} s)")
        nano = os.path.join(b, "nano")
        code, out, secs = run([os.path.join(nano, bench), str(NANO_SECONDS)], cwd=nano, env=env,
                              timeout=NANO_SECONDS + 120, log=f"{bench}.txt")
        res.ran(bench, code, secs, f"{NANO_SECONDS} s recording")
        parse_stream(res, bench, out, flood)

    minutes = env.get("SOAK_MINUTES", "2")
    say(f"soak_bench ({minutes} minutes per device)")
    soak = os.path.join(b, "soak")
    code, out, secs = run([os.path.join(soak, "soak_bench")], cwd=soak, env=env,
                          timeout=int(float(minutes) * 2 * 60 * 1.5 + 300), log="soak_bench.txt")
    res.ran("soak_bench", code, secs, f"{minutes} minutes per device, faults injected")
    parse_soak(res, out)


def windows(res, env):
    """host_wait_bench and serial_latency built for Windows, run under Wine."""
    if subprocess.run(["bash", "scripts/can-run-32bit.sh"], cwd=ROOT).returncode == 0:
        preset, what = "windows", "32-bit Wine"
    elif shutil.which("wine64") or os.path.exists("/usr/lib/wine/wine64"):
        preset, what = "windows64", "wine64 (this machine cannot run 32-bit programs)"
    else:
        res.notes.append("Windows benchmarks skipped: no Wine that can run them on this machine.")
        return None
    build = os.path.join(ROOT, "build", preset)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        run(["cmake", "--preset", preset], env=env, log=f"configure-{preset}.txt")
    code, out, secs = run(["cmake", "--build", build, "-j", JOBS, "--target", "host_wait_bench", "serial_latency",
                           "pty_null_modem"], env=env, log=f"build-{preset}.txt")
    res.ran(f"build ({preset})", code, secs)
    if code != 0:
        return what
    wine_run = os.path.join(build, "wine-run")
    wenv = dict(env, WINEPREFIX=os.path.join(build, "wineprefix"), WINEDEBUG="-all")
    # Wine's services first, or the programs wait on them (scripts/wine-tests.sh).
    # They outlive the command that starts them: never on a pipe we read.
    quiet(["wineserver", "-k"], wenv)
    quiet([wine_run, "wineboot", "-i"], wenv, 300)
    quiet(["wineserver", "-w"], wenv, 300)
    quiet(["wineserver", "-p"], wenv)
    quiet([wine_run, "cmd", "/c", "exit"], wenv, 120)
    b = os.path.join(build, "bench")
    try:
        say(f"host_wait_bench under {what} (20 s)")
        code, out, secs = run([wine_run, "host_wait_bench.exe"], cwd=b, env=wenv, timeout=180,
                              log=f"host_wait_bench-{preset}.txt")
        res.ran(f"host_wait_bench ({preset})", code, secs)
        parse_host_wait(res, f"host_wait_bench ({what})", out.replace("\r", ""))

        say(f"serial_latency under {what}")
        pid = os.path.join(LOGS, "null_modem.pid")
        helper = os.path.join(build, "tests", "serial", "pty_null_modem")
        quiet(["sh", "tests/serial/null_modem.sh", "start", helper, os.path.join(wenv["WINEPREFIX"], "dosdevices"),
             pid, "com21", "com22"], wenv, 30)
        try:
            code, out, secs = run([wine_run, "serial_latency.exe", "1000"], cwd=b, env=wenv, timeout=300,
                                  log=f"serial_latency-{preset}.txt")
        finally:
            quiet(["sh", "tests/serial/null_modem.sh", "stop", pid], wenv)
        res.ran(f"serial_latency ({preset})", code, secs)
        parse_serial(res, f"serial_latency ({what}, COM port on a pty)", out.replace("\r", ""))
    finally:
        quiet(["wineserver", "-k"], wenv)
    return what + ", " + first_line([f"{'i686' if preset == 'windows' else 'x86_64'}-w64-mingw32-g++-posix",
                                     "--version"])


def write(res, info, started, load_before, wine):
    minutes = (time.monotonic() - started) / 60
    lines = [
        "# Benchmark results",
        "",
        "Written by `make bench` (scripts/bench.py); the programs' whole output is in",
        "`build/bench-logs/`. Figures depend on the machine and on what else ran on it.",
        "",
        "## Machine",
        "",
        f"- CPU: {info['cpu']}, {info['cores']} cores",
        f"- Kernel: {info['kernel']}",
        f"- Load average (1, 5, 15 min) before / after: {load_before} / {load_average()}",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
        f"- Compiler: {info['compiler']}",
        f"- Windows build: {wine or 'not run'}",
        f"- Commit: {info['commit']}",
        f"- `make bench` took {minutes:.1f} minutes",
        "",
        "## Figures",
        "",
        "| benchmark | figure | value | unit | measured against |",
        "|---|---|---|---|---|",
    ]
    lines += [f"| {b} | {f} | {v} | {u} | {l} |" for b, f, v, u, l in res.rows]
    lines += ["", "## Runs", "", "| program | result | time | note |", "|---|---|---|---|"]
    lines += [f"| {b} | {c} | {s} | {n} |" for b, c, s, n in res.runs]
    if res.notes:
        lines += ["", "## Notes", ""] + [f"- {n}" for n in res.notes]
    with open(os.path.join(ROOT, "bench", "RESULTS.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    started = time.monotonic()
    os.makedirs(LOGS, exist_ok=True)
    env = dict(os.environ)
    env.setdefault("CCACHE_BASEDIR", os.path.dirname(ROOT))
    if shutil.which("ccache"):
        env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
        env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    load_before = load_average()
    info = machine()
    res = Results()
    linux(res, env)
    wine = None
    if os.environ.get("BENCH_SKIP_WINDOWS"):
        res.notes.append("Windows benchmarks skipped: BENCH_SKIP_WINDOWS was set.")
    else:
        wine = windows(res, env)
    write(res, info, started, load_before, wine)
    say(f"bench/RESULTS.md written; {'some benchmark FAILED' if res.failed else 'all ran'}"
        f" in {(time.monotonic() - started) / 60:.1f} minutes")
    return 1 if res.failed else 0


if __name__ == "__main__":
    sys.exit(main())
