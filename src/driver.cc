#include <sys/stat.h>

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sysexits.h>
#include <unistd.h>

#include "sekto.h"

run_settings settings;

void usage()
{
	fprintf(stderr, "usage: sekto %s\n", "[-rsw] [-l minsize] [-h maxsize] [-t total] device");
	exit(1);
}

int open_flags(const run_settings &s, mode_t mode)
{
	int flags = s.do_write ? O_RDWR | exclusive_write_flag(mode) : O_RDONLY;

	if (s.sync_io)
		flags |= O_SYNC;
	return flags;
}

static int open_as(int flags, struct stat *st)
{
	int fd = open(settings.device, flags);

	if (fd == -1)
		err(errno == EPERM ? EX_NOPERM : EX_OSERR, "open(%s)", settings.device);
	if (fstat(fd, st) == -1)
		err(EX_OSERR, "stat(%s)", settings.device);
	return fd;
}

int open_device()
{
	struct stat st;
	mode_t mode = 0;
	int flags, fd;

	// The type decides the flags, so it is looked up before the open; a path
	// that cannot be looked up is left to the open to report.
	if (stat(settings.device, &st) == 0)
		mode = st.st_mode;
	flags = open_flags(settings, mode);
	fd = open_as(flags, &st);
	// The path may have been replaced in between; the flags must suit what was opened.
	if (int opened = open_flags(settings, st.st_mode); opened != flags) {
		close(fd);
		fd = open_as(opened, &st);
	}
	settings.blocksize = 512;
	if (query_sector_size(fd, st.st_mode, &settings.blocksize) == -1)
		err(EX_OSERR, "ioctl(%s, DIOCGSECTORSIZE)", settings.device);
	if (set_direct_io(fd, st.st_mode) == -1)
		err(EX_OSERR, "fcntl(%s, O_DIRECT)", settings.device);
	return fd;
}

size_fault settle_sizes(run_settings &s)
{
	// A zero block size would divide by zero below and never let the offsets grow.
	if (s.blocksize == 0)
		return BAD_BLOCKSIZE;
	if (s.minsize == 0)
		s.minsize = s.blocksize;
	if (s.minsize % s.blocksize != 0)
		return BAD_MINSIZE;
	if (s.maxsize == 0) {
		// 8 × minsize must fit in 32 bits; above that, take the largest size an option accepts.
		s.maxsize = s.minsize < 536870912u ? 8 * s.minsize : 2147483648u;
	}
	if (s.maxsize % s.minsize != 0)
		return BAD_MAXSIZE;
	if (s.total == 0)
		s.total = 134217728u;
	if (s.total % s.maxsize != 0)
		return BAD_TOTAL;
	return SIZES_OK;
}

void check_sizes()
{
	switch (settle_sizes(settings)) {
	case SIZES_OK:
		return;
	case BAD_BLOCKSIZE:
		errx(EX_OSERR, "ioctl(%s, DIOCGSECTORSIZE): invalid sector size %u",
		    settings.device, settings.blocksize);
	case BAD_MINSIZE:
		errx(EX_USAGE, "minsize (%u) is not a multiple of block size (%u)",
		    settings.minsize, settings.blocksize);
	case BAD_MAXSIZE:
		errx(EX_USAGE, "maxsize (%u) is not a multiple of minsize (%u)",
		    settings.maxsize, settings.minsize);
	case BAD_TOTAL:
		errx(EX_USAGE, "total (%u) is not a multiple of maxsize (%u)",
		    settings.total, settings.maxsize);
	}
}

std::vector<sweep_row> plan_sweep(const run_settings &s)
{
	std::vector<sweep_row> rows;

	// 64-bit sizes and offsets, so that doubling past 2147483648 ends the loops.
	for (uint64_t size = s.minsize; size <= s.maxsize; size *= 2) {
		uint64_t step = 4 * size;
		uint32_t count = s.total / static_cast<uint32_t>(size);

		rows.push_back({size, 0, step, count, true});
		for (uint64_t offset = s.blocksize; offset < size; offset *= 2)
			rows.push_back({size, offset, step, count, false});
	}
	return rows;
}

void run_sweep(int fd)
{
	std::vector<sweep_row> rows = plan_sweep(settings);

	print_header();
	for (const sweep_row &r : rows) {
		if (r.opens_group)
			print_separator();
		measure(fd, r.size, r.offset, r.step, r.count);
	}
}
