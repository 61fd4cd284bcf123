# The two commands of README.md: `make demo` and `make test`. Both set up a
# fresh machine first.
.PHONY: all setup build test demo bench package clean

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

# The signed module and Vantorima.cab for pages to install from (build/package/).
package: build
	@tools/package.sh

clean:
	rm -rf build
