# Front door: `make run` opens the window, `make test` runs every test, `make package` builds
# the Debian package. All install the system packages first (scripts/install-deps) and build
# with CMake presets. Without a display, `make run` says so before it builds anything and
# points to `make run-virtual` (the window on a virtual display) and `make cli DIR=...` (the
# walk without a window).
PRESET ?= dev
BUILD := build/$(PRESET)
# `make cli`: the folder to describe, and the facts to show (tagrelay-cli --help lists them);
# they add to the options ticked in the window, which tagrelay-cli reads from brelvoka.ini here.
DIR ?=
OPTIONS ?= --artist --album --title --bitrate --playtime --genre --picture-size

.PHONY: all deps configure build run run-virtual test cli package windows clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

run:
	@if scripts/has-display; then \
	    $(MAKE) --no-print-directory build && exec ./$(BUILD)/tagrelay; \
	else \
	    echo "make run: no display here (DISPLAY names none that answers); log in with ssh -X," \
	        "or try \`make run-virtual\` (the window on a virtual display) or" \
	        "\`make cli DIR=/path/to/music\` (the same walk without a window)"; \
	fi

run-virtual: build
	@scripts/run-virtual ./$(BUILD)/tagrelay

test: build
	ctest --preset $(PRESET)

cli:
ifeq ($(strip $(DIR)),)
	@echo "make cli: name the folder to describe, for example: make cli DIR=/srv/music" \
	    "(OPTIONS=\"--artist --title\" chooses the facts; see $(BUILD)/tagrelay-cli --help)"
else
	@[ -d "$(DIR)" ] || { echo "make cli: $(DIR) is not a folder" >&2; exit 2; }
	@$(MAKE) --no-print-directory build
	./$(BUILD)/tagrelay-cli $(OPTIONS) "$(DIR)"
endif

# A release build with Debian's hardening flags; the .deb lands in this folder.
package: deps
	cmake --preset package
	cmake --build --preset package
	cpack --preset package -B "$(CURDIR)/build/package/deb"
	cp build/package/deb/tagrelay_*.deb .
	@ls -1 tagrelay_*.deb

# tagrelay-cli.exe for 64-bit Windows, cross-built here, and its zip with the licences and a
# README (scripts/windows-package); the static libraries are built once into a cache folder.
windows:
	@scripts/install-deps windows
	scripts/windows-deps
	cmake --preset windows -DTAGRELAY_TESTS=OFF
	cmake --build --preset windows --target tagrelay-cli
	scripts/windows-package build/windows/tagrelay-cli.exe .

clean:
	rm -rf build
