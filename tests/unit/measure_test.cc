#include <gtest/gtest.h>

#include "sekto.h"

namespace {

TEST(ComputeResults, TruncatedIntegerArithmetic)
{
	struct {
		uint64_t usec;
		uint32_t count;
		uint64_t size;
		uint64_t msec, tps, kBps;
	} cases[] = {
	    {999, 1, 512, 0, 1001, 500},
	    {1000, 1, 512, 1, 1000, 500},
	    {1999, 1, 512, 1, 500, 250},
	    {1000000, 1024, 4096, 1000, 1024, 4096},
	    {1500, 1, 512, 1, 666, 333},
	    {1234000, 262144, 512, 1234, 212434, 106217},
	    // no time at all: no rate either, rather than a division by zero
	    {0, 0, 512, 0, 0, 0},
	    {0, 262144, 512, 0, 0, 0},
	    {7, 0, 512, 0, 0, 0},
	    // a negative interval taken as unsigned: a huge msec, rates of 0
	    {UINT64_MAX, 32768, 4096, UINT64_MAX / 1000, 0, 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.usec << " us, " << c.count << " x " << c.size);
		run_results r = compute_results(c.usec, c.count, c.size);
		EXPECT_EQ(r.msec, c.msec);
		EXPECT_EQ(r.tps, c.tps);
		EXPECT_EQ(r.kBps, c.kBps);
	}
}

TEST(ElapsedUsec, BorrowsAndWraps)
{
	EXPECT_EQ(elapsed_usec({10, 999999}, {11, 0}), 1u);
	EXPECT_EQ(elapsed_usec({10, 500}, {12, 250}), 1999750u);
	EXPECT_EQ(elapsed_usec({5, 5}, {5, 5}), 0u);
	EXPECT_EQ(elapsed_usec({11, 0}, {10, 999999}), UINT64_MAX);
}

}  // namespace
