# Wraps CMake. Plain POSIX make, so that BSD make runs it too.

BUILD = build
PREFIX = /usr/local
DESTDIR =
CMAKE_FLAGS =
SCRATCH = $(BUILD)/scratch.img
DEVICE = $(SCRATCH)
OPTIONS =

all: configure
	cmake --build $(BUILD) --parallel

configure:
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)

# The default sweep reads up to byte 536869376, so the scratch file is 512 MiB.
run: all
	@if [ "$(DEVICE)" = "$(SCRATCH)" ] && [ ! -f "$(SCRATCH)" ]; then \
		echo "creating the 512 MiB scratch file $(SCRATCH)"; \
		dd if=/dev/zero of="$(SCRATCH).part" bs=1048576 count=512 2>/dev/null && \
		mv "$(SCRATCH).part" "$(SCRATCH)"; \
	fi
	$(BUILD)/sekto $(OPTIONS) $(DEVICE)

check: all
	cd $(BUILD) && ctest --output-on-failure

# Run by hand, as root: sekto against fio and a bare loop. Not part of check.
bench: all
	sh bench/run.sh $(BUILD)

install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD)

.PHONY: all configure run check bench install clean
