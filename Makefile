# Two entry points on a fresh Debian 12 machine:
#   make run    install what is missing, build a release build, start the agent
#   make test   install, build with tests, run every test inside a private test desktop
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build build-release deps deps-test format clean package-test

deps:
	scripts/install-deps.sh

deps-test:
	scripts/install-deps.sh --test

build-release: deps
	cmake -S . -B $(BUILD)-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHB_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-release -j $(JOBS)

run: build-release
	$(BUILD)-release/bin/harbly

build: deps-test
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	tests/desktop.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD)-release

# The Debian package: release build, cpack, then checks in a throw-away root and lintian,
# inside the private test desktop (the menu-entry start needs a display).
package-test: deps-test
	JOBS=$(JOBS) tests/desktop.sh scripts/package-test.sh $(BUILD)-release
