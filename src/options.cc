#include <stdio.h>
#include <unistd.h>

#include "sekto.h"

[[noreturn]] static void bad_value(char letter, const char *why)
{
	fprintf(stderr, "-%c: %s\n", letter, why);
	usage();
}

const char *size_arg_fault(const char *text, uint32_t *size)
{
	uint64_t v;

	if (expand_size(text, &v) != 0)
		return "invalid number";
	// Both tests see the full 64-bit value, so nothing above 32 bits is cut down into range.
	if ((v & (v - 1)) != 0)
		return "not a power of two";
	if (v < 1 || v > 4294967295u)
		return "out of range";
	*size = static_cast<uint32_t>(v);
	return nullptr;
}

uint32_t parse_size_arg(char letter, const char *text)
{
	uint32_t v = 0;
	const char *fault = size_arg_fault(text, &v);

	if (fault != nullptr)
		bad_value(letter, fault);
	return v;
}

void scan_options(int argc, char *argv[])
{
	int ch;

	while ((ch = getopt(argc, argv, option_string)) != -1) {
		switch (ch) {
		case 'h':
			settings.maxsize = parse_size_arg('h', optarg);
			break;
		case 'l':
			settings.minsize = parse_size_arg('l', optarg);
			break;
		case 'r':
			settings.do_read = 1;
			break;
		case 's':
			settings.sync_io = 1;
			break;
		case 't':
			settings.total = parse_size_arg('t', optarg);
			break;
		case 'w':
			settings.do_write = 1;
			break;
		default:
			usage();
		}
	}
}
