#include <gtest/gtest.h>

#include "verdict.h"

namespace {

const char header[] = "   count    size  offset    step        msec     tps    kBps\n";

// The default sweep of a 512-byte device cut to -h 1024 -t 8192, as sekto prints it.
const char small[] = "   count    size  offset    step        msec     tps    kBps\n"
                     "\n"
                     "      16     512       0    2048           1   16000    8000\n"
                     "\n"
                     "       8    1024       0    4096           1    8000    8000\n"
                     "       8    1024     512    4096           2    4000    4000\n";

bool parse(const std::string &text, std::vector<pass_table> &tables, std::string &error)
{
	return parse_tables("t", text, tables, error);
}

TEST(ParseTables, ReadsRowsAndTheShapeOfTheirSweep)
{
	std::vector<pass_table> tables;
	std::string error;

	ASSERT_TRUE(parse(small, tables, error)) << error;
	ASSERT_EQ(tables.size(), 1u);
	const pass_table &t = tables[0];
	ASSERT_EQ(t.rows.size(), 3u);
	EXPECT_EQ(t.rows[2].size, 1024u);
	EXPECT_EQ(t.rows[2].offset, 512u);
	EXPECT_EQ(t.rows[2].tps, 4000u);
	EXPECT_EQ(t.shape.blocksize, 512u);
	EXPECT_EQ(t.shape.minsize, 512u);
	EXPECT_EQ(t.shape.maxsize, 1024u);
	EXPECT_EQ(t.shape.total, 8192u);
	EXPECT_FALSE(t.cut_short);

	// Two tables in one stream are two passes; blank lines anywhere are allowed.
	ASSERT_TRUE(parse(std::string(small) + "\n" + small, tables, error)) << error;
	EXPECT_EQ(tables.size(), 3u);
}

TEST(ParseTables, BadInputNamesTheLine)
{
	struct {
		const char *text;
		const char *error;
	} cases[] = {
	    {"", "t:1: no sekto table: the header line is missing"},
	    {"hello\n", "t:1: not a header, an empty line or a row"},
	    {"      16     512       0    2048           1   16000    8000\n",
	        "t:1: a row before the table's header"},
	    {header, "t:1: the table has no rows"},
	    {"   count    size  offset    step        msec     tps\n", "t:1: not a header, an empty line or a row"},
	    {"   count    size  offset    step        msec     tps    kBps\n\n"
	     "      16     512       0    2048           1   16000    8000 9\n",
	        "t:3: not a header, an empty line or a row"},
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048           1   -1600    8000\n",
	        "t:2: not a header, an empty line or a row"},
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048           1   1600000000000000000000    8000\n",
	        "t:2: not a header, an empty line or a row"},
	    // rows out of order
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048           1   16000    8000\n"
	     "       8    1024     512    4096           2    4000    4000\n"
	     "       8    1024       0    4096           1    8000    8000\n",
	        "t:3: the row of size 1024 at offset 512 is out of order: the sweep has size 1024 at offset 0 "
	        "here"},
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "       8    1024       0    4096           1    8000    8000\n"
	     "      16     512       0    2048           1   16000    8000\n",
	        "t:3: the row of size 512 at offset 0 is out of order"},
	    // a count or step that is not the sweep's
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048           1   16000    8000\n"
	     "       4    1024       0    4096           1    8000    8000\n",
	        "t:3: the row of size 1024 at offset 0 has count 4 and step 4096, where the sweep has 8 and 4096"},
	    // sizes that no sekto sweep has
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     520       0    2080           1   16000    8000\n",
	        "t:2: the rows are not those of a sekto sweep"},
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "       0     512       0    2048           1   16000    8000\n",
	        "t:2: the rows are not those of a sekto sweep"},
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16       0       0    2048           1   16000    8000\n",
	        "t:2: the rows are not those of a sekto sweep"},
	    // only the last row may be unfinished
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048  \n"
	     "       8    1024       0    4096           1    8000    8000\n",
	        "t:3: a row after an unfinished row"},
	    // a second table without rows
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      16     512       0    2048           1   16000    8000\n" "   count    size  offset    step        msec     tps    kBps\n",
	        "t:3: the table has no rows"},
	};
	for (const auto &c : cases) {
		std::vector<pass_table> tables;
		std::string error;
		EXPECT_FALSE(parse(c.text, tables, error)) << c.text;
		EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << c.text;
	}
}

TEST(ParseTables, ACutShortTableKeepsItsCompleteRows)
{
	std::string text(small);
	std::vector<pass_table> tables;
	std::string error;

	// sekto failed in its third run: the prefix stands without results or line end
	text.erase(text.rfind("       2"));
	ASSERT_TRUE(parse(text, tables, error)) << error;
	ASSERT_EQ(tables.size(), 1u);
	EXPECT_TRUE(tables[0].cut_short);
	EXPECT_EQ(tables[0].rows.size(), 2u);
	EXPECT_EQ(cut_short_warning(tables[0]),
	    "t:6: the table is cut short after its row of size 1024 at offset 0");

	// a table that stops between rows is cut short too
	tables.clear();
	text = std::string(small).substr(0, std::string(small).rfind("       8    1024     512"));
	ASSERT_TRUE(parse(text, tables, error)) << error;
	EXPECT_TRUE(tables[0].cut_short);
}

TEST(MergePasses, KeepsEachPassAndRefusesAnotherSweep)
{
	std::vector<pass_table> tables;
	std::vector<merged_row> rows;
	sweep_shape shape{};
	std::string error;

	std::string cut(small);
	cut.erase(cut.rfind("       8    1024     512"));
	ASSERT_TRUE(parse(small, tables, error));
	ASSERT_TRUE(parse(cut, tables, error));
	ASSERT_TRUE(merge_passes(tables, rows, shape, error)) << error;
	ASSERT_EQ(rows.size(), 3u);
	EXPECT_EQ(rows[0].tps, (std::vector<uint64_t>{16000, 16000}));
	EXPECT_EQ(rows[2].tps, (std::vector<uint64_t>{4000}));
	EXPECT_EQ(shape.maxsize, 1024u);

	// -t 16384 instead of 8192
	ASSERT_TRUE(parse("   count    size  offset    step        msec     tps    kBps\n\n"
	                  "      32     512       0    2048           1   16000    8000\n",
	    tables, error));
	EXPECT_FALSE(merge_passes(tables, rows, shape, error));
	EXPECT_EQ(error, "t:3: this table is of another sweep (sector 512, sizes 512 to 512, total 16384) "
	                 "than t (sector 512, sizes 512 to 1024, total 8192)");

	// two complete tables that end in different sizes
	tables.clear();
	ASSERT_TRUE(parse(small, tables, error));
	ASSERT_TRUE(parse(std::string(header) + "\n      16     512       0    2048           1   16000    8000\n",
	    tables, error));
	EXPECT_FALSE(merge_passes(tables, rows, shape, error));
}

TEST(RenderBackspaces, LeavesWhatTheTerminalShows)
{
	std::string bar = " [---O-------------------]" + std::string(26, '\b');
	EXPECT_EQ(render_backspaces("       8    1024       0    4096  " + bar + bar +
	              "         1    8000    8000\n"),
	    "       8    1024       0    4096           1    8000    8000\n");
	// a run that failed leaves its prefix and the bar; the bar is dropped
	EXPECT_EQ(render_backspaces("       8    1024       0    4096  " + bar), "       8    1024       0    4096  ");
}

}  // namespace
