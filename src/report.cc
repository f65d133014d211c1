#include <stdint.h>
#include <stdio.h>

#include "sekto.h"

void print_header()
{
	printf("%8s%8s%8s%8s%12s%8s%8s\n", "count", "size", "offset", "step", "msec", "tps", "kBps");
}

void print_separator()
{
	putchar('\n');
}

void print_row_prefix(uint32_t count, uint64_t size, uint64_t offset, uint64_t step)
{
	printf("%8u%8lu%8lu%8lu  ", count, size, offset, step);
	// Flushed before the clock starts, so a pipe or a file shows the prefix during the run.
	fflush(stdout);
}

void print_row_suffix(uint64_t msec, uint64_t tps, uint64_t kBps)
{
	printf("%10lu%8ju%8ju\n", msec, static_cast<uintmax_t>(tps), static_cast<uintmax_t>(kBps));
}
