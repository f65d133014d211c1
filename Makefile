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

# On Debian, installs what the build lacks first (as root), so that a fresh
# machine needs nothing but this.
configure:
	sh tools/deps.sh build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)

# The default sweep reads up to byte 536869376, so the scratch file is 512 MiB.
run: all
	@if [ "$(DEVICE)" = "$(SCRATCH)" ] && [ ! -f "$(SCRATCH)" ]; then \
		echo "creating the 512 MiB scratch file $(SCRATCH)"; \
		dd if=/dev/zero of="$(SCRATCH).part" bs=1048576 count=512 2>/dev/null && \
		mv "$(SCRATCH).part" "$(SCRATCH)"; \
	fi
	$(BUILD)/sekto $(OPTIONS) $(DEVICE)

check:
	sh tools/deps.sh test
	$(MAKE) all BUILD="$(BUILD)" CMAKE_FLAGS="$(CMAKE_FLAGS)"
	cd $(BUILD) && ctest --output-on-failure

# The FreeBSD code paths, compiled against FreeBSD's declared API with g++
# and clang++; no FreeBSD build, link or run.
check-freebsd:
	sh tools/deps.sh freebsd
	sh tools/check-freebsd.sh

# Run by hand, as root: sekto against fio and a bare loop. Not part of check.
bench: all
	sh bench/run.sh $(BUILD)

# The Debian package, built from a copy of the tree in $(BUILD)/deb, where
# dpkg-buildpackage leaves it: the tools put their results beside the source.
deb:
	sh tools/deps.sh deb
	rm -rf $(BUILD)/deb
	mkdir -p $(BUILD)/deb/sekto
	tar -cf - --exclude=./.git --exclude='./build*' --exclude='./$(BUILD)' . | \
		(cd $(BUILD)/deb/sekto && tar -xf -)
	cd $(BUILD)/deb/sekto && dpkg-buildpackage -us -uc -b
	@for f in $(BUILD)/deb/*.deb; do echo "make deb: built $$f"; done

install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD)

.PHONY: all configure run check check-freebsd bench deb install clean
