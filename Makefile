# The two commands a player or developer needs: `make run` and `make test`.
# `make windows` cross-compiles skyrazor.exe; `make test-windows` also runs the
# tests for Windows under Wine. All first install any missing Debian build
# dependencies. `make fuzz` runs each fuzz target for FUZZ_SECONDS (clang).
# `make install` installs the game and its manual page under PREFIX (staged
# under DESTDIR when given).

JOBS ?= 2
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: run test build install deps bench format clean windows test-windows deps-windows fuzz deps-fuzz

deps:
	@./tools/install-build-deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

run: build
	./build/release/skyrazor

test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

deps-windows:
	@./tools/install-build-deps.sh windows

windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS) --target skyrazor

test-windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	ctest --preset windows

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	./build/bench/bench/skyrazor_bench
	./build/bench/bench/skyrazor_soak
	./build/bench/bench/skyrazor_terminal_figures ./build/bench/skyrazor

deps-fuzz:
	@./tools/install-build-deps.sh fuzz

fuzz: deps-fuzz
	cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++
	cmake --build build/fuzz -j $(JOBS)
	./fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
