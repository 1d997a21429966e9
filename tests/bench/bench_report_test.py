"""The figures scripts/bench.py takes from each benchmark's output.

A figure the parser misses drops out of bench/RESULTS.md without a word, and
a misread one (a number in exponent form cut short) is worse: each table row
here is one program's output as it prints it, with the figures it must yield.
"""

import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
module_info = importlib.util.spec_from_file_location(
    "bench", os.path.join(HERE, "..", "..", "scripts", "bench.py"))
bench = importlib.util.module_from_spec(module_info)
module_info.loader.exec_module(bench)

HOST_WAIT = """\
idle ReadLine wait                 wall  10.00 s  process CPU   0.019 s  =   0.19 % of one core  (returned 0)\r
recording read                     wall  10.00 s  process CPU   0.200 s  =   2.00 % of one core  (time-out 100 ms; 2000 lines, 200 finger-pressure samples/s, 0 time-outs)\r
"""

SERIAL = """\
Read, nothing waiting        median    2116.8 us   p99    8019.9 us   (1000 samples)
6-byte frame round trip      median      61.0 us   p99    5630.9 us   (1000 samples)
"""

STREAM = """\
wrist-unit data latency, 200 'd' frames/s
  matched 1005 values to frames; 1005 frames in that span, lost 3, values matching no frame 1, values before the first match 0; counter gaps in what was sent 0
  'd' frames sent at 200 per second over the matched span: 26.0 % of the line, with the status frames 27.9 %
  latency from the frame's last byte written to ReadLine returning its line: min 0.24 ms, median 10.02 ms, 99th percentile 32.53 ms, max 42.72 ms
  host process CPU (module included) 0.054 s = 1.08 % of one core
"""

FIRMWARE = """\
{
  "context": {"num_cpus": 2},
  "benchmarks": [
    {"name": "BM_FirmwareTransfer64KiB/iterations:1/manual_time", "real_time": 2.6e+01,
     "floor_s": 3.1688888888888890e+01, "ratio": 8.2834e-01, "transfer_s": 2.6249e+01}
  ]
}
"""

SOAK = """\
soak controller measurements=6 failed=0 values=21000 notices=12 PASS
soak controller rss_first_minute_kib=5088 rss_final_kib=5092 rss_peak_kib=5100 rss_slope_kib_per_min=-2.6 tolerance_kib=1024 samples=60 PASS
soak controller fds_before=5 fds_after=5 threads_before=1 threads_after=1 PASS
soak wrist frames_sent_intact=23941 values_read=23934 paired=23934 lost=0 not_sent=0 lost_in_hangups=3 unjudged_tail=4 PASS
soak wrist rss_first_minute_kib=4720 rss_final_kib=5900 rss_peak_kib=5900 rss_slope_kib_per_min=590.0 tolerance_kib=1024 samples=60 FAIL
soak wrist fds_before=5 fds_after=6 threads_before=1 threads_after=2 FAIL
"""


def figures(parse):
    res = bench.Results()
    parse(res)
    return {(row[0], row[1]): (row[2], row[4]) for row in res.rows}


class ParsersTest(unittest.TestCase):
    def test_each_output_yields_its_figures(self):
        cases = [
            ("host_wait", lambda r: bench.parse_host_wait(r, "hw", HOST_WAIT.replace("\r", "")), {
                ("hw", "process CPU while one ReadLine waits 10 s"): "0.19",
                ("hw", "process CPU while reading a recording (ReadLine time-out 100 ms)"): "2.00",
                ("hw", "finger-pressure samples read"): "200",
            }),
            ("serial", lambda r: bench.parse_serial(r, "sl", SERIAL), {
                ("sl", "Read with nothing waiting, median"): "2116.8",
                ("sl", "6-byte frame written and echoed back, 99th percentile"): "5630.9",
            }),
            ("stream", lambda r: bench.parse_stream(r, "st", STREAM, False), {
                ("st", "frames lost"): "3",
                ("st", "values matching no frame sent"): "1",
                ("st", "'d' frames sent and read"): "200",
                ("st", "line used, status frames included"): "27.9",
                ("st", "latency, last byte sent to ReadLine return, 99th percentile"): "32.53",
                ("st", "host process CPU, module included"): "1.08",
            }),
            ("firmware", lambda r: bench.parse_firmware(r, FIRMWARE), {
                ("firmware_update_bench", "64 KiB image transferred"): "26.25",
                ("firmware_update_bench", "transfer time / floor"): "0.828",
            }),
            ("soak", lambda r: bench.parse_soak(r, SOAK), {
                ("soak_bench", "Controller: measurements with faults / failed"): "6 / 0",
                ("soak_bench", "Controller: VmRSS slope after the first minute"): "-2.6",
                ("soak_bench", "wrist unit: VmRSS at the first minute / at the end"): "4720 / 5900",
                ("soak_bench", "wrist unit: descriptors / threads before and after unloading"): "5->6 / 1->2",
                ("soak_bench", "wrist unit: frames lost in the line's hang-ups / unjudged tail"): "3 / 4",
            }),
        ]
        for name, parse, expected in cases:
            with self.subTest(name):
                got = figures(parse)
                for key, value in expected.items():
                    self.assertIn(key, got)
                    self.assertEqual(got[key][0], value, key)

    def test_limits_carry_the_floor_and_the_verdict(self):
        got = figures(lambda r: bench.parse_firmware(r, FIRMWARE))
        self.assertIn("31.7 s", got[("firmware_update_bench", "64 KiB image transferred")][1])
        got = figures(lambda r: bench.parse_soak(r, SOAK))
        self.assertIn("FAIL", got[("soak_bench", "wrist unit: VmRSS at the first minute / at the end")][1])
        self.assertIn("FAIL", got[("soak_bench", "wrist unit: descriptors / threads before and after unloading")][1])


if __name__ == "__main__":
    sys.exit(unittest.main())
