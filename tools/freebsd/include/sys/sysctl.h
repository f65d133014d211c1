/*
 * What the sources use of FreeBSD's <sys/sysctl.h>: sysctl(3) and
 * sysctlbyname(3) as their manual page declares them, and the names of
 * kern.proc.pathname (sys/sys/sysctl.h).
 */
#ifndef CHECK_FREEBSD_SYS_SYSCTL_H
#define CHECK_FREEBSD_SYS_SYSCTL_H
#include <sys/cdefs.h>
#include <sys/types.h>

#define CTL_KERN 1
#define KERN_PROC 14
#define KERN_PROC_PATHNAME 12

__BEGIN_DECLS
int sysctl(const int *name, u_int namelen, void *oldp, size_t *oldlenp, const void *newp, size_t newlen);
int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, const void *newp, size_t newlen);
__END_DECLS
#endif
