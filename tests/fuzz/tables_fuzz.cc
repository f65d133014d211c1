// libFuzzer target for the table reader: whatever the input, reading, merging
// and judging it must neither crash nor leave a table that is empty or out of
// its sweep's order, and every output must be produced.
#include <cstdlib>
#include <string>

#include "verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string text(reinterpret_cast<const char *>(data), size);
	std::vector<pass_table> tables;
	std::vector<merged_row> rows;
	sweep_shape shape{};
	std::string error;

	if (!parse_tables("fuzz", text, tables, error)) {
		if (error.compare(0, 5, "fuzz:") != 0)
			abort();
		return 0;
	}
	for (const pass_table &t : tables)
		if (t.rows.empty() || t.rows.front().offset != 0 || t.shape.blocksize == 0)
			abort();
	if (!merge_passes(tables, rows, shape, error))
		return 0;
	judgement j = judge(rows, shape, static_cast<int>(tables.size()));
	if (j.rows.size() != rows.size() || j.at_least < j.sector)
		abort();
	verdict_context c{};
	if (verdict_text(j, c).empty() || verdict_json(j, c).empty() || verdict_svg(j, c).empty())
		abort();
	return 0;
}
