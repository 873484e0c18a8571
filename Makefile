# Two everyday commands: `make run` and `make test`. Both install what is missing first.
# `make bench` measures the release build from the outside (never part of `make test`).
PRESET ?= default
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
DEBIAN_PACKAGES := cmake g++ make ccache pkg-config qt6-base-dev qt6-base-dev-tools \
	qt6-serialport-dev libcurl4-openssl-dev python3-pyftpdlib python3-openssl libgl-dev \
	netcat-openbsd openssl dpkg-dev file desktop-file-utils appstream iproute2
# clang and its libFuzzer runtime build the fuzz targets.
DEBIAN_PACKAGES += clang libclang-rt-dev

# A run of some groups only (--only=...) or a quick try (--quick) does not replace the full
# results that the README quotes.
BENCH_PRESET ?= release
BENCH_ARGS ?=
BENCH_CPU ?= 0
BENCH_OUT = $(if $(findstring --only,$(BENCH_ARGS))$(findstring --quick,$(BENCH_ARGS)),bench/results-partial.json,bench/results.json)

.PHONY: run test package build configure deps asan fuzz bench clean

# The settings beside the built program are the developer's own: copied once, then kept.
run: build
	@cd build/$(PRESET)/bin && \
	if [ ! -e vantrel.ini ]; then \
		cp $(CURDIR)/vantrel.ini.sample vantrel.ini && \
		echo "Copied the sample settings to $$PWD/vantrel.ini" >&2; \
	fi; \
	if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "No display: running offscreen, the operator's view goes to standard error." >&2; \
		export QT_QPA_PLATFORM=offscreen; \
	fi; \
	./scrivora

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# A .deb and a portable .tar.gz in build/$(PRESET); only the program is built for them.
package: configure
	cmake --build --preset $(PRESET) --target scrivora -j $(JOBS)
	cd build/$(PRESET) && cpack

asan:
	$(MAKE) test PRESET=asan

# Every fuzz target for FUZZ_SECONDS from its seeds in fuzz/corpus, which stay untouched.
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

bench: deps
	cmake --preset $(BENCH_PRESET) >/dev/null
	cmake --build --preset $(BENCH_PRESET) -j $(JOBS) --target scrivora scrivora-padsim \
		scrivora-bench-epoll scrivora-bench-qt scrivora-bench
	@# One CPU for the driver and every program it starts: on a machine with idle CPUs the
	@# scheduler would otherwise decide, by chance, whose exchanges wait for a sleeping CPU.
	taskset -c $(BENCH_CPU) build/$(BENCH_PRESET)/bin/scrivora-bench --out=$(BENCH_OUT) \
		--revision="$$(git describe --always 2>/dev/null || echo unknown)$$(git status --porcelain \
			-- . ':!bench/results.json' 2>/dev/null | grep -q . && echo -dirty)" $(BENCH_ARGS)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

configure: deps
	cmake --preset $(PRESET) >/dev/null

deps:
	@missing=$$(for p in $(DEBIAN_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing missing Debian packages:" $$missing; \
		if [ "$$(id -u)" = 0 ]; then SUDO=; \
		elif command -v sudo >/dev/null 2>&1; then SUDO=sudo; \
		else echo "These Debian packages are missing and neither root nor sudo is available:" $$missing >&2; exit 1; fi; \
		$$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing >/dev/null \
			|| { echo "apt-get could not install:" $$missing >&2; exit 1; }; \
	fi

clean:
	rm -rf build
