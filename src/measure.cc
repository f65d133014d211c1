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

// One transfer of size bytes at pos, with its own positioning. A size beyond
// what one call may move takes further calls on the following bytes; a call
// that moves less than it asked for ends the transfer as short.
static void transfer_at(int fd, char *buf, uint64_t size, uint64_t pos, bool writing)
{
	uint64_t done = 0;
	size_t want;
	ssize_t n;

	if (static_cast<uint64_t>(lseek(fd, static_cast<off_t>(pos), SEEK_SET)) != pos)
		err(EX_IOERR, "lseek(%lu)", pos);
	do {
		want = size - done < io_call_max ? size - done : io_call_max;
		n = writing ? write(fd, buf + done, want) : read(fd, buf + done, want);
		if (n == -1)
			err(EX_IOERR, "%s(%lu)", writing ? "write" : "read", size);
		done += static_cast<uint64_t>(n);
	} while (static_cast<size_t>(n) == want && done < size);
	if (done < size)
		errx(EX_IOERR, "short %s: %ld < %lu", writing ? "write" : "read",
		    static_cast<int64_t>(done), size);
}

void measure(int fd, uint64_t size, uint64_t offset, uint64_t step, uint32_t count)
{
	timeval start, end;
	uint64_t pos = offset;
	uint32_t progress = 0;
	char *buf;

	print_row_prefix(count, size, offset, step);
	buf = alloc_buffer(size);
	read_clock(&start);
	for (uint32_t i = 0; i < count; i++) {
		if (settings.do_read)
			transfer_at(fd, buf, size, pos, false);
		if (settings.do_write)
			transfer_at(fd, buf, size, pos, true);
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
