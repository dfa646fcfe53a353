# The front door: make, make test, make demo, make asan, make bench, make fuzz, make install,
# make format-check (and make format to apply it).
# Each target first installs the Debian packages it needs that are missing
# (scripts/install-deps), so a fresh machine needs nothing run before.
BUILD   ?= build
ASAN    ?= build-asan
FUZZB   ?= build-fuzz
PREFIX  ?= /usr/local
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
# WERROR=ON turns every compiler warning into an error (CI builds so).
WERROR  ?= OFF
DEPS    = scripts/install-deps

.PHONY: all build test asan demo bench fuzz install clean format format-check

all:
	$(DEPS) build
	$(MAKE) --no-print-directory build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTX_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

test:
	$(DEPS) build test
	$(MAKE) --no-print-directory build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

asan:
	$(DEPS) build test
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DTX_SANITIZE=ON -DTX_WERROR=$(WERROR)
	cmake --build $(ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

demo: all
	$(DEPS) demo
	bash examples/demo/run.sh $(BUILD)

bench:
	$(DEPS) build bench
	$(MAKE) --no-print-directory build
	bash bench/run.sh $(BUILD)

fuzz:
	$(DEPS) build fuzz
	CXX=clang++ cmake -S . -B $(FUZZB) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTX_FUZZ=ON \
	  -DTX_WERROR=$(WERROR)
	cmake --build $(FUZZB) -j $(JOBS)
	bash fuzz/run.sh $(FUZZB) $(FUZZ_SECONDS)

# Every C++ source against .clang-format: the check lists the files that
# differ, format rewrites them.
format-check:
	$(DEPS) format
	scripts/format-check

format:
	$(DEPS) format
	scripts/format-check --fix

install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZB) demo
