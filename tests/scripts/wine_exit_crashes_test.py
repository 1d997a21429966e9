"""When the Windows test run may run a failed test once more.

Only a crash of the Wine process after Google Test printed its PASSED summary
may be retried; a failed assertion, or a crash before the summary, must stand.
Each row is a CTest run as its logs show it.
"""

import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "wine-exit-crashes.py"

PASSED = "[ RUN      ] T.A\n[       OK ] T.A (2 ms)\n[  PASSED  ] 1 test.\n"
FAILED = "[ RUN      ] T.B\nx.cpp:3: Failure\n[  FAILED  ] T.B (2 ms)\n[  FAILED  ] 1 test\n"
CUT = "[ RUN      ] T.C\n"  # died inside the test


def block(index, name, output):
    return (f"{index}/3 Testing: {name}\n{index}/3 Test: {name}\nCommand: \"wine-run\"\n"
            f"Output:\n----\n{output}<end of output>\nTest time =   0.11 sec\n----\n"
            "Test Failed.\n")


def summary_line(index, name, how):
    return f"{index}/3 Test  #{index}: {name} ......***{how}  0.11 sec\n"


class WineExitCrashes(unittest.TestCase):
    def run_script(self, tests):
        """tests: (name, output, how CTest reported it)."""
        with tempfile.TemporaryDirectory() as folder:
            build = pathlib.Path(folder)
            temporary = build / "Testing" / "Temporary"
            temporary.mkdir(parents=True)
            (temporary / "LastTestsFailed.log").write_text(
                "".join(f"{i + 1}:{name}\n" for i, (name, _, _) in enumerate(tests)))
            (temporary / "LastTest.log").write_text(
                "".join(block(i + 1, name, out) for i, (name, out, _) in enumerate(tests)))
            summary = build / "ctest-output.txt"
            summary.write_text(
                "".join(summary_line(i + 1, name, how) for i, (name, _, how) in enumerate(tests)))
            return subprocess.run([sys.executable, str(SCRIPT), str(build), str(summary)],
                                  capture_output=True, text=True).returncode

    def test_only_a_crash_after_the_summary_is_retried(self):
        rows = [
            ("crash after PASSED", [("T.A", PASSED, "Exception: SegFault")], 0),
            ("two such crashes", [("T.A", PASSED, "Exception: SegFault"),
                                  ("T.D", PASSED, "Exception: SegFault")], 0),
            ("failed assertion", [("T.B", FAILED, "Failed")], 1),
            ("crash inside the test", [("T.C", CUT, "Exception: SegFault")], 1),
            ("passed output, other failure", [("T.A", PASSED, "Failed")], 1),
            ("one crash, one real failure", [("T.A", PASSED, "Exception: SegFault"),
                                             ("T.B", FAILED, "Failed")], 1),
            ("nothing failed", [], 1),
        ]
        for name, tests, expected in rows:
            with self.subTest(name):
                self.assertEqual(self.run_script(tests), expected)

    def test_missing_logs_are_no_reason_to_retry(self):
        with tempfile.TemporaryDirectory() as folder:
            result = subprocess.run([sys.executable, str(SCRIPT), folder, folder + "/none"],
                                    capture_output=True)
            self.assertEqual(result.returncode, 1)


if __name__ == "__main__":
    unittest.main()
