/*
 * bare: the plainest loop that makes the transfers of one sekto row, to show
 * what the device gives with no program around it.
 *
 * usage: bare size step count path
 *
 * Reads count transfers of size bytes, step bytes apart from offset 0, each
 * with its own lseek, into one page-aligned buffer touched beforehand. A block
 * device is read with O_DIRECT, as sekto reads it. Prints the transfers per
 * second, truncated as sekto truncates them.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
	struct timespec start, end;
	struct stat st;
	uint64_t size, step, usec;
	uint32_t count, i;
	void *buf;
	int fd;

	if (argc != 5) {
		fprintf(stderr, "usage: bare size step count path\n");
		return 2;
	}
	size = strtoull(argv[1], NULL, 10);
	step = strtoull(argv[2], NULL, 10);
	count = (uint32_t)strtoul(argv[3], NULL, 10);
	fd = open(argv[4], O_RDONLY);
	if (fd == -1 || fstat(fd, &st) == -1) {
		perror(argv[4]);
		return 1;
	}
	if (S_ISBLK(st.st_mode) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_DIRECT) == -1) {
		perror("fcntl");
		return 1;
	}
	if (posix_memalign(&buf, (size_t)sysconf(_SC_PAGESIZE), size) != 0) {
		perror("posix_memalign");
		return 1;
	}
	memset(buf, 0, size);
	clock_gettime(CLOCK_MONOTONIC, &start);
	for (i = 0; i < count; i++) {
		if (lseek(fd, (off_t)(i * step), SEEK_SET) == -1 || read(fd, buf, size) != (ssize_t)size) {
			perror("transfer");
			return 1;
		}
	}
	clock_gettime(CLOCK_MONOTONIC, &end);
	usec = (uint64_t)((end.tv_sec - start.tv_sec) * 1000000 + (end.tv_nsec / 1000 - start.tv_nsec / 1000));
	printf("%" PRIu64 "\n", usec ? (uint64_t)count * 1000000 / usec : 0);
	free(buf);
	close(fd);
	return 0;
}
