# Build and test the findings service on Debian: cross-compiled with mingw-w64, run under Wine.
BUILD_DIR ?= build
export BUILD_DIR
PYTHON := /usr/bin/python3
JOBS ?= 2

.PHONY: all setup configure build unit e2e test bench demo clean

all: build

setup:
	@tools/setup.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release

configure: $(BUILD_DIR)/CMakeCache.txt

build: setup configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

unit: build
	cd $(BUILD_DIR) && ctest --output-on-failure

e2e: build
	$(PYTHON) -m pytest -q tests/e2e --junitxml=$(BUILD_DIR)/e2e-report.xml

# Runs every test and ends with one summary line.
test: build
	@rc=0; \
	(cd $(BUILD_DIR) && ctest --output-on-failure) || rc=1; \
	$(PYTHON) -m pytest -q tests/e2e --junitxml=$(BUILD_DIR)/e2e-report.xml || rc=1; \
	$(PYTHON) tools/summary.py $(BUILD_DIR)/unit-report.xml $(BUILD_DIR)/e2e-report.xml || rc=1; \
	exit $$rc

bench: build
	$(PYTHON) tools/bench.py

demo: build
	$(PYTHON) tools/demo.py

clean:
	rm -rf $(BUILD_DIR)
