#include <gtest/gtest.h>

#include "sekto.h"

namespace {

const std::string blank_bar =
    " [-----------------------]" + std::string(26, '\b');

TEST(MarkerPosition, WorkedExamples)
{
	EXPECT_EQ(marker_position(0, 8), 2u);
	EXPECT_EQ(marker_position(0, 17), 2u);
	EXPECT_EQ(marker_position(23 * 16, 17), 23u);
	EXPECT_EQ(marker_position(23 * 16, 32), 13u);
	EXPECT_EQ(marker_position(23 * 32, 33), 24u);
	EXPECT_EQ(marker_position(23 * 16, 1), 2u + 368);  // only i below count is ever drawn
}

// The cells that the draws of a run of count transfers show, in order, from 1 to 23.
std::vector<unsigned> cells_drawn(uint32_t count)
{
	std::vector<unsigned> cells;
	uint32_t progress = 0;
	for (uint32_t i = 0; i < count; i++, progress += 23)
		if ((i & 15) == 0)
			cells.push_back(marker_position(progress, count) - 1);
	return cells;
}

TEST(MarkerPosition, Count262144)
{
	std::vector<unsigned> cells = cells_drawn(262144);
	ASSERT_EQ(cells.size(), 16384u);
	auto first = [&](unsigned cell) {
		return 16 * (std::find(cells.begin(), cells.end(), cell) - cells.begin());
	};
	EXPECT_EQ(first(2), 11408);
	EXPECT_EQ(first(23), 250752);
	EXPECT_EQ(std::count(cells.begin(), cells.end(), 1u), 713);
	EXPECT_EQ(std::count(cells.begin(), cells.end(), 23u), 712);
	EXPECT_TRUE(std::is_sorted(cells.begin(), cells.end()));
}

TEST(MarkerPosition, SmallRuns)
{
	EXPECT_EQ(cells_drawn(1), std::vector<unsigned>({1}));
	EXPECT_EQ(cells_drawn(16), std::vector<unsigned>({1}));
	EXPECT_EQ(cells_drawn(17), std::vector<unsigned>({1, 22}));
	EXPECT_EQ(cells_drawn(32), std::vector<unsigned>({1, 12}));
	EXPECT_EQ(cells_drawn(33), std::vector<unsigned>({1, 12, 23}));
}

// Every transfer index below count, for every count up to 4096, and the
// wrapping accumulator over whole runs of the largest counts.
TEST(MarkerPosition, AlwaysInsideTheCells)
{
	for (uint32_t count = 1; count <= 4096; count++) {
		uint32_t progress = 0;
		for (uint32_t i = 0; i < count; i++, progress += 23) {
			unsigned p = marker_position(progress, count);
			ASSERT_TRUE(p >= 2 && p <= 24) << count << " " << i;
		}
	}
	for (uint32_t count : {186737708u, 186737709u, 268435456u, 4294967295u}) {
		uint32_t progress = 0;
		unsigned lo = 24, hi = 2;
		for (uint32_t i = 0; i < count; i += 16, progress += 23 * 16) {
			unsigned p = marker_position(progress, count);
			lo = std::min(lo, p);
			hi = std::max(hi, p);
			if (i > count - 16)
				break;
		}
		EXPECT_EQ(lo, 2u) << count;
		EXPECT_LE(hi, 24u) << count;
		// without a wrap the marker reaches the last cell; with one it starts over before
		if (count <= 186737709u) {
			EXPECT_EQ(hi, 24u) << count;
		}
	}
}

TEST(MarkerPosition, RestartsFromTheLeftAfterTheWrap)
{
	// 23 x 186737709 is the first product past 2^32: the accumulator wraps to 11.
	uint32_t count = 268435456;
	uint32_t wrapped = static_cast<uint32_t>(23ull * 186737709);
	EXPECT_EQ(wrapped, 11u);
	EXPECT_EQ(marker_position(static_cast<uint32_t>(23ull * 186737708), count), 17u);
	EXPECT_EQ(marker_position(wrapped, count), 2u);
}

TEST(DrawProgress, OneMarkerThenAllDashesAgain)
{
	struct {
		uint32_t progress, count;
		size_t at;
	} cases[] = {{0, 1, 2}, {368, 17, 23}, {23 * 32, 33, 24}, {23 * 11408, 262144, 3}};
	for (const auto &c : cases) {
		testing::internal::CaptureStdout();
		draw_progress(c.progress, c.count);
		std::string out = testing::internal::GetCapturedStdout();
		std::string want = blank_bar;
		want[c.at] = 'O';
		EXPECT_EQ(out, want) << c.progress << "/" << c.count;
		EXPECT_EQ(std::string(progress_template(), 52), blank_bar);
	}
}

}  // namespace
