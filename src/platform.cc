// Everything that differs between the platforms sekto runs on.
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <ctype.h>
#include <fcntl.h>
#include <string.h>

#ifdef __linux__
#include <linux/fs.h>
#endif
#ifdef __FreeBSD__
#include <sys/disk.h>
#endif

#include "sekto.h"

#ifdef __GLIBC__
// glibc's getopt reorders the arguments unless the string starts with "+";
// without it "sekto file -w" would be taken as -w on file.
const char option_string[] = "+h:l:rst:w";
#else
const char option_string[] = "h:l:rst:w";
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
