#include <stdio_ext.h>

#include <gtest/gtest.h>

#include "sekto.h"

namespace {

std::string row(uint32_t count, uint64_t size, uint64_t offset, uint64_t step, uint64_t msec, uint64_t tps,
    uint64_t kBps)
{
	testing::internal::CaptureStdout();
	print_row_prefix(count, size, offset, step);
	print_row_suffix(msec, tps, kBps);
	return testing::internal::GetCapturedStdout();
}

TEST(Report, HeaderAndSeparator)
{
	testing::internal::CaptureStdout();
	print_header();
	print_separator();
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
	    "   count    size  offset    step        msec     tps    kBps\n\n");
}

TEST(Report, RowsLineUpUnderTheTitles)
{
	EXPECT_EQ(row(262144, 512, 0, 2048, 1234, 212434, 106217),
	    "  262144     512       0    2048        1234  212434  106217\n");
	EXPECT_EQ(row(0, 512, 0, 2048, 0, 0, 0),
	    "       0     512       0    2048           0       0       0\n");
}

TEST(Report, WideValuesPushTheRestRight)
{
	// 33554432-byte transfers: the step takes nine characters and the row 61
	std::string r = row(4, 33554432, 0, 134217728, 25, 160, 5242880);
	EXPECT_EQ(r, "       433554432       0134217728          25     160 5242880\n");
	EXPECT_EQ(r.size(), 62u);
	// nothing is cut: the largest values are printed in full
	EXPECT_EQ(row(4294967295u, 2147483648u, 1073741824, 8589934592u, UINT64_MAX, UINT64_MAX, 1),
	    "4294967295214748364810737418248589934592  18446744073709551615"
	    "18446744073709551615       1\n");
}

TEST(Report, PrefixIsFlushedWithoutLineEnd)
{
	testing::internal::CaptureStdout();
	print_header();
	print_row_prefix(32768, 4096, 2048, 16384);
	size_t pending = __fpending(stdout);
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
	    "   count    size  offset    step        msec     tps    kBps\n   32768    4096    2048   16384  ");
	EXPECT_EQ(pending, 0u) << "the prefix is still in the stream's buffer";
}

}  // namespace
