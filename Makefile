# The project's entry points. `make test` runs every test on a fresh Debian 12
# machine: it installs what is missing, builds both targets and runs the
# native, sanitizer and Windows tests, printing each step's time as it ends
# (scripts/make-test.sh). `make test-long` does the same with every long
# end-to-end session at full length on every target, the sanitizer builds
# included: run it before a release and after changing the worker, the
# unload or the wrist unit's link.
.PHONY: test test-long demo demo-live demo-controller deps linux asan tsan fuzz fuzz-smoke windows wine-tests bench clean

test:
	bash scripts/make-test.sh

test-long:
	CORVANE_LONG_TESTS=1 bash scripts/make-test.sh

# A 30-second recording from the simulated wrist unit, after it has been
# updated to the newer firmware image the build puts in the recorder's
# "Devices" folder: recording.csv, recording.edf, recording.png and
# recording.log here, and its summary. The recorder starts and stops the
# simulator itself.
demo: deps
	cmake --preset linux
	cmake --build --preset linux --target corvane-record
	build/linux/tools/recorder/corvane-record --wrist-unit-sim \
	  --sim-settings tools/recorder/demo_wrist_unit.txt --duration 30 --out recording --overwrite
	@echo "To watch a recording in the browser as it is made: make demo-live"

# The demo's recording (60 seconds) with its live view: open the printed
# address in a browser on this machine to watch it and add markers (the key
# m on the terminal adds one too).
demo-live: deps
	cmake --preset linux
	cmake --build --preset linux --target corvane-record
	build/linux/tools/recorder/corvane-record --wrist-unit-sim --live \
	  --sim-settings tools/recorder/demo_wrist_unit.txt --duration 60 --out recording --overwrite

# The same from the simulated Controller.
demo-controller: deps
	cmake --preset linux
	cmake --build --preset linux --target corvane-record
	build/linux/tools/recorder/corvane-record --duration 30 --out recording --overwrite

deps:
	bash scripts/install-deps.sh

linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

asan:
	cmake --preset linux-asan
	cmake --build --preset linux-asan
	ctest --preset linux-asan

tsan:
	cmake --preset linux-tsan
	cmake --build --preset linux-tsan
	ctest --preset linux-tsan

# The libFuzzer targets (clang), each run for FUZZ_SECONDS over its seed
# corpus in fuzz/corpus/; see scripts/run-fuzzers.sh. `make test` runs each
# for 20 seconds, so that a crash in any of them fails it.
FUZZ_SECONDS ?= 300
fuzz:
	bash scripts/run-fuzzers.sh $(FUZZ_SECONDS)

fuzz-smoke:
	bash scripts/run-fuzzers.sh 20

# The product: the 32-bit Windows DLL.
windows:
	cmake --preset windows
	cmake --build --preset windows
	bash scripts/check-windows-exports.sh

# The Windows tests run under 32-bit Wine where the machine can execute 32-bit
# programs; elsewhere the same sources built for 64-bit Windows run under
# wine64, so the Win32 code is still exercised.
wine-tests:
	@if bash scripts/can-run-32bit.sh; then \
	  bash scripts/wine-tests.sh windows; \
	else \
	  echo "This machine cannot execute 32-bit programs: running the Windows tests as a 64-bit build under wine64."; \
	  cmake --preset windows64 && cmake --build --preset windows64 && bash scripts/wine-tests.sh windows64; \
	fi

# Every benchmark, built and run, and bench/RESULTS.md written from their
# figures (scripts/bench.py); not part of `make test`. SOAK_MINUTES sets the
# soak's minutes per device (default 2).
bench: deps
	python3 scripts/bench.py

clean:
	rm -rf build
