#include <unistd.h>

#include <gtest/gtest.h>

#include "sekto.h"

namespace {

TEST(ExpandSize, AcceptedSyntax)
{
	struct {
		const char *text;
		uint64_t value;
	} cases[] = {
	    {"4096", 4096}, {"4k", 4096}, {"4K", 4096}, {"4kb", 4096}, {"4KB", 4096},
	    {" 4096", 4096}, {"\t\n4096", 4096}, {"+4096", 4096}, {"512b", 512}, {"512B", 512},
	    {"0", 0}, {"-0", 0}, {"-0k", 0}, {"007", 7},
	    {"2G", 2147483648u}, {"2g", 2147483648u}, {"1m", 1048576}, {"1T", 1ull << 40},
	    {"1p", 1ull << 50}, {"8E", 1ull << 63}, {"15E", 15ull << 60},
	    {"2147483648", 2147483648u}, {"4294967295", 4294967295u}, {"4294967296", 4294967296u},
	    {"18446744073709551615", UINT64_MAX}, {"17179869183G", 17179869183ull << 30},
	};
	for (const auto &c : cases) {
		uint64_t v = 12345;
		EXPECT_EQ(expand_size(c.text, &v), 0) << '"' << c.text << '"';
		EXPECT_EQ(v, c.value) << '"' << c.text << '"';
	}
}

TEST(ExpandSize, RefusedSyntax)
{
	const char *cases[] = {
	    "", " ", "+", "-", "k", "b", "0x200", "1.5k", "4KiB", "512bb", "5 k", "512 ", "-512",
	    "-1k", "--0", "+-4", "4096x", "4kk", "4Z", "1e3",
	    // beyond 64 bits, before or after the multiplier
	    "18446744073709551616", "99999999999999999999", "16E", "17179869184G", "16384P",
	};
	for (const char *text : cases) {
		uint64_t v = 12345;
		EXPECT_NE(expand_size(text, &v), 0) << '"' << text << '"';
		EXPECT_EQ(v, 12345u) << "stored a value for \"" << text << '"';
	}
}

void parse_and_exit(char letter, const char *text)
{
	uint32_t v = parse_size_arg(letter, text);
	fprintf(stderr, "value %u\n", v);
	exit(0);
}

const char usage_line[] = "usage: sekto \\[-rsw\\] \\[-l minsize\\] \\[-h maxsize\\] \\[-t total\\] device\n";

TEST(ParseSizeArgDeathTest, MessagesInOrderOfTests)
{
	struct {
		char letter;
		const char *text;
		const char *message;
	} cases[] = {
	    {'h', "abc", "invalid number"},
	    {'l', "-r", "invalid number"},
	    {'t', "18446744073709551616", "invalid number"},
	    {'l', "3", "not a power of two"},
	    {'t', "4294967295", "not a power of two"},
	    {'h', "5000000000", "not a power of two"},
	    {'h', "18446744073709551615", "not a power of two"},
	    {'l', "0", "out of range"},
	    {'l', "-0", "out of range"},
	    {'t', "4294967296", "out of range"},
	    {'t', "4G", "out of range"},
	    {'h', "8E", "out of range"},
	};
	for (const auto &c : cases) {
		std::string want = std::string("^-") + c.letter + ": " + c.message + "\n" + usage_line + "$";
		EXPECT_EXIT(parse_and_exit(c.letter, c.text), testing::ExitedWithCode(1), want)
		    << c.letter << " " << c.text;
	}
}

TEST(ParseSizeArgDeathTest, PowersOfTwoUpTo2To31)
{
	for (int k = 0; k <= 31; k++) {
		std::string text = std::to_string(1ull << k);
		EXPECT_EXIT(parse_and_exit('t', text.c_str()), testing::ExitedWithCode(0),
		    "^value " + text + "\n$");
	}
	EXPECT_EXIT(parse_and_exit('t', "2G"), testing::ExitedWithCode(0), "^value 2147483648\n$");
}

// Runs the option scan from a clean state over the given arguments.
void scan(std::vector<const char *> args)
{
	std::vector<char *> argv;
	argv.push_back(const_cast<char *>("sekto"));
	for (const char *a : args)
		argv.push_back(const_cast<char *>(a));
	argv.push_back(nullptr);
	settings = run_settings{};
	optind = 0;  // glibc: start a fresh scan
	scan_options(static_cast<int>(argv.size() - 1), argv.data());
}

TEST(ScanOptions, LastOccurrenceOfASizeDecides)
{
	scan({"-l", "512", "-l", "1024", "-h", "1m", "-h4k", "-t", "2g", "-t", "1G", "dev"});
	EXPECT_EQ(settings.minsize, 1024u);
	EXPECT_EQ(settings.maxsize, 4096u);
	EXPECT_EQ(settings.total, 1073741824u);
	EXPECT_EQ(optind, 12);
}

TEST(ScanOptions, FlagsGroupsAndTheEndOfOptions)
{
	struct {
		std::vector<const char *> args;
		int do_read, do_write, sync_io;
		uint32_t minsize;
		int operand;  // optind after the scan
	} cases[] = {
	    {{"dev"}, 0, 0, 0, 0, 1},
	    {{"-r", "-r", "dev"}, 1, 0, 0, 0, 3},
	    {{"-rw", "dev"}, 1, 1, 0, 0, 2},
	    {{"-rsl", "4096", "dev"}, 1, 0, 1, 4096, 3},
	    {{"-rsl4096", "dev"}, 1, 0, 1, 4096, 2},
	    // options end at the operand: nothing after it is an option
	    {{"dev", "-w"}, 0, 0, 0, 0, 1},
	    {{"-s", "--", "-w"}, 0, 0, 1, 0, 3},
	    {{"-w", "-", "-r"}, 0, 1, 0, 0, 2},
	};
	for (const auto &c : cases) {
		scan(c.args);
		SCOPED_TRACE(c.args[0]);
		EXPECT_EQ(settings.do_read, c.do_read);
		EXPECT_EQ(settings.do_write, c.do_write);
		EXPECT_EQ(settings.sync_io, c.sync_io);
		EXPECT_EQ(settings.minsize, c.minsize);
		EXPECT_EQ(settings.maxsize, 0u);
		EXPECT_EQ(settings.total, 0u);
		EXPECT_EQ(optind, c.operand);
	}
}

TEST(ScanOptionsDeathTest, FaultsEndWithUsage)
{
	EXPECT_EXIT(scan({"-x", "dev"}), testing::ExitedWithCode(1),
	    "invalid option -- 'x'\n" + std::string(usage_line) + "$");
	EXPECT_EXIT(scan({"-l"}), testing::ExitedWithCode(1),
	    "option requires an argument -- 'l'\n" + std::string(usage_line) + "$");
	// the first faulty occurrence decides, though a later one would be valid
	EXPECT_EXIT(scan({"-l", "3", "-l", "512", "dev"}), testing::ExitedWithCode(1),
	    "^-l: not a power of two\n" + std::string(usage_line) + "$");
}

}  // namespace
