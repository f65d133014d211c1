/*
 * What the sources use of FreeBSD's libutil: openpty(3) and
 * expand_number(3), as their manual pages declare them.
 */
#ifndef CHECK_FREEBSD_LIBUTIL_H
#define CHECK_FREEBSD_LIBUTIL_H
#include <sys/cdefs.h>
#include <stdint.h>

struct termios;
struct winsize;

__BEGIN_DECLS
int openpty(int *amaster, int *aslave, char *name, struct termios *termp, struct winsize *winp);
int expand_number(const char *buf, uint64_t *num);
__END_DECLS
#endif
