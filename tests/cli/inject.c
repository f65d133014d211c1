/*
 * A preload library that the black-box tests use to provoke what no real set-up
 * gives. Everything is off unless its variable is set; only descriptors from 3
 * up (the device) are touched, so the standard streams behave as usual.
 *
 *   INJECT_<CALL>_AT=k      the k-th call (from 1) fails; CALL is READ, WRITE,
 *                           LSEEK or CLOCK
 *   INJECT_<CALL>_ERRNO=e   with this error number (default EIO)
 *   INJECT_GATE=fifo        the first lseek waits until a byte can be read from fifo
 *   INJECT_SECTOR_SIZE=n    BLKSSZGET succeeds and reports n
 *   INJECT_FSTAT_ERRNO=e    fstat fails with e
 *   INJECT_SETFL_ERRNO=e    fcntl F_SETFL fails with e
 *   INJECT_FAULTS=file      each second clock reading appends the minor page
 *                           faults since the reading before it
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

/* Stores the next definition of name in the function pointer at slot. */
static void bind_next(void *slot, const char *name)
{
	void *f = dlsym(RTLD_NEXT, name);

	if (f == NULL)
		abort();
	memcpy(slot, &f, sizeof f);
}

static long env_number(const char *name, long fallback)
{
	const char *v = getenv(name);

	return v == NULL || *v == '\0' ? fallback : strtol(v, NULL, 0);
}

/* Counts a call of the named kind and says whether it is the one to fail. */
static int should_fail(const char *call, long *calls)
{
	char name[64];
	long at;

	snprintf(name, sizeof name, "INJECT_%s_AT", call);
	at = env_number(name, 0);
	++*calls;
	if (at == 0 || *calls != at)
		return 0;
	snprintf(name, sizeof name, "INJECT_%s_ERRNO", call);
	errno = (int)env_number(name, EIO);
	return 1;
}

ssize_t read(int fd, void *buf, size_t n)
{
	static ssize_t (*real)(int, void *, size_t);
	static long calls;

	if (real == NULL)
		bind_next(&real, "read");
	if (fd >= 3 && should_fail("READ", &calls))
		return -1;
	return real(fd, buf, n);
}

ssize_t write(int fd, const void *buf, size_t n)
{
	static ssize_t (*real)(int, const void *, size_t);
	static long calls;

	if (real == NULL)
		bind_next(&real, "write");
	if (fd >= 3 && should_fail("WRITE", &calls))
		return -1;
	return real(fd, buf, n);
}

static void pass_gate(void)
{
	static int passed;
	const char *gate = getenv("INJECT_GATE");
	char c;
	int fd;

	if (passed || gate == NULL)
		return;
	passed = 1;
	fd = open(gate, O_RDONLY);
	if (fd == -1)
		abort();
	while (read(fd, &c, 1) == 0)
		;
	close(fd);
}

static off_t seek(const char *name, int fd, off_t pos, int whence)
{
	static off_t (*real)(int, off_t, int);
	static long calls;

	if (real == NULL)
		bind_next(&real, name);
	if (fd >= 3) {
		pass_gate();
		if (should_fail("LSEEK", &calls))
			return -1;
	}
	return real(fd, pos, whence);
}

off_t lseek(int fd, off_t pos, int whence)
{
	return seek("lseek", fd, pos, whence);
}

off_t lseek64(int fd, off_t pos, int whence)
{
	return seek("lseek64", fd, pos, whence);
}

int clock_gettime(clockid_t id, struct timespec *ts)
{
	static int (*real)(clockid_t, struct timespec *);
	static long calls, faults;
	const char *log = getenv("INJECT_FAULTS");
	struct rusage ru;

	if (real == NULL)
		bind_next(&real, "clock_gettime");
	if (should_fail("CLOCK", &calls))
		return -1;
	if (log != NULL) {
		getrusage(RUSAGE_SELF, &ru);
		if (calls % 2 == 0) {
			FILE *f = fopen(log, "a");

			if (f == NULL)
				abort();
			fprintf(f, "%ld\n", ru.ru_minflt - faults);
			fclose(f);
			getrusage(RUSAGE_SELF, &ru);
		}
		faults = ru.ru_minflt;
	}
	return real(id, ts);
}

int ioctl(int fd, unsigned long request, ...)
{
	static int (*real)(int, unsigned long, ...);
	const char *size = getenv("INJECT_SECTOR_SIZE");
	va_list ap;
	void *arg;

	va_start(ap, request);
	arg = va_arg(ap, void *);
	va_end(ap);
	if (real == NULL)
		bind_next(&real, "ioctl");
	if (request == BLKSSZGET && size != NULL) {
		*(int *)arg = (int)strtol(size, NULL, 0);
		return 0;
	}
	return real(fd, request, arg);
}

int fstat(int fd, struct stat *st)
{
	static int (*real)(int, struct stat *);

	if (real == NULL)
		bind_next(&real, "fstat");
	if (fd >= 3 && getenv("INJECT_FSTAT_ERRNO") != NULL) {
		errno = (int)env_number("INJECT_FSTAT_ERRNO", EIO);
		return -1;
	}
	return real(fd, st);
}

int fcntl(int fd, int cmd, ...)
{
	static int (*real)(int, int, ...);
	va_list ap;
	long arg;

	va_start(ap, cmd);
	arg = va_arg(ap, long);
	va_end(ap);
	if (real == NULL)
		bind_next(&real, "fcntl");
	if (cmd == F_SETFL && getenv("INJECT_SETFL_ERRNO") != NULL) {
		errno = (int)env_number("INJECT_SETFL_ERRNO", EIO);
		return -1;
	}
	return real(fd, cmd, arg);
}

/* glibc's two names for the same call on 64-bit systems */
int fcntl64(int fd, int cmd, ...) __attribute__((alias("fcntl")));
