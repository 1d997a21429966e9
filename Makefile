# The project's entry points. `make test` runs every test on a fresh Debian 12
# machine: it installs what is missing, builds both targets and runs the
# native, sanitizer and Windows tests.
.PHONY: test demo demo-controller deps linux asan tsan fuzz fuzz-smoke windows wine-tests bench clean

MODULE_EXPORTS = GetDeviceClassInfo FindDevice Initialise CloseAll IsFailed WriteBuffer \
  ReadLine ReadBuffer ReadBuffSize FlushReadBuffer GetUniqueID GetLastErrorMsg \
  InitOnMainThread CleanupOnMainThread SetBaudRate GetBaudRate CanUseBaudRate
SIM_EXPORTS = DMS_Connect DMS_GetStatus DMS_SetCuffSwitching DMS_GetMarkerSamples

test: deps linux asan tsan fuzz-smoke windows wine-tests

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
	bash scripts/check-pe.sh build/windows/src/Corvane.kvwdll $(MODULE_EXPORTS)
	bash scripts/check-pe.sh build/windows/tools/sim_controller/DMSFinapresAPI_C.dll $(SIM_EXPORTS)

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
