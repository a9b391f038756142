# make          install what is missing, then build every plug-in (build/mex), tests, benchmarks
# make test     build, then run the unit tests and the Octave tests
# make test-asan  build the unit tests with ASan and UBSan ($(BUILD_DIR)-asan), then run them
# make fuzz     build a libFuzzer target per plug-in with clang, ASan and UBSan ($(BUILD_DIR)-fuzz), then run each for FUZZ_SECONDS s
# make valgrind  build, then run the Octave tests under valgrind memcheck (about 5 minutes)
# make bench    build, then run the benchmarks and print each plug-in against its plain loop
# make demo     build, fetch the data once, learn a face template and detect faces (writes out/)
# make package  build the Octave package archive
# make deps     install missing Debian packages (Octave among them; needs root)
# make clean    remove the build folder

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps configure test test-asan fuzz valgrind bench demo package clean

all: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

deps:
	scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

test: all
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON
	cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	cd $(BUILD_DIR)-asan && ctest --output-on-failure -j $(JOBS)

fuzz: deps
	cmake -S . -B $(BUILD_DIR)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD_DIR)-fuzz -j $(JOBS)
	tests/fuzz/run_fuzzers.sh $(BUILD_DIR)-fuzz $(FUZZ_SECONDS) $(JOBS)

valgrind: all
	tests/valgrind/run_memcheck.sh $(BUILD_DIR)

bench: all
	scripts/bench.sh $(BUILD_DIR)

demo: all
	SCENE="$(SCENE)" OUT="$(OUT)" FACES="$(FACES)" COUNT="$(COUNT)" BUILD_DIR="$(BUILD_DIR)" scripts/demo.sh

package: all
	BUILD_DIR="$(BUILD_DIR)" scripts/package.sh

clean:
	rm -rf $(BUILD_DIR)
