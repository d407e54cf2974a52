# Front door: `make run` starts the program, `make test` runs every test.
# Both install the system packages first (scripts/install-deps) and build with CMake presets.
PRESET ?= dev

.PHONY: all deps configure build run test cli clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

run: build
	./build/$(PRESET)/tagrelay

test: build
	ctest --preset $(PRESET)

cli: build
	@echo "./build/$(PRESET)/tagrelay-cli --help"

clean:
	rm -rf build
