# The front door: make, make test, make demo, make asan, make bench, make fuzz, make install.
BUILD   ?= build
ASAN    ?= build-asan
FUZZB   ?= build-fuzz
PREFIX  ?= /usr/local
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60

.PHONY: all test asan demo bench fuzz install clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: all
	ctest --test-dir $(BUILD) --output-on-failure

asan:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DTX_SANITIZE=ON
	cmake --build $(ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN) --output-on-failure

demo: all
	bash examples/demo/run.sh $(BUILD)

bench: all
	bash bench/run.sh $(BUILD)

fuzz:
	CXX=clang++ cmake -S . -B $(FUZZB) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTX_FUZZ=ON
	cmake --build $(FUZZB) -j $(JOBS)
	bash fuzz/run.sh $(FUZZB) $(FUZZ_SECONDS)

install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZB) demo
