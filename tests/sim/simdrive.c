/*
 * A simulated drive for the verdict tests: a FUSE file system that holds one
 * memory-backed file, "disk", opened with direct I/O so that every request
 * arrives with the offset and size that the kernel asked for. Each request is
 * charged a cost per physical sector that it touches, and a write that covers
 * a physical sector only in part also pays a read of it (read-modify-write),
 * so the file behaves like a drive whose physical sector size is known.
 *
 *   simdrive MOUNTPOINT [-o ...] --size=BYTES --physical=BYTES --cost=USEC
 *            [--log=FILE] [--log-requests=N]
 *
 * The cost is spent spinning, not sleeping: a sleep's wake-up would cost more
 * than the sector itself and vary far more.
 */
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

static struct {
	unsigned long size;
	unsigned long physical;
	unsigned long cost;
	char *log;
	unsigned long log_requests;
} cfg = {64ul << 20, 4096, 100, NULL, 32};

static unsigned char *data;
static FILE *logf;
static unsigned long logged;

#define OPT(t, p) {t, offsetof(__typeof__(cfg), p), 0}
static const struct fuse_opt options[] = {
	OPT("--size=%lu", size),
	OPT("--physical=%lu", physical),
	OPT("--cost=%lu", cost),
	OPT("--log=%s", log),
	OPT("--log-requests=%lu", log_requests),
	FUSE_OPT_END,
};

static void spin(unsigned long usec)
{
	struct timespec start, now;

	clock_gettime(CLOCK_MONOTONIC, &start);
	do
		clock_gettime(CLOCK_MONOTONIC, &now);
	while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) <
	    (long)usec * 1000L);
}

/* Charges a request of len bytes at off what the simulated drive would spend. */
static void charge(const char *what, size_t len, off_t off, int writing)
{
	unsigned long p = cfg.physical;
	unsigned long first = (unsigned long)off / p;
	unsigned long last = ((unsigned long)off + len - 1) / p;
	unsigned long sectors = last - first + 1;

	if (writing) {
		/* a sector covered in part is read first, then written whole */
		if ((unsigned long)off % p != 0 || (first == last && len < p))
			sectors++;
		if (last != first && ((unsigned long)off + len) % p != 0)
			sectors++;
	}
	if (logf != NULL && (cfg.log_requests == 0 || logged < cfg.log_requests)) {
		fprintf(logf, "%s %zu %lld\n", what, len, (long long)off);
		fflush(logf);
		logged++;
	}
	spin(sectors * cfg.cost);
}

static int sim_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
	(void)fi;
	memset(st, 0, sizeof *st);
	if (strcmp(path, "/") == 0) {
		st->st_mode = S_IFDIR | 0755;
		st->st_nlink = 2;
	} else if (strcmp(path, "/disk") == 0) {
		st->st_mode = S_IFREG | 0600;
		st->st_nlink = 1;
		st->st_size = (off_t)cfg.size;
	} else {
		return -ENOENT;
	}
	return 0;
}

static int sim_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t off,
    struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
	(void)off;
	(void)fi;
	(void)flags;
	if (strcmp(path, "/") != 0)
		return -ENOENT;
	fill(buf, ".", NULL, 0, 0);
	fill(buf, "..", NULL, 0, 0);
	fill(buf, "disk", NULL, 0, 0);
	return 0;
}

static int sim_open(const char *path, struct fuse_file_info *fi)
{
	if (strcmp(path, "/disk") != 0)
		return -ENOENT;
	fi->direct_io = 1;
	return 0;
}

static size_t clamp(size_t len, off_t off)
{
	if (off < 0 || (unsigned long)off >= cfg.size)
		return 0;
	return len < cfg.size - (unsigned long)off ? len : cfg.size - (unsigned long)off;
}

static int sim_read(const char *path, char *buf, size_t len, off_t off, struct fuse_file_info *fi)
{
	(void)path;
	(void)fi;
	len = clamp(len, off);
	if (len == 0)
		return 0;
	charge("read", len, off, 0);
	memcpy(buf, data + off, len);
	return (int)len;
}

static int sim_write(const char *path, const char *buf, size_t len, off_t off,
    struct fuse_file_info *fi)
{
	(void)path;
	(void)fi;
	len = clamp(len, off);
	if (len == 0)
		return -ENOSPC;
	charge("write", len, off, 1);
	memcpy(data + off, buf, len);
	return (int)len;
}

static int sim_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{
	(void)path;
	(void)datasync;
	(void)fi;
	return 0;
}

static const struct fuse_operations operations = {
	.getattr = sim_getattr,
	.readdir = sim_readdir,
	.open = sim_open,
	.read = sim_read,
	.write = sim_write,
	.fsync = sim_fsync,
};

int main(int argc, char *argv[])
{
	struct fuse_args args = FUSE_ARGS_INIT(argc, argv);

	if (fuse_opt_parse(&args, &cfg, options, NULL) == -1)
		return 1;
	if (cfg.physical == 0 || cfg.size == 0) {
		fprintf(stderr, "simdrive: --size and --physical must not be 0\n");
		return 1;
	}
	data = malloc(cfg.size);
	if (data == NULL) {
		perror("simdrive");
		return 1;
	}
	/* every page is touched now, so that no first write pays for a page fault */
	memset(data, 0, cfg.size);
	if (cfg.log != NULL && (logf = fopen(cfg.log, "w")) == NULL) {
		perror(cfg.log);
		return 1;
	}
	return fuse_main(args.argc, args.argv, &operations, NULL);
}
