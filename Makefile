# Set-up commands for a fresh machine: `make run` and `make test`.
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test

.PHONY: all deps release-config build build-all run test bench package clean

all: build

# What building and running need; the test and bench targets add their own tools.
deps:
	bash scripts/install-deps.sh build

release-config: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKESTRIX_TESTS=OFF

# The two programs only.
build: release-config
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target kestrix kestrix-list

# Everything, the package's files and the benchmark programs too.
build-all: release-config
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	$(RELEASE_DIR)/src/kestrix

# The test build runs under AddressSanitizer and UndefinedBehaviorSanitizer.
test:
	bash scripts/install-deps.sh test
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRIX_SANITIZE=ON -DKESTRIX_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian package of the release build, build/release/kestrix_<version>_<arch>.deb.
# Its tools are the package test's.
package: build-all
	bash scripts/install-deps.sh test
	cd $(RELEASE_DIR) && cpack -G DEB

# Its tools come first: the build looks for some of them.
bench:
	bash scripts/install-deps.sh bench
	$(MAKE) build-all
	bash bench/run.sh $(RELEASE_DIR)/src/kestrix-list
	bash bench/window.sh $(RELEASE_DIR)/src/kestrix-list

clean:
	rm -rf build
