// Run mode: sekto is run pass after pass over one device while the CPUs are
// held out of deep idle, its tables are captured, and on a terminal its
// progress is shown as it goes.
#include <sys/stat.h>
#include <sys/wait.h>

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sysexits.h>
#include <unistd.h>

#include "verdict.h"

namespace {

// The sekto beside this program, else the one on PATH.
std::string sekto_path(const char *argv0)
{
	std::string dir = program_directory(argv0);

	if (!dir.empty()) {
		std::string p = dir + "/sekto";
		if (access(p.c_str(), X_OK) == 0)
			return p;
	}
	return "sekto";
}

// sekto's argument vector for args, named sekto so that its messages read as they would from the shell.
std::vector<char *> sekto_argv(const std::vector<std::string> &args)
{
	std::vector<char *> argv;

	argv.push_back(const_cast<char *>("sekto"));
	for (const std::string &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	return argv;
}

void write_all(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w == -1 && errno == EINTR)
			continue;
		if (w <= 0)
			return;
		p += w;
		n -= static_cast<size_t>(w);
	}
}

// Runs sekto once with its standard output on a terminal of its own (shown
// on ours as it comes) or on a pipe; returns its wait status, its output in out.
int run_once(const std::string &sekto, const std::vector<std::string> &args, bool show, std::string &out)
{
	int rd, wr;

	if (show) {
		if (open_raw_pty(&rd, &wr) == -1)
			err(EX_OSERR, "openpty()");
	} else {
		int p[2];
		if (pipe(p) == -1)
			err(EX_OSERR, "pipe()");
		rd = p[0];
		wr = p[1];
	}
	fflush(stderr);
	pid_t pid = fork();
	if (pid == -1)
		err(EX_OSERR, "fork()");
	if (pid == 0) {
		std::vector<char *> argv = sekto_argv(args);
		dup2(wr, 1);
		close(wr);
		close(rd);
		if (sekto.find('/') != std::string::npos)
			execv(sekto.c_str(), argv.data());
		else
			execvp(sekto.c_str(), argv.data());
		err(EX_UNAVAILABLE, "%s", sekto.c_str());
	}
	close(wr);
	out.clear();
	char buf[65536];
	for (;;) {
		ssize_t n = read(rd, buf, sizeof buf);
		if (n == -1 && errno == EINTR)
			continue;
		// A terminal whose other side has closed reads as EIO.
		if (n <= 0)
			break;
		out.append(buf, static_cast<size_t>(n));
		if (show)
			write_all(2, buf, static_cast<size_t>(n));
	}
	close(rd);
	int status;
	while (waitpid(pid, &status, 0) == -1)
		if (errno != EINTR)
			err(EX_OSERR, "waitpid()");
	return status;
}

void keep_table(const char *dir, int pass, const std::string &table, std::string &path)
{
	if (mkdir(dir, 0777) == -1 && errno != EEXIST)
		err(EX_CANTCREAT, "%s", dir);
	path = std::string(dir) + "/pass-" + std::to_string(pass) + ".txt";
	write_file(path.c_str(), table);
}

}  // namespace

void write_file(const char *path, const std::string &text)
{
	FILE *f = fopen(path, "w");

	if (f == nullptr)
		err(EX_CANTCREAT, "%s", path);
	fwrite(text.data(), 1, text.size(), f);
	if (fclose(f) == EOF)
		err(EX_IOERR, "%s", path);
}

std::vector<pass_table> run_passes(const char *argv0, const std::vector<std::string> &args, int passes,
    const char *keep_dir)
{
	std::string sekto = sekto_path(argv0);
	bool show = isatty(2) != 0;
	std::vector<pass_table> tables;
	std::string out, error;

	// Without it, a fast device's rows measure the CPU's wake-up from idle instead.
	int hold = hold_cpus_awake();
	if (hold == -1)
		warn("cannot hold the CPUs out of deep idle (/dev/cpu_dma_latency)");
	for (int k = 1; k <= passes; k++) {
		if (show)
			fprintf(stderr, "pass %d of %d\n", k, passes);
		int status = run_once(sekto, args, show, out);
		std::string table = show ? render_backspaces(out) : out;
		std::string name = "pass " + std::to_string(k);
		if (keep_dir != nullptr)
			keep_table(keep_dir, k, table, name);
		// sekto has said why on standard error; its status is passed on as it is.
		if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
			exit(WEXITSTATUS(status));
		if (WIFSIGNALED(status))
			exit(128 + WTERMSIG(status));
		if (!parse_tables(name, table, tables, error))
			errx(EX_DATAERR, "%s", error.c_str());
	}
	if (hold != -1)
		close(hold);
	return tables;
}

transfer_mode mode_of_options(const std::vector<std::string> &args)
{
	std::vector<char *> argv = sekto_argv(args);
	run_settings saved = settings;

	// sekto's own option scan, on options that sekto has already accepted.
	settings = run_settings{};
	reset_getopt();
	scan_options(static_cast<int>(argv.size() - 1), argv.data());
	transfer_mode m = settings.do_write ? (settings.do_read ? MODE_READWRITE : MODE_WRITE) : MODE_READ;
	settings = saved;
	return m;
}
