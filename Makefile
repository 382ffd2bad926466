# The two commands of the project (see README.md), and the benchmarks.
.PHONY: run test bench deps build


deps:
	@sh tools/install-deps.sh

build: deps
	cmake --preset host >/dev/null
	cmake --build --preset host
	cmake --preset windows >/dev/null
	cmake --build --preset windows

run: build
	./build/host/tools/zelsim

test: build
	ctest --preset host
	cmake --preset host-asan >/dev/null && cmake --build --preset host-asan
	ctest --preset host-asan
	cmake --preset host-tsan >/dev/null && cmake --build --preset host-tsan
	ctest --preset host-tsan
	ctest --preset windows

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	./build/bench/tools/bench_poll_precision
	./build/bench/tools/bench_transform
	./build/bench/tools/bench_lng
