#include <err.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sysexits.h>
#include <time.h>
#include <unistd.h>

#include "sekto.h"

uint64_t elapsed_usec(const timeval &start, const timeval &end)
{
	int64_t e = (static_cast<int64_t>(end.tv_sec) - start.tv_sec) * 1000000 +
	    (static_cast<int64_t>(end.tv_usec) - start.tv_usec);

	return static_cast<uint64_t>(e);
}

run_results compute_results(uint64_t usec, uint32_t count, uint64_t size)
{
	run_results r = {usec / 1000, 0, 0};

	if (usec != 0) {
		r.tps = static_cast<uint64_t>(count) * 1000000 / usec;
		r.kBps = ((size * count * 1000000) >> 10) / usec;
	}
	return r;
}

// The buffer is aligned for direct I/O and zeroed here, so that every page is
// mapped before the clock starts and no transfer faults one in.
static char *alloc_buffer(uint64_t size)
{
	void *p;
	int error = posix_memalign(&p, static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);

	if (error != 0) {
		errno = error;
		err(EX_OSERR, "malloc()");
	}
	memset(p, 0, size);
	return static_cast<char *>(p);
}

static void read_clock(timeval *tv)
{
	timespec ts;

	// Monotonic, so that a step of the wall clock cannot spoil a run's time.
	if (clock_gettime(CLOCK_MONOTONIC, &ts) == -1)
		err(EX_OSERR, "clock_gettime()");
	tv->tv_sec = ts.tv_sec;
	tv->tv_usec = static_cast<suseconds_t>(ts.tv_nsec / 1000);
}

static void seek_to(int fd, uint64_t pos)
{
	if (static_cast<uint64_t>(lseek(fd, static_cast<off_t>(pos), SEEK_SET)) != pos)
		err(EX_IOERR, "lseek(%lu)", pos);
}

// One transfer of size bytes at the current position. A size beyond what one
// call may move takes further calls on the following bytes; a call that moves
// less than it asked for ends the transfer. Returns the bytes moved, or -1.
static int64_t transfer(int fd, char *buf, uint64_t size, bool writing)
{
	uint64_t done = 0;

	for (;;) {
		size_t want = size - done < io_call_max ? size - done : io_call_max;
		ssize_t n = writing ? write(fd, buf + done, want) : read(fd, buf + done, want);

		if (n == -1)
			return -1;
		done += static_cast<uint64_t>(n);
		if (static_cast<size_t>(n) < want || done == size)
			return static_cast<int64_t>(done);
	}
}

void measure(int fd, uint64_t size, uint64_t offset, uint64_t step, uint32_t count)
{
	timeval start, end;
	uint64_t pos = offset;
	uint32_t progress = 0;
	int64_t n;
	char *buf;

	print_row_prefix(count, size, offset, step);
	buf = alloc_buffer(size);
	read_clock(&start);
	for (uint32_t i = 0; i < count; i++) {
		if (settings.do_read) {
			seek_to(fd, pos);
			n = transfer(fd, buf, size, false);
			if (n == -1)
				err(EX_IOERR, "read(%lu)", size);
			if (n < static_cast<int64_t>(size))
				errx(EX_IOERR, "short read: %ld < %lu", n, size);
		}
		if (settings.do_write) {
			seek_to(fd, pos);
			n = transfer(fd, buf, size, true);
			if (n == -1)
				err(EX_IOERR, "write(%lu)", size);
			if (n < static_cast<int64_t>(size))
				errx(EX_IOERR, "short write: %ld < %lu", n, size);
		}
		if ((i & 15) == 0 && settings.show_progress)
			draw_progress(progress, count);
		pos += step;
		progress += 23;
	}
	read_clock(&end);

	run_results r = compute_results(elapsed_usec(start, end), count, size);
	print_row_suffix(r.msec, r.tps, r.kBps);
	free(buf);
}
