// sekto-verdict: judges sekto's tables, read from files or standard input or
// measured on the spot, and says whether the device hides a physical sector
// size or starts off a sector boundary.
#include <err.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sysexits.h>
#include <unistd.h>

#include "verdict.h"

namespace {

[[noreturn]] void verdict_usage()
{
	fprintf(stderr, "usage: sekto-verdict [-jp] [-g file] [-d device] [file ...]\n"
	                "       sekto-verdict -x [-n passes] [-k dir] [-jp] [-g file] -- "
	                "[sekto options] device\n");
	exit(EX_USAGE);
}

int parse_passes(const char *text)
{
	char *end;
	errno = 0;
	long n = strtol(text, &end, 10);

	if (errno != 0 || end == text || *end != '\0' || n < 1 || n > 1000) {
		fprintf(stderr, "-n: the number of passes must be a whole number from 1 to 1000\n");
		verdict_usage();
	}
	return static_cast<int>(n);
}

std::string read_stream(FILE *f, const char *name)
{
	std::string text;
	char buf[65536];
	size_t n;

	while ((n = fread(buf, 1, sizeof buf, f)) > 0)
		text.append(buf, n);
	if (ferror(f))
		err(EX_IOERR, "%s", name);
	return text;
}

// Reads the tables of the files named; "-", or no name at all, is standard input.
void read_tables(int argc, char *argv[], std::vector<pass_table> &tables)
{
	std::vector<const char *> names(argv, argv + argc);
	std::string error;

	if (names.empty())
		names.push_back("-");
	for (const char *arg : names) {
		bool in = strcmp(arg, "-") == 0;
		const char *name = in ? "stdin" : arg;
		FILE *f = in ? stdin : fopen(arg, "r");
		if (f == nullptr)
			err(EX_NOINPUT, "%s", arg);
		std::string text = read_stream(f, name);
		if (!in)
			fclose(f);
		std::string note;
		if (!parse_tables(name, text, tables, error, &note))
			errx(EX_DATAERR, "%s", error.c_str());
		if (!note.empty())
			warnx("%s", note.c_str());
	}
}

}  // namespace

int main(int argc, char *argv[])
{
	const char *argv0 = argv[0];
	const char *chart = nullptr, *device = nullptr, *keep = nullptr;
	bool json = false, run = false, passes_given = false, partitions = false;
	int passes = 3, ch;

	while ((ch = getopt(argc, argv, verdict_option_string)) != -1) {
		switch (ch) {
		case 'd':
			device = optarg;
			break;
		case 'g':
			chart = optarg;
			break;
		case 'j':
			json = true;
			break;
		case 'k':
			keep = optarg;
			break;
		case 'n':
			passes = parse_passes(optarg);
			passes_given = true;
			break;
		case 'p':
			partitions = true;
			break;
		case 'x':
			run = true;
			break;
		default:
			verdict_usage();
		}
	}
	argc -= optind;
	argv += optind;
	if (run ? device != nullptr || argc == 0 : passes_given || keep != nullptr || (partitions && device == nullptr))
		verdict_usage();
	// the partitions are judged from the whole disk's sweep, never from one of their own
	const char *disk = run ? argv[argc - 1] : device;
	device_origin origin{};
	if (disk != nullptr && query_origin(disk, &origin) == 1 && partitions && !origin.disk.empty())
		errx(EX_USAGE, "%s is a partition of %s; -p checks the partitions of a whole disk", disk,
		    origin.disk.c_str());

	std::vector<pass_table> tables;
	verdict_context c{};
	if (run) {
		std::vector<std::string> given(argv, argv + argc);
		// the device's sector sizes choose the default sweep; sekto itself reports a device it cannot open
		reported_geometry g;
		if (query_geometry(given.back().c_str(), &g) != 1)
			g = {-1, -1, -1, -1, -1, -1};
		std::vector<std::string> args = sweep_options(given, g);
		tables = run_passes(argv0, args, passes, keep);
		c.mode = mode_of_options(args);
		c.device = args.back();
		c.sekto_args = args;
	} else {
		read_tables(argc, argv, tables);
		c.mode = MODE_UNKNOWN;
		if (device != nullptr)
			c.device = device;
	}
	for (const pass_table &t : tables)
		if (t.cut_short)
			warnx("%s", cut_short_warning(t).c_str());

	std::vector<merged_row> rows;
	sweep_shape shape{};
	std::string error;
	if (!merge_passes(tables, rows, shape, error))
		errx(EX_DATAERR, "%s", error.c_str());

	if (!c.device.empty()) {
		int r = query_geometry(c.device.c_str(), &c.reported);
		if (r == -1 && !run)
			err(EX_NOINPUT, "%s", c.device.c_str());
		c.have_reported = r == 1;
	}

	judgement j = judge(rows, shape, static_cast<int>(tables.size()));
	c.origin = origin;
	if (partitions) {
		std::vector<partition_info> parts;
		int r = list_partitions(c.device.c_str(), parts, &c.origin);
		if (r == -1)
			warn("cannot list the partitions of %s", c.device.c_str());
		else if (r == 0)
			warnx("cannot list the partitions of %s: the system lists none for it", c.device.c_str());
		c.partitions_listed = r == 1;
		if (r == 1)
			c.partitions = judge_partitions(j, parts, c.reported);
	}
	if (chart != nullptr)
		write_file(chart, verdict_svg(j, c));
	std::string out = json ? verdict_json(j, c) : verdict_text(j, c);
	fwrite(out.data(), 1, out.size(), stdout);
	if (fflush(stdout) == EOF || ferror(stdout))
		err(EX_IOERR, "stdout");
	return 0;
}
