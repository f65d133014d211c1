#include <cstdio>

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
	    // text with no table in it
	    {"hello\n", "t:1: no sekto table: the header line is missing"},
	    {"      16     512       0    2048           1   16000    8000\n",
	        "t:1: a row before the table's header"},
	    {header, "t:1: the table has no rows"},
	    {"   count    size  offset    step        msec     tps\n", "t:1: no sekto table: the header line is missing"},
	    // a line in the middle of a size group is inside the table
	    {"   count    size  offset    step        msec     tps    kBps\n\n"
	     "      16     512       0    2048           1   16000    8000\n\n"
	     "       8    1024       0    4096           1    8000    8000\n"
	     "sekto: something\n",
	        "t:6: not a header, an empty line or a row"},
	    // columns run together that no split explains: a count that is not the sweep's
	    {"   count    size  offset    step        msec     tps    kBps\n"
	     "      3216777216       0671088640          73   1401714353633\n",
	        "t:2: not a header, an empty line or a row"},
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

// The one row that parse reads from the header and line.
table_row only_row(const std::string &line)
{
	std::vector<pass_table> tables;
	std::string error;

	EXPECT_TRUE(parse(std::string(header) + "\n" + line + "\n", tables, error)) << line << ": " << error;
	if (tables.size() != 1 || tables[0].rows.size() != 1)
		return table_row{};
	return tables[0].rows[0];
}

TEST(ParseTables, ColumnsThatRunTogether)
{
	// A value that fills its column has no blank before it; the sweep fixes the
	// first four columns and sekto's format, then its arithmetic, the last three.
	struct {
		const char *line;
		table_row row;
	} cases[] = {
	    // a plain row
	    {"      16     512       0    2048           1   16000    8000", {16, 512, 0, 2048, 1, 16000, 8000}},
	    // kBps of 8 digits runs into tps (a sparse file, -l 1m -h 4m -t 1g)
	    {"    1024 1048576       0 4194304          73   1402714364054", {1024, 1048576, 0, 4194304, 73, 14027, 14364054}},
	    // a size of 16 MiB runs into the count, kBps into tps
	    {"      6416777216       067108864          50    128020971520", {64, 16777216, 0, 67108864, 50, 1280, 20971520}},
	    // 2 GiB, count 1: size and step wider than their columns
	    {"       12147483648       08589934592         210       4 9986438", {1, 2147483648u, 0, 8589934592u, 210, 4, 9986438}},
	    // tps of 10 digits runs into msec, and kBps into tps
	    {" 1048576      16       0      64           1104857600016384000", {1048576, 16, 0, 64, 1, 1048576000, 16384000}},
	    // two splits give sekto's format back; only 16000000 and 128000000 come from one elapsed time
	    {"      16    8192       0   32768           016000000128000000", {16, 8192, 0, 32768, 0, 16000000, 128000000}},
	};
	for (const auto &c : cases) {
		table_row r = only_row(c.line);
		EXPECT_EQ(r.count, c.row.count) << c.line;
		EXPECT_EQ(r.size, c.row.size) << c.line;
		EXPECT_EQ(r.offset, c.row.offset) << c.line;
		EXPECT_EQ(r.step, c.row.step) << c.line;
		EXPECT_EQ(r.msec, c.row.msec) << c.line;
		EXPECT_EQ(r.tps, c.row.tps) << c.line;
		EXPECT_EQ(r.kbps, c.row.kbps) << c.line;
	}

	// a row that never finished, its size run into its count, after one that did
	std::vector<pass_table> cut;
	std::string why;
	ASSERT_TRUE(parse(std::string(header) + "\n      6416777216       067108864          50    128020971520\n"
	                  "      3233554432       0134217728  ", cut, why)) << why;
	EXPECT_TRUE(cut[0].cut_short);
	EXPECT_EQ(cut[0].rows.size(), 1u);

	// an offset of 1 GiB in a group of 2 GiB, after the rows before it
	run_settings st{};
	st.blocksize = 512;
	st.minsize = st.maxsize = st.total = 2147483648u;
	std::string text = header;
	char line[160];
	for (const sweep_row &r : plan_sweep(st)) {
		if (r.opens_group)
			text += "\n";
		snprintf(line, sizeof line, "%8u%8lu%8lu%8lu  %10lu%8lu%8lu\n", r.count, static_cast<unsigned long>(r.size),
		    static_cast<unsigned long>(r.offset), static_cast<unsigned long>(r.step), 210ul, 4ul, 9986438ul);
		text += line;
	}
	std::vector<pass_table> tables;
	std::string error;
	ASSERT_TRUE(parse(text, tables, error)) << error;
	ASSERT_EQ(tables[0].rows.size(), 23u);
	EXPECT_EQ(tables[0].rows[22].offset, 1073741824u);
	EXPECT_EQ(tables[0].rows[22].kbps, 9986438u);
	EXPECT_FALSE(tables[0].cut_short);
}

TEST(ParseTables, TablesInsideALongerText)
{
	std::string bar = " [O----------------------]" + std::string(26, '\b');
	// a typescript of script(1): CRLF, the progress bar, lines before and after
	std::string typescript = "Script started on 2026-12-11 14:00:00+00:00 [COMMAND=\"sekto -h 1024 -t 8k f\"]\r\n";
	for (size_t i = 0; small[i] != '\0'; i++) {
		if (small[i] == '\n')
			typescript += "\r";
		typescript += small[i];
	}
	typescript.insert(typescript.find("    2048  ") + 10, bar);
	typescript += "\r\nScript done on 2026-12-11 14:00:01+00:00 [COMMAND_EXIT_CODE=\"0\"]\r\n";

	std::vector<pass_table> tables, plain;
	std::string error, note;
	ASSERT_TRUE(parse_tables("t", typescript, tables, error, &note)) << error;
	ASSERT_TRUE(parse(small, plain, error));
	ASSERT_EQ(tables.size(), 1u);
	ASSERT_EQ(tables[0].rows.size(), plain[0].rows.size());
	EXPECT_EQ(tables[0].rows[2].tps, plain[0].rows[2].tps);
	EXPECT_EQ(note, "t:1: skipping the lines outside sekto's tables, the first of them: "
	                "\"Script started on 2026-12-11 14:00:00+00:00 [COMMAND=\"sek...\"");

	// a log: lines before the header and after the last row, two tables between
	tables.clear();
	note.clear();
	ASSERT_TRUE(parse_tables("t", "# sekto run 1\n" + std::string(small) + "done.\nrun 2:\n" + small + "bye\n", tables,
	    error, &note)) << error;
	EXPECT_EQ(tables.size(), 2u);
	EXPECT_EQ(note.substr(0, 4), "t:1:");

	// nothing skipped, nothing noted
	note.clear();
	ASSERT_TRUE(parse_tables("t", small, tables, error, &note));
	EXPECT_EQ(note, "");
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
