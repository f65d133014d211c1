/*
 * FreeBSD's disk ioctls, as disk(4) documents them and sys/sys/disk.h
 * defines them: the names, directions, groups, numbers and argument types.
 */
#ifndef CHECK_FREEBSD_SYS_DISK_H
#define CHECK_FREEBSD_SYS_DISK_H
#include <sys/ioctl.h>
#include <sys/param.h>
#include <sys/types.h>

#define DIOCGSECTORSIZE _IOR('d', 128, u_int)
#define DIOCGMEDIASIZE _IOR('d', 129, off_t)
#define DIOCGPROVIDERNAME _IOR('d', 138, char[MAXPATHLEN])
#define DIOCGSTRIPESIZE _IOR('d', 139, off_t)
#define DIOCGSTRIPEOFFSET _IOR('d', 140, off_t)
#endif
