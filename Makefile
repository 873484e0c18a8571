# Two everyday commands: `make run` and `make test`. Both install what is missing first.
# `make bench` measures the release build from the outside (never part of `make test`).
PRESET ?= default
JOBS ?= $(shell nproc)
DEBIAN_PACKAGES := cmake g++ make ccache pkg-config qt6-base-dev qt6-base-dev-tools \
	qt6-serialport-dev libcurl4-openssl-dev python3-pyftpdlib vsftpd libgl-dev \
	netcat-openbsd openssl

# A run of some groups only (--only=...) or a quick try (--quick) does not replace the full
# results that the README quotes.
BENCH_PRESET ?= release
BENCH_ARGS ?=
BENCH_OUT = $(if $(findstring --only,$(BENCH_ARGS))$(findstring --quick,$(BENCH_ARGS)),bench/results-partial.json,bench/results.json)

.PHONY: run test build configure deps asan clean bench

run: build
	@cd build/$(PRESET)/bin && \
	if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "No display: running offscreen, the operator's view goes to standard error." >&2; \
		export QT_QPA_PLATFORM=offscreen; \
	fi; \
	./scrivora

test: build
	ctest --preset $(PRESET) -j $(JOBS)

asan:
	$(MAKE) test PRESET=asan

bench: deps
	cmake --preset $(BENCH_PRESET) >/dev/null
	cmake --build --preset $(BENCH_PRESET) -j $(JOBS) --target scrivora scrivora-padsim \
		scrivora-bench-epoll scrivora-bench-qt scrivora-bench
	build/$(BENCH_PRESET)/bin/scrivora-bench --out=$(BENCH_OUT) \
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
