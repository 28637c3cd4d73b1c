# The two commands of the quick start, and the jobs around them. Each target
# installs what it needs, configures and builds on its own.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo clean

all: build

deps:
	@sh cmake/install-deps.sh

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The main job of vyn on sample data made by the project; results in demo-out/.
demo: build
	sh host/demo.sh build/$(PRESET)/bin demo-out

clean:
	rm -rf build
