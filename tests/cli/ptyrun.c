/*
 * ptyrun: runs a command with its standard output (with -e, its standard
 * error) on a pseudo-terminal in raw mode, and copies every byte that the
 * command writes there, untranslated, to its own standard output. The other
 * descriptors are left as they are. Exits with the command's status.
 *
 * usage: ptyrun [-e] command [argument ...]
 */
#include <errno.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
	struct termios raw;
	int master, slave, status, target = 1;
	char buf[65536];
	ssize_t n;
	pid_t pid;

	if (argc > 1 && strcmp(argv[1], "-e") == 0) {
		target = 2;
		argv++;
		argc--;
	}
	if (argc < 2) {
		fprintf(stderr, "usage: ptyrun [-e] command [argument ...]\n");
		return 2;
	}
	if (openpty(&master, &slave, NULL, NULL, NULL) == -1) {
		perror("ptyrun: openpty");
		return 2;
	}
	if (tcgetattr(slave, &raw) == -1) {
		perror("ptyrun: tcgetattr");
		return 2;
	}
	cfmakeraw(&raw);
	if (tcsetattr(slave, TCSANOW, &raw) == -1) {
		perror("ptyrun: tcsetattr");
		return 2;
	}
	pid = fork();
	if (pid == -1) {
		perror("ptyrun: fork");
		return 2;
	}
	if (pid == 0) {
		close(master);
		if (dup2(slave, target) == -1)
			_exit(127);
		close(slave);
		execvp(argv[1], argv + 1);
		perror("ptyrun: exec");
		_exit(127);
	}
	close(slave);
	/* Linux reports EIO on the master once the last slave descriptor closes. */
	for (;;) {
		n = read(master, buf, sizeof buf);
		if (n > 0) {
			if (fwrite(buf, 1, (size_t)n, stdout) != (size_t)n)
				return 2;
			continue;
		}
		if (n == -1 && errno == EINTR)
			continue;
		break;
	}
	fflush(stdout);
	if (waitpid(pid, &status, 0) == -1) {
		perror("ptyrun: waitpid");
		return 2;
	}
	if (WIFSIGNALED(status))
		return 128 + WTERMSIG(status);
	return WEXITSTATUS(status);
}
