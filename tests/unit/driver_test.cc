#include <sys/stat.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include "sekto.h"

namespace {

run_settings sizes(uint32_t blocksize, uint32_t minsize, uint32_t maxsize, uint32_t total)
{
	run_settings s{};
	s.blocksize = blocksize;
	s.minsize = minsize;
	s.maxsize = maxsize;
	s.total = total;
	return s;
}

TEST(OpenFlags, DependOnWriteSyncAndFileType)
{
#ifdef __linux__
	const int excl = O_EXCL;
#else
	const int excl = 0;
#endif
	struct {
		int do_read, do_write, sync_io;
		mode_t mode;
		int flags;
	} cases[] = {
	    {0, 0, 0, S_IFREG, O_RDONLY},
	    {1, 0, 0, S_IFREG, O_RDONLY},
	    {0, 0, 1, S_IFREG, O_RDONLY | O_SYNC},
	    {0, 1, 0, S_IFREG, O_RDWR},
	    {1, 1, 0, S_IFREG, O_RDWR},
	    {1, 1, 1, S_IFREG, O_RDWR | O_SYNC},
	    // reading a block device in use stays possible; writing one claims it
	    {1, 0, 0, S_IFBLK, O_RDONLY},
	    {0, 0, 1, S_IFBLK, O_RDONLY | O_SYNC},
	    {0, 1, 0, S_IFBLK, O_RDWR | excl},
	    {1, 1, 1, S_IFBLK, O_RDWR | O_SYNC | excl},
	    {0, 1, 0, S_IFCHR, O_RDWR},
	    // a path that could not be looked up
	    {0, 1, 0, 0, O_RDWR},
	};
	for (const auto &c : cases) {
		run_settings s{};
		s.do_read = c.do_read;
		s.do_write = c.do_write;
		s.sync_io = c.sync_io;
		EXPECT_EQ(open_flags(s, c.mode), c.flags) << c.do_read << c.do_write << c.sync_io << " " << std::oct << c.mode;
	}
}

TEST(SettleSizes, DefaultsAndChecksInOrder)
{
	struct {
		uint32_t blocksize, minsize, maxsize, total;
		size_fault fault;
		uint32_t want_min, want_max, want_total;
	} cases[] = {
	    // defaults for 512- and 4096-byte sectors
	    {512, 0, 0, 0, SIZES_OK, 512, 4096, 134217728},
	    {4096, 0, 0, 0, SIZES_OK, 4096, 32768, 134217728},
	    // a sector that is not a power of two passes the first two checks only
	    {520, 0, 0, 0, BAD_TOTAL, 520, 4160, 134217728},
	    // a zero sector size stops before anything is derived
	    {0, 0, 0, 0, BAD_BLOCKSIZE, 0, 0, 0},
	    {4096, 512, 0, 0, BAD_MINSIZE, 512, 0, 0},
	    {512, 4096, 2048, 0, BAD_MAXSIZE, 4096, 2048, 0},
	    {512, 0, 0, 2048, BAD_TOTAL, 512, 4096, 2048},
	    {512, 0, 0, 4096, SIZES_OK, 512, 4096, 4096},
	    {512, 2048, 2048, 0, SIZES_OK, 2048, 2048, 134217728},
	    // only the first failing check counts, even when the later ones would fail too
	    {4096, 512, 256, 1024, BAD_MINSIZE, 512, 256, 1024},
	    {512, 4096, 2048, 1024, BAD_MAXSIZE, 4096, 2048, 1024},
	    // 8 x minsize exact up to 2^28; from 2^29 on the default is 2^31
	    {512, 268435456, 0, 0, BAD_TOTAL, 268435456, 2147483648u, 134217728},
	    {512, 536870912, 0, 0, BAD_TOTAL, 536870912, 2147483648u, 134217728},
	    {512, 536870912, 0, 2147483648u, SIZES_OK, 536870912, 2147483648u, 2147483648u},
	    {512, 2147483648u, 0, 2147483648u, SIZES_OK, 2147483648u, 2147483648u, 2147483648u},
	};
	for (const auto &c : cases) {
		run_settings s = sizes(c.blocksize, c.minsize, c.maxsize, c.total);
		SCOPED_TRACE(testing::Message() << c.blocksize << " " << c.minsize << " " << c.maxsize << " "
		                                << c.total);
		EXPECT_EQ(settle_sizes(s), c.fault);
		EXPECT_EQ(s.minsize, c.want_min);
		EXPECT_EQ(s.maxsize, c.want_max);
		EXPECT_EQ(s.total, c.want_total);
	}
}

void check(uint32_t blocksize, uint32_t minsize, uint32_t maxsize, uint32_t total)
{
	settings = sizes(blocksize, minsize, maxsize, total);
	settings.device = "/dev/da0";
	check_sizes();
	exit(0);
}

TEST(CheckSizesDeathTest, MessagesAndStatus)
{
	EXPECT_EXIT(check(4096, 512, 0, 0), testing::ExitedWithCode(64),
	    ": minsize \\(512\\) is not a multiple of block size \\(4096\\)\n$");
	EXPECT_EXIT(check(512, 4096, 2048, 0), testing::ExitedWithCode(64),
	    ": maxsize \\(2048\\) is not a multiple of minsize \\(4096\\)\n$");
	EXPECT_EXIT(check(520, 0, 0, 0), testing::ExitedWithCode(64),
	    ": total \\(134217728\\) is not a multiple of maxsize \\(4160\\)\n$");
	EXPECT_EXIT(check(0, 0, 0, 0), testing::ExitedWithCode(71),
	    ": ioctl\\(/dev/da0, DIOCGSECTORSIZE\\): invalid sector size 0\n$");
	EXPECT_EXIT(check(512, 0, 0, 0), testing::ExitedWithCode(0), "^$");
}

TEST(UsageDeathTest, FixedLineAndStatusOne)
{
	EXPECT_EXIT(usage(), testing::ExitedWithCode(1),
	    "^usage: sekto \\[-rsw\\] \\[-l minsize\\] \\[-h maxsize\\] \\[-t total\\] device\n$");
}

struct group {
	uint64_t size;
	std::vector<uint64_t> offsets;
	uint32_t count;
};

void expect_plan(const run_settings &s, const std::vector<group> &groups)
{
	std::vector<sweep_row> want;
	for (const group &g : groups)
		for (size_t i = 0; i < g.offsets.size(); i++)
			want.push_back({g.size, g.offsets[i], 4 * g.size, g.count, i == 0});

	std::vector<sweep_row> got = plan_sweep(s);
	ASSERT_EQ(got.size(), want.size());
	for (size_t i = 0; i < got.size(); i++) {
		SCOPED_TRACE(i);
		EXPECT_EQ(got[i].size, want[i].size);
		EXPECT_EQ(got[i].offset, want[i].offset);
		EXPECT_EQ(got[i].step, want[i].step);
		EXPECT_EQ(got[i].count, want[i].count);
		EXPECT_EQ(got[i].opens_group, want[i].opens_group);
	}
}

TEST(PlanSweep, DefaultOn512ByteSectors)
{
	expect_plan(sizes(512, 512, 4096, 134217728), {
	    {512, {0}, 262144},
	    {1024, {0, 512}, 131072},
	    {2048, {0, 512, 1024}, 65536},
	    {4096, {0, 512, 1024, 2048}, 32768},
	});
}

TEST(PlanSweep, OffsetsStartAtBlockSizeBelowMinsize)
{
	expect_plan(sizes(512, 2048, 16384, 134217728), {
	    {2048, {0, 512, 1024}, 65536},
	    {4096, {0, 512, 1024, 2048}, 32768},
	    {8192, {0, 512, 1024, 2048, 4096}, 16384},
	    {16384, {0, 512, 1024, 2048, 4096, 8192}, 8192},
	});
}

TEST(PlanSweep, DefaultOn4096ByteSectors)
{
	expect_plan(sizes(4096, 4096, 32768, 134217728), {
	    {4096, {0}, 32768},
	    {8192, {0, 4096}, 16384},
	    {16384, {0, 4096, 8192}, 8192},
	    {32768, {0, 4096, 8192, 16384}, 4096},
	});
}

TEST(PlanSweep, LargestSizesEndAfterOneGroup)
{
	std::vector<uint64_t> offsets = {0};
	for (uint64_t o = 512; o < 2147483648u; o *= 2)
		offsets.push_back(o);
	ASSERT_EQ(offsets.size(), 23u);
	expect_plan(sizes(512, 2147483648u, 2147483648u, 2147483648u), {{2147483648u, offsets, 1}});
}

}  // namespace
