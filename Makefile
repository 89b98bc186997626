# Quirelle: `make run` starts the wizard, `make test` runs every test. Both install what is missing.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all build deps run test test-normal test-asan bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRELLE_WERROR=ON

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: deps build
	$(BUILD)/bin/quirelle

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUIRELLE_SANITIZE=ON -DQUIRELLE_BUILD_BENCH=OFF

# Every test, twice: a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer build.
test: deps
	$(MAKE) test-normal
	$(MAKE) test-asan

test-normal: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

bench: build
	tools/run-benchmarks.sh $(BUILD)

# A libFuzzer run of one target: make fuzz FUZZ=jpeg SECONDS=600
FUZZ    ?= jpeg
SECONDS ?= 600
fuzz: deps
	tools/run-fuzz.sh $(FUZZ) $(SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
