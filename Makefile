# The two commands of the project (see README.md), and the benchmarks.
.PHONY: run test bench fuzz deps build package


deps:
	@sh tools/install-deps.sh

build: deps
	cmake --preset host >/dev/null
	cmake --build --preset host
	cmake --preset windows >/dev/null
	cmake --build --preset windows

# The package as a user receives it (laid out by the Windows build), in dist/.
package: build
	rm -rf dist
	cp -r build/windows/dist dist
	@echo "package laid out in dist/: $$(ls dist | tr '\n' ' ')"

run: package
	./build/host/tools/zelsim

test: build
	ctest --preset host
	cmake --preset host-asan >/dev/null && cmake --build --preset host-asan
	ctest --preset host-asan
	cmake --preset host-tsan >/dev/null && cmake --build --preset host-tsan
	ctest --preset host-tsan
	cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
	ctest --preset fuzz
	ctest --preset windows

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	./build/bench/tools/bench_poll_precision
	./build/bench/tools/bench_transform
	./build/bench/tools/bench_lng

# Every fuzz target for FUZZ_SECONDS each (default 60), then a table of runs,
# speed, coverage and crashes; crash inputs stay in build/fuzz/tests/fuzz.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	/usr/bin/python3 tools/fuzz_table.py --seconds $(FUZZ_SECONDS) build/fuzz
