# Set-up commands for a fresh machine: `make run` and `make test`.
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test

.PHONY: all deps build run test bench package clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKESTRIX_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	$(RELEASE_DIR)/src/kestrix

# The test build runs under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRIX_SANITIZE=ON -DKESTRIX_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian package of the release build, build/release/kestrix_<version>_<arch>.deb.
package: build
	cd $(RELEASE_DIR) && cpack -G DEB

bench: build
	bash bench/run.sh $(RELEASE_DIR)/src/kestrix-list
	bash bench/window.sh $(RELEASE_DIR)/src/kestrix-list

clean:
	rm -rf build
