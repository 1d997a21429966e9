#!/usr/bin/env python3
"""Tells whether every test that failed in the last CTest run of a Windows build
failed only because the Wine process crashed as the test program was ending.

Wine now and then dies of SIGSEGV when a process that has thread-pool threads
ends (CTest reports "Exception: SegFault"), after the program has done all of
its work: Google Test has printed its "[  PASSED  ]" summary and no
"[  FAILED  ]" line. Such a failure says nothing about the test.

    wine-exit-crashes.py BUILD_DIR CTEST_OUTPUT

Exit 0, naming the tests, when there is at least one failed test and every one
of them is such a crash; 1 otherwise (a real failure, or nothing to go by).
"""
import pathlib
import re
import sys


def main() -> int:
    build, ctest_output = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    temporary = build / "Testing" / "Temporary"
    try:
        failed_list = (temporary / "LastTestsFailed.log").read_text(errors="replace")
        log = (temporary / "LastTest.log").read_text(errors="replace")
        summary = ctest_output.read_text(errors="replace")
    except OSError:
        return 1
    failed = [line.split(":", 1)[1] for line in failed_list.splitlines() if ":" in line]
    if not failed:
        return 1
    for name in failed:
        crashed = re.search(r"Test +#\d+: " + re.escape(name) + r" \.*\*\*\*Exception: SegFault",
                            summary)
        block = re.search(r"\d+/\d+ Test: " + re.escape(name) + r"\n(.*?)<end of output>",
                          log, re.S)
        if not crashed or not block:
            return 1
        output = block.group(1)
        if "[  PASSED  ]" not in output or "[  FAILED  ]" in output:
            return 1
    print("Wine crashed as these test programs ended, after they had passed:")
    for name in failed:
        print("   ", name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
