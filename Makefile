# The two commands a player or developer needs: `make run` and `make test`.
# `make windows` cross-compiles skyrazor.exe; `make test-windows` also runs the
# tests for Windows under Wine (with a release build of the native game to play
# a network game against); `make windows-zip` packs skyrazor.exe with a
# readme and the licence into build/windows/skyrazor-VERSION-windows-x86_64.zip.
# Each first installs the Debian packages it needs that are missing, and no
# more (tools/install-build-deps.sh): `make run` only what building and
# playing need, `make test` the test tools too. `make fuzz` runs each fuzz
# target for FUZZ_SECONDS (clang).
# `make install` installs the game, its manual page, desktop entry and
# AppStream metainfo under PREFIX (staged under DESTDIR when given).
# `make compare` checks that the working tree's game prints byte for byte what
# BASE's does (default: where HEAD left main) over tests/scripts and
# COMPARE_SESSIONS random sessions (tools/compare-outputs).
# `make deb` builds the Debian packages (skyrazor, the game, and
# skyrazor-server, its service) into build/deb (tools/build-deb);
# `make deb-test` also checks them with lintian and installs them into a
# throwaway root (tests/package/deb_test.sh).

JOBS ?= 2
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
BASE ?= $(shell git merge-base HEAD main 2>/dev/null)
COMPARE_SESSIONS ?= 300
COMPARE_DIR = build/compare/base

.PHONY: run test build install deps deps-test bench deps-bench format clean windows test-windows deps-windows \
  fuzz deps-fuzz compare windows-zip deb deb-test deps-deb

deps:
	@./tools/install-build-deps.sh run

deps-test:
	@./tools/install-build-deps.sh test

# Quietly: one line of progress, the whole log in build/release/build.log.
build: deps
	@./tools/quiet-build release $(JOBS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

# The game gets the terminal as a job of its own (set -m), so that Ctrl-C,
# its way out, ends the game and not make: leaving reads as the normal end it
# is, while any other failing status of the game still fails. Ctrl-Z stops
# the game; make is then stopped with it, as the shell would, and the game
# carries on when make does (fg).
run: SHELL := /bin/bash
run: build
	@[ -t 0 ] && set -m; ./build/release/skyrazor; status=$$?; \
	while jobs %% >/dev/null 2>&1; do kill -TSTP 0; fg %% >/dev/null; status=$$?; done; \
	[ $$status -eq 130 ] || exit $$status

test: deps-test
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

deps-windows:
	@./tools/install-build-deps.sh windows

windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS) --target skyrazor

windows-zip: deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS) --target skyrazor_zip

# The native game (the release build) is what the Windows build plays a
# network game against.
test-windows: deps-windows
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	ctest --preset windows

deps-bench:
	@./tools/install-build-deps.sh bench

bench: deps-bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	./build/bench/bench/skyrazor_bench
	./build/bench/bench/skyrazor_soak
	./build/bench/bench/skyrazor_soak --self-check
	./build/bench/bench/skyrazor_terminal_figures ./build/bench/skyrazor
	./build/bench/bench/skyrazor_network_figures ./build/bench/skyrazor

deps-fuzz:
	@./tools/install-build-deps.sh fuzz

fuzz: deps-fuzz
	cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++
	cmake --build build/fuzz -j $(JOBS)
	./fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

# BASE's files are exported with git archive (nothing is checked out) into
# $(COMPARE_DIR)/source, afresh only when BASE's tree differs from the last
# one exported, and built with their own release preset.
compare: deps-test build
	@[ -n "$(BASE)" ] || { echo "make compare: no merge-base with main; give BASE=<revision>"; exit 2; }
	@tree=$$(git rev-parse --verify --quiet "$(BASE)^{tree}") || \
	  { echo "make compare: $(BASE) is not a revision"; exit 2; }; \
	if [ "$$(cat $(COMPARE_DIR)/tree 2>/dev/null)" != "$$tree" ]; then \
	  echo "Exporting $(BASE) into $(COMPARE_DIR)/source"; \
	  rm -rf $(COMPARE_DIR) && mkdir -p $(COMPARE_DIR)/source && \
	  git archive "$$tree" | tar -x -C $(COMPARE_DIR)/source && echo "$$tree" >$(COMPARE_DIR)/tree; \
	fi
	cmake -S $(COMPARE_DIR)/source --preset release -B $(COMPARE_DIR)/release -DSKYRAZOR_TESTS=OFF
	cmake --build $(COMPARE_DIR)/release -j $(JOBS)
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS) --target skyrazor_write_sessions
	SKYRAZOR_COMPARE_SCRIPTS=$(COMPARE_DIR)/source/tests/scripts \
	  ./tools/compare-outputs $(COMPARE_DIR)/release/skyrazor build/release/skyrazor $(COMPARE_SESSIONS)

deps-deb:
	@./tools/install-build-deps.sh deb

deb: deps-deb
	./tools/build-deb build/deb

deb-test: deb
	sh tests/package/deb_test.sh build/deb .

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
