# make          install what is missing (build and test groups), then build everything: the
#               plug-ins (build/mex), the toolbox copy (build/toolbox), tests and benchmarks
# make plugins  install what building needs (build group), then build only the plug-ins and
#               the toolbox copy
# make demo     make plugins, fetch the data once, learn a face template and detect faces (writes out/)
# make detect IMAGES=folder OUT=folder [JOBS=n]  make plugins, then find the faces in every
#               photo of a folder, resuming a killed run (scripts/detect.sh lists the variables)
# make test     make, then run the unit tests, the Octave tests and the package test
# make test-asan  build the unit tests with ASan and UBSan ($(BUILD_DIR)-asan), then run them
# make fuzz     build a libFuzzer target per plug-in with clang, ASan and UBSan ($(BUILD_DIR)-fuzz), then run each for FUZZ_SECONDS s
# make valgrind  make, then run the Octave tests under valgrind memcheck (about 5 minutes)
# make bench    make, then run the benchmarks and print each plug-in against its plain loop
# make evaluate  make plugins, fetch the development photos once, and print how many labelled
#               faces detect_faces finds on them and on both Solvay scans, beside OpenCV's
#               Haar cascade (installed when run: install-deps.sh group peers)
# make bench-detect  make plugins, then time detect_faces on the Solvay photo (also enlarged,
#               and on 1 and 2 threads) beside the Haar cascade, and the whole cached make demo
# make package  make, then build the Octave package archive
# make deps     install the missing Debian packages of the build group (needs root); deps-test,
#               deps-fuzz and deps-valgrind add the group they name (see scripts/install-deps.sh)
# make clean    remove the build folder
#
# Variables: BUILD_DIR (build), JOBS (processors to build with), FUZZ_SECONDS (60), CMAKE_ARGS
# (further cmake configure arguments), INSTALL_DEPS (the package installer; INSTALL_DEPS=true
# installs nothing), V=1 (show the commands run and CMake's configure messages).

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_ARGS ?=
INSTALL_DEPS ?= scripts/install-deps.sh

# Quiet output, so that the demo's own lines stand out: no "Entering directory" lines, from
# this make or from the makes CMake runs under it (MAKEFLAGS reaches them), and of CMake's
# messages only its warnings and errors and its "[ NN%] Building ..." lines. CMake prints its
# closing "Configuring done" lines whatever the log level: they are dropped.
MAKEFLAGS += --no-print-directory
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
ifeq ($(V),1)
  Q :=
  CMAKE_QUIET := --log-level=STATUS -DCMAKE_TARGET_MESSAGES=ON
  CONFIGURE_FILTER := cat
else
  Q := @
  CMAKE_QUIET := --log-level=WARNING -DCMAKE_TARGET_MESSAGES=OFF
  CONFIGURE_FILTER := sed -E '/^-- (Configuring done|Generating done|Build files have been written to)/d'
endif
# $(call configure,build folder,arguments)
configure = $(Q)cmake $(CMAKE_QUIET) -S . -B $(1) $(2) $(CMAKE_ARGS) | $(CONFIGURE_FILTER)

.PHONY: all plugins deps deps-test deps-fuzz deps-valgrind deps-slurm test test-asan fuzz valgrind bench bench-detect evaluate demo detect package clean
# Each step waits for the one before (the builds are parallel inside): never two package
# installs at once.
.NOTPARALLEL:

all: deps-test
	$(call configure,$(BUILD_DIR),-DCMAKE_BUILD_TYPE=Release -DREQUIRE_TESTS=ON)
	$(Q)cmake --build $(BUILD_DIR) -j $(JOBS)

plugins: deps
	$(call configure,$(BUILD_DIR),-DCMAKE_BUILD_TYPE=Release -DREQUIRE_TESTS=OFF)
	$(Q)cmake --build $(BUILD_DIR) -j $(JOBS) --target plugins

deps:
	$(Q)$(INSTALL_DEPS) build

deps-test:
	$(Q)$(INSTALL_DEPS) build test

deps-fuzz:
	$(Q)$(INSTALL_DEPS) build fuzz

deps-valgrind:
	$(Q)$(INSTALL_DEPS) build test valgrind

deps-slurm:
	$(Q)$(INSTALL_DEPS) build slurm

test: all
	$(Q)cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-asan: deps-test
	$(call configure,$(BUILD_DIR)-asan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON -DREQUIRE_TESTS=ON)
	$(Q)cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	$(Q)cd $(BUILD_DIR)-asan && ctest --output-on-failure -j $(JOBS)

fuzz: deps-fuzz
	$(call configure,$(BUILD_DIR)-fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON -DCMAKE_CXX_COMPILER=clang++)
	$(Q)cmake --build $(BUILD_DIR)-fuzz -j $(JOBS)
	$(Q)tests/fuzz/run_fuzzers.sh $(BUILD_DIR)-fuzz $(FUZZ_SECONDS) $(JOBS)

valgrind: deps-valgrind all
	$(Q)tests/valgrind/run_memcheck.sh $(BUILD_DIR)

bench: all
	$(Q)scripts/bench.sh $(BUILD_DIR)

bench-detect: plugins
	$(Q)BUILD_DIR="$(BUILD_DIR)" scripts/bench-detect.sh

evaluate: plugins
	$(Q)BUILD_DIR="$(BUILD_DIR)" scripts/evaluate.sh

demo: plugins
	$(Q)SCENE="$(SCENE)" OUT="$(OUT)" FACES="$(FACES)" COUNT="$(COUNT)" RERANK="$(RERANK)" TEMPLATE="$(TEMPLATE)" BUILD_DIR="$(BUILD_DIR)" scripts/demo.sh

# JOBS here counts the batch's worker processes (by default one per core, as for building).
detect: plugins
	$(Q)IMAGES="$(IMAGES)" OUT="$(OUT)" JOBS="$(JOBS)" THREADS="$(THREADS)" RECURSIVE="$(RECURSIVE)" \
	  PICTURES="$(PICTURES)" FACES="$(FACES)" COUNT="$(COUNT)" RERANK="$(RERANK)" MEMORY="$(MEMORY)" \
	  TEMPLATE="$(TEMPLATE)" BUILD_DIR="$(BUILD_DIR)" scripts/detect.sh

package: all
	$(Q)BUILD_DIR="$(BUILD_DIR)" scripts/package.sh

clean:
	rm -rf $(BUILD_DIR)
