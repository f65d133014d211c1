// Run mode: sekto is run pass after pass over one device while the CPUs are
// held out of deep idle, its tables are captured, and on a terminal its
// progress is shown as it goes.
#include <sys/stat.h>
#include <sys/wait.h>

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sysexits.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "verdict.h"

namespace {

// The signals that stop run mode, as timeout(1), a service manager or ^C send them.
const int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The signal that asked run mode to stop, and the sekto pass it is passed on to.
volatile sig_atomic_t stop_signal = 0;
volatile sig_atomic_t running = 0;

void on_stop(int sig)
{
	stop_signal = sig;
	if (running > 0)
		kill(static_cast<pid_t>(running), sig);
}

// Catches the stop signals, but those ignored from the start (as under nohup) stay so.
void catch_stops()
{
	struct sigaction sa {};
	sa.sa_handler = on_stop;
	sigemptyset(&sa.sa_mask);
	for (int sig : stop_signals) {
		struct sigaction old {};
		if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
			continue;
		sigaction(sig, &sa, nullptr);
	}
}

sigset_t stop_set()
{
	sigset_t set;

	sigemptyset(&set);
	for (int sig : stop_signals)
		sigaddset(&set, sig);
	return set;
}

// Ends the process by the signal that stopped it, once the CPUs are let go.
[[noreturn]] void stop_by_signal(int hold, bool show)
{
	int sig = stop_signal;

	if (hold != -1)
		close(hold);
	// the row that sekto left unfinished on the terminal, and its bar, end here
	if (show)
		fputc('\n', stderr);
	fflush(stderr);
	signal(sig, SIG_DFL);
	sigset_t set = stop_set();
	sigprocmask(SIG_UNBLOCK, &set, nullptr);
	// should the signal not end the process, its status says which it was
	kill(getpid(), sig);
	_exit(128 + sig);
}

double seconds_now()
{
	timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// "12 s", "3 min"
std::string duration(double seconds)
{
	long s = std::lround(seconds);
	return s < 120 ? std::to_string(s) + " s" : std::to_string((s + 30) / 60) + " min";
}

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
	// No stop signal may come between the fork and the note of whom to pass it to.
	sigset_t block = stop_set(), old;
	sigprocmask(SIG_BLOCK, &block, &old);
	pid_t pid = fork();
	if (pid == -1)
		err(EX_OSERR, "fork()");
	if (pid == 0) {
		std::vector<char *> argv = sekto_argv(args);
		for (int sig : stop_signals) {
			struct sigaction now {};
			if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
				signal(sig, SIG_DFL);
		}
		sigprocmask(SIG_SETMASK, &old, nullptr);
		dup2(wr, 1);
		close(wr);
		close(rd);
		if (sekto.find('/') != std::string::npos)
			execv(sekto.c_str(), argv.data());
		else
			execvp(sekto.c_str(), argv.data());
		err(EX_UNAVAILABLE, "%s", sekto.c_str());
	}
	running = pid;
	sigprocmask(SIG_SETMASK, &old, nullptr);
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
	running = 0;
	return status;
}

// Keeps a pass's table in dir under a name of its own, written whole before it has that name.
void keep_table(const char *dir, int pass, const std::string &table, std::string &path)
{
	if (mkdir(dir, 0777) == -1 && errno != EEXIST)
		err(EX_CANTCREAT, "%s", dir);
	path = std::string(dir) + "/pass-" + std::to_string(pass) + ".txt";
	std::string part = path + ".part";
	write_file(part.c_str(), table);
	if (rename(part.c_str(), path.c_str()) == -1)
		err(EX_CANTCREAT, "%s", path.c_str());
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

	catch_stops();
	// Without it, a fast device's rows measure the CPU's wake-up from idle instead.
	int hold = hold_cpus_awake();
	if (hold == -1)
		warn("cannot hold the CPUs out of deep idle (/dev/cpu_dma_latency)");
	double last = 0;
	for (int k = 1; k <= passes; k++) {
		if (stop_signal != 0)
			stop_by_signal(hold, false);
		if (show && k == 1)
			fprintf(stderr, "pass 1 of %d\n", passes);
		else if (show)
			fprintf(stderr, "pass %d of %d (the last took %s; about %s to go)\n", k, passes, duration(last).c_str(),
			    duration(last * (passes - k + 1)).c_str());
		double start = seconds_now();
		int status = run_once(sekto, args, show, out);
		last = seconds_now() - start;
		// a pass that was stopped is no table: it is neither kept nor judged
		if (stop_signal != 0)
			stop_by_signal(hold, show);
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

bool scan_sekto_options(const std::vector<std::string> &args, run_settings &s)
{
	std::vector<char *> argv = sekto_argv(args);
	int saved = opterr, ch;
	bool ok = true;

	// sekto's option string and rules, without its diagnostics: sekto gives those itself.
	s = run_settings{};
	opterr = 0;
	reset_getopt();
	while ((ch = getopt(static_cast<int>(argv.size() - 1), argv.data(), option_string)) != -1) {
		uint32_t *size = ch == 'h' ? &s.maxsize : ch == 'l' ? &s.minsize : ch == 't' ? &s.total : nullptr;
		if (size != nullptr)
			ok = ok && size_arg_fault(optarg, size) == nullptr;
		else if (ch == 'r' || ch == 'w' || ch == 's')
			(ch == 'r' ? s.do_read : ch == 'w' ? s.do_write : s.sync_io) = 1;
		else
			ok = false;
	}
	opterr = saved;
	reset_getopt();
	return ok;
}

transfer_mode mode_of_options(const std::vector<std::string> &args)
{
	run_settings s;

	scan_sekto_options(args, s);
	return s.do_write ? (s.do_read ? MODE_READWRITE : MODE_WRITE) : MODE_READ;
}

std::vector<std::string> sweep_options(const std::vector<std::string> &args, const reported_geometry &g)
{
	run_settings s;
	std::vector<std::string> added;

	if (!scan_sekto_options(args, s))
		return args;
	uint64_t sector = g.logical > 0 ? static_cast<uint64_t>(g.logical) : 512;
	uint64_t least = s.minsize != 0 ? s.minsize : sector;
	uint64_t most = s.maxsize != 0 ? s.maxsize : 8 * least;
	if (s.maxsize == 0) {
		// offsets up to half the size pin a boundary of up to a quarter of it: 4096, 8192 and 16384 at 32k
		uint64_t want = std::max<uint64_t>(32768, 4 * static_cast<uint64_t>(std::max<int64_t>(g.physical, 0)));
		// a total that was given must stay a multiple of the largest size
		if (s.total != 0)
			want = std::min<uint64_t>(want, s.total);
		if (most < want && want <= 2147483648u) {
			most = want;
			added.insert(added.end(), {"-h", size_text(want)});
		}
	}
	if (s.total == 0 && most <= 2147483648u) {
		// 2048 transfers of the smallest size and 32 of the largest: a pass of some 8000
		// transfers at the sector size, a minute or two on a slow disk
		uint64_t total = std::min<uint64_t>(std::max(2048 * least, 32 * most), 2147483648u);
		added.insert(added.end(), {"-t", size_text(std::max(total, most))});
	}
	added.insert(added.end(), args.begin(), args.end());
	return added;
}
