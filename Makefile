# The two commands of README.md: `make demo` and `make test`. Both set up a
# fresh machine first.
.PHONY: all setup build test demo bench fuzz package clean

# Minutes of the whole fuzzing campaign: make fuzz FUZZ_MINUTES=60
FUZZ_MINUTES ?= 10

all: build

setup:
	@tools/setup.sh

build: setup
	@tools/build.sh

test:
	@tools/run-tests.sh

demo: build
	@tools/demo.sh

bench: build
	@tools/bench.sh

# A libFuzzer campaign over every parser of outside bytes; prints the runs
# and coverage per target.
fuzz: setup
	@FUZZ_MINUTES=$(FUZZ_MINUTES) tools/fuzz.sh

# The signed module and Vantorima.cab for pages to install from (build/package/).
package: build
	@tools/package.sh

# Formats every C++ file as make test expects them (tools/format.sh).
format: setup
	@tools/format.sh

clean:
	rm -rf build
