# Front door: `make run` starts the program, `make test` runs every test, `make package` builds
# the Debian package. All install the system packages first (scripts/install-deps) and build
# with CMake presets.
PRESET ?= dev

.PHONY: all deps configure build run test cli package clean

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

# A release build with Debian's hardening flags; the .deb lands in this folder.
package: deps
	cmake --preset package
	cmake --build --preset package
	cpack --preset package -B "$(CURDIR)/build/package/deb"
	cp build/package/deb/tagrelay_*.deb .
	@ls -1 tagrelay_*.deb

clean:
	rm -rf build
