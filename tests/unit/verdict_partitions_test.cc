#include <gtest/gtest.h>

#include "verdict.h"

namespace {

TEST(JudgePartitions, FromTheStartTheBoundaryAndTheBound)
{
	struct {
		const char *name;
		verdict_kind kind;
		uint64_t granularity, at_least, misalignment;
		int64_t physical, start;
		uint64_t boundary;
		bool at_least_flag;
		uint64_t past;
		int aligned;
		const char *says;
	} cases[] = {
	    // an exact boundary: the start modulo it
	    {"sector 7 on 4096", VERDICT_HIDDEN, 4096, 4096, 0, 512, 7 * 512, 4096, false, 3584, 0, "misaligned by 3584 bytes"},
	    {"sector 2048 on 4096", VERDICT_HIDDEN, 4096, 4096, 0, 512, 2048 * 512, 4096, false, 0, 1, "aligned"},
	    {"sector 32090 on 4096", VERDICT_HIDDEN, 4096, 4096, 0, 512, 32090 * 512, 4096, false, 1024, 0,
	        "misaligned by 1024 bytes"},
	    {"sector 2052 on 8192", VERDICT_HIDDEN, 8192, 8192, 0, 512, 2052 * 512, 8192, false, 2048, 0,
	        "misaligned by 2048 bytes"},
	    // a disk that itself starts off the boundary moves every partition with it
	    {"disk 3584 past", VERDICT_MISALIGNED, 4096, 4096, 3584, 512, 512, 4096, false, 0, 1, "aligned"},
	    // a bound: a start on it may still be off the true boundary, so it is not called aligned
	    {"on a bound", VERDICT_HIDDEN, 0, 4096, 0, 512, 2048 * 512, 4096, true, 0, -1, "aligned to at least 4096"},
	    {"off a bound", VERDICT_HIDDEN, 0, 4096, 0, 512, 63 * 512, 4096, true, 3584, 0,
	        "3584 bytes past a boundary of at least 4096"},
	    // no penalty: the larger of the logical sector and the reported physical one
	    {"none, 512 reported", VERDICT_NONE, 512, 512, 0, 512, 7 * 512, 512, false, 0, 1, "aligned"},
	    {"none, 4096 reported", VERDICT_NONE, 512, 512, 0, 4096, 63 * 512, 4096, false, 3584, 0,
	        "misaligned by 3584 bytes"},
	    {"none, nothing reported", VERDICT_NONE, 512, 512, 0, -1, 63 * 512, 512, false, 0, 1, "aligned"},
	    // inconclusive: nothing to judge against
	    {"inconclusive", VERDICT_INCONCLUSIVE, 0, 512, 0, 512, 2048 * 512, 0, false, 0, -1, "unknown: the reason"},
	    {"no start", VERDICT_HIDDEN, 4096, 4096, 0, 512, -1, 0, false, 0, -1, "unknown: the system reports no start"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		judgement j{};
		j.kind = c.kind;
		j.sector = 512;
		j.granularity = c.granularity;
		j.at_least = c.at_least;
		j.misalignment = c.misalignment;
		j.reason = "the reason";
		reported_geometry disk{512, c.physical, -1, -1, -1, -1};
		std::vector<partition_verdict> v = judge_partitions(j, {{"sdz1", c.start, 1048576, 0}}, disk);
		ASSERT_EQ(v.size(), 1u);
		EXPECT_EQ(v[0].boundary, c.boundary);
		EXPECT_EQ(v[0].at_least, c.at_least_flag);
		EXPECT_EQ(v[0].past, c.past);
		EXPECT_EQ(v[0].aligned, c.aligned);
		EXPECT_EQ(partition_judgement(v[0]), c.says);
	}
}

}  // namespace
