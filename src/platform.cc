// Everything that differs between the platforms sekto runs on.
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <ctype.h>
#include <fcntl.h>
#include <string.h>

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#ifdef __linux__
#include <dirent.h>
#include <linux/fs.h>
#include <pty.h>
#include <sys/sysmacros.h>
#endif
#ifdef __FreeBSD__
#include <sys/disk.h>
#include <sys/sysctl.h>
#include <libutil.h>
#endif

#include "sekto.h"

#ifdef __GLIBC__
// glibc's getopt reorders the arguments unless the string starts with "+";
// without it "sekto file -w" would be taken as -w on file.
const char option_string[] = "+h:l:rst:w";
const char verdict_option_string[] = "+d:g:jk:n:px";
#else
const char option_string[] = "h:l:rst:w";
const char verdict_option_string[] = "d:g:jk:n:px";
#endif

// Linux moves at most this much in one read or write; the bound is as safe elsewhere.
const size_t io_call_max = 0x7ffff000;

int query_sector_size(int fd, mode_t mode, uint32_t *blocksize)
{
#ifdef __linux__
	int ss;

	// Linux disks are block devices; asking character devices too makes a
	// non-disk such as /dev/null fail here, as it does on FreeBSD.
	if (!S_ISBLK(mode) && !S_ISCHR(mode))
		return 0;
	if (ioctl(fd, BLKSSZGET, &ss) == -1)
		return -1;
	*blocksize = static_cast<uint32_t>(ss);
	return 0;
#elif defined(__FreeBSD__)
	u_int ss;

	if (!S_ISCHR(mode))
		return 0;
	if (ioctl(fd, DIOCGSECTORSIZE, &ss) == -1)
		return -1;
	*blocksize = ss;
	return 0;
#else
	(void)fd;
	(void)mode;
	(void)blocksize;
	return 0;
#endif
}

int exclusive_write_flag(mode_t mode)
{
#ifdef __linux__
	// Linux lets a mounted or otherwise claimed block device be opened for
	// writing; O_EXCL makes the kernel refuse with EBUSY, as FreeBSD's GEOM
	// refuses a disk in use on its own.
	return S_ISBLK(mode) ? O_EXCL : 0;
#else
	(void)mode;
	return 0;
#endif
}

int set_direct_io(int fd, mode_t mode)
{
#ifdef __linux__
	int flags;

	// A Linux block device goes through the page cache, which would be measured
	// instead of the disk. FreeBSD's disks are unbuffered already.
	if (!S_ISBLK(mode))
		return 0;
	flags = fcntl(fd, F_GETFL);
	if (flags == -1)
		return -1;
	return fcntl(fd, F_SETFL, flags | O_DIRECT);
#else
	(void)fd;
	(void)mode;
	return 0;
#endif
}

int expand_size(const char *text, uint64_t *value)
{
	static const char multipliers[] = "KMGTPE";
	const char *p = text;
	const char *m;
	bool negative = false;
	uint64_t v = 0;

	while (isspace(static_cast<unsigned char>(*p)))
		p++;
	if (*p == '+' || *p == '-')
		negative = *p++ == '-';
	if (!isdigit(static_cast<unsigned char>(*p)))
		return -1;
	for (; isdigit(static_cast<unsigned char>(*p)); p++) {
		unsigned d = static_cast<unsigned>(*p - '0');

		if (v > (UINT64_MAX - d) / 10)
			return -1;
		v = v * 10 + d;
	}
	if (*p != '\0' && (m = strchr(multipliers, toupper(static_cast<unsigned char>(*p)))) != nullptr) {
		unsigned shift = 10 * static_cast<unsigned>(m - multipliers + 1);

		if (v > (UINT64_MAX >> shift))
			return -1;
		v <<= shift;
		p++;
	}
	if (*p == 'B' || *p == 'b')
		p++;
	if (*p != '\0' || (negative && v != 0))
		return -1;
	*value = v;
	return 0;
}

#ifdef __linux__
// A number from a sysfs file of the device with the given numbers; -1 when there is none.
static int64_t sysfs_number(dev_t dev, const char *file)
{
	char path[PATH_MAX];
	long long v;
	FILE *f;
	int n;

	snprintf(path, sizeof path, "/sys/dev/block/%u:%u/%s", major(dev), minor(dev), file);
	if ((f = fopen(path, "r")) == nullptr)
		return -1;
	n = fscanf(f, "%lld", &v);
	fclose(f);
	return n == 1 && v >= 0 ? v : -1;
}
#endif

// Closes fd and returns -1 with the errno of the failure before.
static int fail_closing(int fd)
{
	int saved = errno;

	close(fd);
	errno = saved;
	return -1;
}

int query_geometry(const char *path, reported_geometry *g)
{
	struct stat st;
	int fd;

	*g = {-1, -1, -1, -1, -1, -1};
	// Non-blocking, so that a FIFO or a tape named by mistake cannot hang the query.
	fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd == -1)
		return -1;
	if (fstat(fd, &st) == -1)
		return fail_closing(fd);
#ifdef __linux__
	if (!S_ISBLK(st.st_mode)) {
		close(fd);
		return 0;
	}
	int logical, alignment;
	unsigned int physical, min_io, opt_io;
	if (ioctl(fd, BLKSSZGET, &logical) == 0)
		g->logical = logical;
	if (ioctl(fd, BLKPBSZGET, &physical) == 0)
		g->physical = physical;
	if (ioctl(fd, BLKIOMIN, &min_io) == 0)
		g->min_io = min_io;
	if (ioctl(fd, BLKIOOPT, &opt_io) == 0)
		g->opt_io = opt_io;
	// A negative offset is the kernel's word for a device it cannot align.
	if (ioctl(fd, BLKALIGNOFF, &alignment) == 0 && alignment >= 0)
		g->alignment_offset = alignment;
	// sysfs counts a partition's start in 512-byte units whatever the sector size.
	int64_t start = sysfs_number(st.st_rdev, "start");
	if (start >= 0)
		g->partition_start = start * 512;
	else
		g->partition_start = sysfs_number(st.st_rdev, "loop/offset");
	close(fd);
	return 1;
#elif defined(__FreeBSD__)
	if (!S_ISCHR(st.st_mode)) {
		close(fd);
		return 0;
	}
	u_int sector;
	off_t stripe, offset;
	if (ioctl(fd, DIOCGSECTORSIZE, &sector) == 0)
		g->logical = sector;
	// GEOM reports a physical sector larger than the logical one as the stripe size.
	if (ioctl(fd, DIOCGSTRIPESIZE, &stripe) == 0)
		g->physical = stripe != 0 ? stripe : g->logical;
	if (ioctl(fd, DIOCGSTRIPEOFFSET, &offset) == 0)
		g->alignment_offset = offset;
	close(fd);
	return 1;
#else
	close(fd);
	return 0;
#endif
}

static std::string directory_of(const std::string &path)
{
	size_t slash = path.rfind('/');

	return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

#ifdef __linux__
// The last component of a path: "sdb" for /sys/block/sdb.
static std::string directory_name(const std::string &path)
{
	size_t slash = path.rfind('/');

	return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The sysfs directory of the block device with the given numbers, resolved; empty when there is none.
static std::string sysfs_dir(dev_t dev)
{
	char link[64], path[PATH_MAX];

	snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(dev), minor(dev));
	return realpath(link, path) != nullptr ? std::string(path) : std::string();
}

// A number from a file of a sysfs directory; -1 when there is none.
static int64_t sysfs_value(const std::string &dir, const char *file)
{
	long long v;
	FILE *f = fopen((dir + "/" + file).c_str(), "r");
	int n;

	if (f == nullptr)
		return -1;
	n = fscanf(f, "%lld", &v);
	fclose(f);
	return n == 1 && v >= 0 ? v : -1;
}

// The first line of a sysfs file, or "".
static std::string sysfs_text(const std::string &dir, const char *file)
{
	char buf[PATH_MAX];
	FILE *f = fopen((dir + "/" + file).c_str(), "r");
	std::string s;

	if (f == nullptr)
		return s;
	if (fgets(buf, sizeof buf, f) != nullptr)
		s = buf;
	fclose(f);
	if (!s.empty() && s.back() == '\n')
		s.pop_back();
	return s;
}
#endif

#ifdef __FreeBSD__
// GEOM's configuration as text: a line per geom, "level class name mediasize sectorsize key value ...".
static std::string geom_conftxt()
{
	size_t len = 0;
	std::string s;

	if (sysctlbyname("kern.geom.conftxt", nullptr, &len, nullptr, 0) == -1)
		return s;
	s.resize(len);
	if (sysctlbyname("kern.geom.conftxt", &s[0], &len, nullptr, 0) == -1)
		return std::string();
	s.resize(strnlen(s.c_str(), len));
	return s;
}

// The geom name of a device path: "ada0" for /dev/ada0.
static std::string geom_name(const char *path)
{
	const char *slash = strrchr(path, '/');
	return slash != nullptr ? slash + 1 : path;
}
#endif

// Opens path and tells whether it is a disk device; st is filled. -1 with errno.
static int disk_status(const char *path, struct stat *st)
{
	if (stat(path, st) == -1)
		return -1;
#ifdef __linux__
	return S_ISBLK(st->st_mode) ? 1 : 0;
#elif defined(__FreeBSD__)
	return S_ISCHR(st->st_mode) ? 1 : 0;
#else
	return 0;
#endif
}

int query_origin(const char *path, device_origin *o)
{
	struct stat st;
	int r = disk_status(path, &st);

	*o = device_origin{};
	if (r != 1)
		return r;
#ifdef __linux__
	std::string dir = sysfs_dir(st.st_rdev);
	if (dir.empty())
		return 1;
	// a partition's directory holds "partition" and lies in its disk's
	if (sysfs_value(dir, "partition") >= 0)
		o->disk = "/dev/" + directory_name(dir.substr(0, dir.rfind('/')));
	o->backing_file = sysfs_text(dir, "loop/backing_file");
	struct stat held;
	std::string under;
	if (!o->backing_file.empty() && stat(o->backing_file.c_str(), &held) == 0 && !(under = sysfs_dir(held.st_dev)).empty())
		o->backing_disk = "/dev/" + directory_name(sysfs_value(under, "partition") >= 0
		    ? under.substr(0, under.rfind('/')) : under);
#elif defined(__FreeBSD__)
	std::string name = geom_name(path), text = geom_conftxt(), disk;
	size_t pos = 0;
	while (pos < text.size()) {
		size_t nl = text.find('\n', pos);
		std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
		pos = nl == std::string::npos ? text.size() : nl + 1;
		char cls[32], geom[256];
		int level;
		if (sscanf(line.c_str(), "%d %31s %255s", &level, cls, geom) != 3)
			continue;
		if (strcmp(cls, "DISK") == 0)
			disk = geom;
		else if (strcmp(cls, "PART") == 0 && name == geom)
			o->disk = "/dev/" + disk;
	}
#endif
	return 1;
}

int list_partitions(const char *path, std::vector<partition_info> &parts, device_origin *o)
{
	int r = query_origin(path, o);

	parts.clear();
	if (r != 1 || !o->disk.empty())
		return r == -1 ? -1 : 0;
#ifdef __linux__
	struct stat st;
	if (stat(path, &st) == -1)
		return -1;
	std::string dir = sysfs_dir(st.st_rdev);
	DIR *d = dir.empty() ? nullptr : opendir(dir.c_str());
	if (d == nullptr)
		return 0;
	// sysfs counts start and size in 512-byte units whatever the sector size
	while (struct dirent *e = readdir(d)) {
		std::string sub = dir + "/" + e->d_name;
		if (e->d_name[0] == '.' || sysfs_value(sub, "partition") < 0)
			continue;
		parts.push_back({e->d_name, sysfs_value(sub, "start") * 512, sysfs_value(sub, "size") * 512,
		    sysfs_value(sub, "alignment_offset")});
	}
	closedir(d);
#elif defined(__FreeBSD__)
	// the PART geoms one level below the disk's, until the next geom at its level
	std::string name = geom_name(path), text = geom_conftxt();
	size_t pos = 0;
	int disk_level = -1;
	while (pos < text.size()) {
		size_t nl = text.find('\n', pos);
		std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
		pos = nl == std::string::npos ? text.size() : nl + 1;
		char cls[32], geom[256];
		int level, used = 0;
		long long size;
		if (sscanf(line.c_str(), "%d %31s %255s %lld %*u%n", &level, cls, geom, &size, &used) < 4 || used == 0)
			continue;
		if (disk_level >= 0 && level <= disk_level)
			break;
		if (disk_level < 0) {
			if (strcmp(cls, "DISK") == 0 && name == geom)
				disk_level = level;
			continue;
		}
		const char *o_at = strstr(line.c_str() + used, " o ");
		if (strcmp(cls, "PART") == 0 && level == disk_level + 1 && o_at != nullptr)
			parts.push_back({geom, strtoll(o_at + 3, nullptr, 10), size, -1});
	}
	if (disk_level < 0)
		return 0;
#else
	return 0;
#endif
	std::sort(parts.begin(), parts.end(),
	    [](const partition_info &a, const partition_info &b) { return a.start < b.start; });
	return 1;
}

int hold_cpus_awake()
{
#ifdef __linux__
	int32_t zero = 0;
	// The request holds as long as the descriptor stays open.
	int fd = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);

	if (fd == -1)
		return -1;
	if (write(fd, &zero, sizeof zero) != static_cast<ssize_t>(sizeof zero))
		return fail_closing(fd);
	return fd;
#else
	errno = EOPNOTSUPP;
	return -1;
#endif
}


std::string program_directory(const char *argv0)
{
	char path[PATH_MAX];

#ifdef __linux__
	ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
	if (n > 0) {
		path[n] = '\0';
		return directory_of(path);
	}
#elif defined(__FreeBSD__)
	int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
	size_t len = sizeof path;
	if (sysctl(mib, 4, path, &len, nullptr, 0) == 0)
		return directory_of(path);
#endif
	if (strchr(argv0, '/') != nullptr && realpath(argv0, path) != nullptr)
		return directory_of(path);
	return "";
}

int open_raw_pty(int *master, int *slave)
{
	struct termios t;

	if (openpty(master, slave, nullptr, nullptr, nullptr) == -1)
		return -1;
	// Raw, so that the table arrives byte for byte, without carriage returns.
	if (tcgetattr(*slave, &t) == 0) {
		cfmakeraw(&t);
		tcsetattr(*slave, TCSANOW, &t);
	}
	return 0;
}

void reset_getopt()
{
#ifdef __GLIBC__
	optind = 0;
#else
	optreset = 1;
	optind = 1;
#endif
}
