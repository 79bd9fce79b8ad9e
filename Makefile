# Ferrox -- convenience targets around the CMake presets.
#
#   make demo    build and run the copy service in the receiver simulator
#   make check   build everything, run every test (PC and receiver CPU)
#   make web     the virtual receiver in a web browser, on sample recordings
#
#   make release the receiver plug-ins for owners: dist/Ferrox-<version>-receiver.zip
#   make box     the virtual receiver (a MIPS Linux under QEMU) that runs them
#
# Further: host, target, test-host, test-target, test-box, box-power-cuts, test-asan,
# fault-matrix, power-cuts, fuzz, bench, clean.

JOBS ?= 2
CMAKE ?= cmake
MAKEFLAGS += --no-print-directory

.PHONY: box test-box box-power-cuts release web all deps host target test-host test-target test-asan fault-matrix power-cuts check demo fuzz fuzz-run bench clean

all: host

deps:
	@tools/install-deps.sh

host: deps
	$(CMAKE) --preset host >/dev/null
	$(CMAKE) --build --preset host -j $(JOBS)

target: deps
	$(CMAKE) --preset target >/dev/null
	$(CMAKE) --build --preset target -j $(JOBS)

# every group of packages the tests use, so that a new user's run is CI's:
# a test skips only where the machine refuses what it needs (mounts, FUSE)
test-host: host
	@tools/install-deps.sh web realfs
	ctest --preset host -LE box

# (under the emulator the tiers of random trials make a quarter of theirs:
# the PC leg makes them all)
test-target: target
	@echo "Receiver-CPU tests, each run as:"
	@ctest --preset target -N -V 2>/dev/null | grep -m1 "Test command:" || true
	FERROX_TRIAL_SHARE=25 ctest --preset target

check: test-host test-target test-box

# The virtual receiver: Debian's mipsel kernel and busybox (fetched with
# apt-get), the cross-built simulator and the archive's plug-ins in an
# initramfs (build/box). Where QEMU or the packages cannot be had it says
# why, and the box tier skips.
box: target release
	@tools/install-deps.sh box || echo "box: the packages of the box cannot be installed"
	@box/box.sh build || echo "box: not built; the box tier skips"

# real power cuts in the box: 40 cut trials of the copy service and 10 of the
# control (the tier runs 6 and 4); about 35 minutes
BOX_CUTS ?= 40
# (the test program itself: its 40 boots take longer than ctest gives a test)
box-power-cuts: box host
	@FERROX_BOX_CUTS=$(BOX_CUTS) build/host/bin/box_tests --gtest_filter='BoxPowerCut.*' > build/box-power-cuts.log 2>&1; \
	  status=$$?; grep -E "real power cuts|box: .*cut|box: .*void|PASSED|FAILED" build/box-power-cuts.log; exit $$status

# the box tier: scenarios on the owners' plug-in files in the virtual receiver
test-box: box host
	@ctest --preset host -L box --output-on-failure -V > build/box-tier.log 2>&1; status=$$?; \
	  grep -E "^[0-9]+: box:|tests passed|tests failed|Failed|Skipped" build/box-tier.log; \
	  if [ $$status -ne 0 ]; then echo "--- what failed (all of it in build/box-tier.log) ---"; \
	    grep -E -A3 "^[0-9]+: .*: Failure$$" build/box-tier.log | grep -v "^[0-9]*: \[ *[0-9.]*\]" | head -n 60; fi; \
	  exit $$status

# the receiver build packed for owners, with the fonts, INSTALL.txt and
# SHA256SUMS: only what the archive holds is built (the cross-built tests
# are the receiver-CPU leg's)
RELEASE_TARGETS = Ferrox_receiver FerroxSetup_receiver fonts
release: deps
	@$(CMAKE) --preset target >/dev/null
	$(CMAKE) --build --preset target -j $(JOBS) --target $(RELEASE_TARGETS)
	@tools/release.sh

# every test with AddressSanitizer and UndefinedBehaviorSanitizer; the tiers of
# random trials make a quarter of theirs (the plain leg makes them all)
test-asan: deps
	$(CMAKE) --preset host-asan >/dev/null
	$(CMAKE) --build --preset host-asan -j $(JOBS)
	FERROX_TRIAL_SHARE=25 ctest --preset host-asan -LE box

# only the fault matrix: move runs hit by faults at random moments
fault-matrix: host
	ctest --preset host -L faultmatrix --output-on-failure -V | grep -E "fault matrix|tests passed|Failed"

# only the power-cut tier: the receiver switched off at random moments
power-cuts: host
	ctest --preset host -L powercut --output-on-failure -V | grep -E "power cuts|tests passed|Failed"

# only what the demo runs: the simulator with its firmware module and fonts,
# the two plug-ins and the sample maker (a fraction of the whole build)
DEMO_TARGETS = receiver sim_firmware ferrox_firmware ferrox_firmware_noexec ferrox_firmware_utf8 fonts Ferrox FerroxSetup make-sample-recordings
# (a build that succeeds says one line; one that fails shows its output)
demo: deps
	@$(CMAKE) --preset host >build-demo.log 2>&1 && \
	  $(CMAKE) --build --preset host -j $(JOBS) --target $(DEMO_TARGETS) >>build-demo.log 2>&1 || \
	  { cat build-demo.log; rm -f build-demo.log; exit 1; }
	@rm -f build-demo.log
	@echo "== Built the receiver simulator and the two plug-ins (build/host)"
	@tools/demo.sh

# the web view on the demo's sample recordings: prints the address to open
web: deps
	$(CMAKE) --preset host >/dev/null
	$(CMAKE) --build --preset host -j $(JOBS) --target $(DEMO_TARGETS)
	tools/web.sh

fuzz:
	@tools/install-deps.sh fuzz
	$(CMAKE) --preset fuzz >/dev/null
	$(CMAKE) --build --preset fuzz -j $(JOBS)

# FUZZ_SECONDS per target (CI runs them briefly)
FUZZ_SECONDS ?= 60
fuzz-run: fuzz
	tools/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

bench:
	@tools/install-deps.sh bench
	$(CMAKE) --preset host-release >/dev/null
	$(CMAKE) --build --preset host-release -j $(JOBS)
	tools/run-benchmarks.sh build/host-release

clean:
	rm -rf build
