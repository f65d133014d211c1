// Reading sekto's tables: one or more tables in a text, each checked against
// the sweep that its first rows imply, then the passes merged row by row.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "verdict.h"

namespace {

const char *const titles[] = {"count", "size", "offset", "step", "msec", "tps", "kBps"};

std::vector<std::string> words_of(const std::string &line)
{
	std::istringstream in(line);
	std::vector<std::string> words;
	std::string w;

	while (in >> w)
		words.push_back(w);
	return words;
}

bool is_header(const std::vector<std::string> &words)
{
	if (words.size() != 7)
		return false;
	for (size_t i = 0; i < 7; i++)
		if (words[i] != titles[i])
			return false;
	return true;
}

// An unsigned decimal without sign, as sekto prints them; false on anything else or overflow.
bool decimal(const std::string &w, uint64_t *v)
{
	uint64_t n = 0;

	if (w.empty() || w.size() > 20)
		return false;
	for (char c : w) {
		if (c < '0' || c > '9')
			return false;
		uint64_t d = static_cast<uint64_t>(c - '0');
		if (n > (UINT64_MAX - d) / 10)
			return false;
		n = n * 10 + d;
	}
	*v = n;
	return true;
}

bool numbers(const std::vector<std::string> &words, std::vector<uint64_t> &out)
{
	out.clear();
	for (const std::string &w : words) {
		uint64_t v;
		if (!decimal(w, &v))
			return false;
		out.push_back(v);
	}
	return true;
}

std::string at(const std::string &name, int line)
{
	return name + ":" + std::to_string(line) + ": ";
}

bool is_power_of_two(uint64_t v)
{
	return v != 0 && (v & (v - 1)) == 0;
}

// The shape that the first rows imply: the first size and its count, and the
// block size from the first offset that is not 0.
bool shape_of(const std::vector<table_row> &rows, sweep_shape &shape)
{
	const table_row &first = rows.front();

	// A size of at most 2^31 and a 32-bit count multiply without overflow.
	if (first.size == 0 || first.size > 2147483648u || first.count == 0)
		return false;
	uint64_t total = first.size * first.count;
	if (total > 2147483648u)
		return false;
	shape.minsize = static_cast<uint32_t>(first.size);
	shape.total = static_cast<uint32_t>(total);
	shape.blocksize = shape.minsize;
	shape.maxsize = shape.minsize;
	for (const table_row &r : rows) {
		if (r.offset != 0 && r.offset < shape.blocksize)
			shape.blocksize = static_cast<uint32_t>(r.offset);
		if (r.size > shape.maxsize && r.size <= 2147483648u)
			shape.maxsize = static_cast<uint32_t>(r.size);
	}
	return is_power_of_two(shape.blocksize) && is_power_of_two(shape.minsize) &&
	    is_power_of_two(shape.maxsize) && is_power_of_two(shape.total);
}

// Checks the rows of a finished table against the sweep they imply.
bool check_table(pass_table &t, const std::vector<int> &lines, std::string &error)
{
	run_settings s{};

	if (t.rows.empty()) {
		error = at(t.name, t.end_line) + "the table has no rows";
		return false;
	}
	if (!shape_of(t.rows, t.shape)) {
		error = at(t.name, lines[0]) + "the rows are not those of a sekto sweep";
		return false;
	}
	s.blocksize = t.shape.blocksize;
	s.minsize = t.shape.minsize;
	s.maxsize = t.shape.maxsize;
	s.total = t.shape.total;
	if (settle_sizes(s) != SIZES_OK) {
		error = at(t.name, lines[0]) + "the rows are not those of a sekto sweep";
		return false;
	}
	std::vector<sweep_row> plan = plan_sweep(s);
	for (size_t i = 0; i < t.rows.size(); i++) {
		const table_row &r = t.rows[i];
		if (i >= plan.size() || r.size != plan[i].size || r.offset != plan[i].offset) {
			error = at(t.name, lines[i]) + "the row of " + row_name(r.size, r.offset) +
			    " is out of order";
			if (i < plan.size())
				error += ": the sweep has " + row_name(plan[i].size, plan[i].offset) + " here";
			return false;
		}
		if (r.step != plan[i].step || r.count != plan[i].count) {
			error = at(t.name, lines[i]) + "the row of " + row_name(r.size, r.offset) +
			    " has count " + std::to_string(r.count) + " and step " + std::to_string(r.step) +
			    ", where the sweep has " + std::to_string(plan[i].count) + " and " +
			    std::to_string(plan[i].step);
			return false;
		}
	}
	// A sweep ends after the last offset of its largest size; anything short of that was cut.
	if (t.rows.size() < plan.size())
		t.cut_short = true;
	return true;
}

// Checks a table that has ended and adds it to tables.
bool finish_table(pass_table &t, const std::vector<int> &lines, std::vector<pass_table> &tables,
    std::string &error)
{
	if (!check_table(t, lines, error))
		return false;
	tables.push_back(t);
	return true;
}

// What a line of a table is.
enum line_kind { LINE_ROW, LINE_UNFINISHED, LINE_OTHER };

// The row prefix as sekto prints it, without the two blanks that end it.
std::string row_prefix(uint64_t count, uint64_t size, uint64_t offset, uint64_t step)
{
	char buf[96];

	snprintf(buf, sizeof buf, "%8lu%8lu%8lu%8lu", static_cast<unsigned long>(count), static_cast<unsigned long>(size),
	    static_cast<unsigned long>(offset), static_cast<unsigned long>(step));
	return buf;
}

// The block size that the rows of t show: their smallest offset that is not 0; 0 until one does.
uint64_t block_of(const pass_table &t)
{
	uint64_t block = 0;

	for (const table_row &r : t.rows)
		if (r.offset != 0 && (block == 0 || r.offset < block))
			block = r.offset;
	return block;
}

// The rows that can follow the rows of t in a sekto sweep, as count, size, offset and step.
std::vector<table_row> next_rows(const pass_table &t)
{
	std::vector<table_row> next;

	if (t.rows.empty()) {
		// any first row: offset 0 of a power-of-two size, its count a power of two, their product 2^31 at most
		for (uint64_t size = 1; size <= 2147483648u; size *= 2)
			for (uint64_t count = 1; count * size <= 2147483648u; count *= 2)
				next.push_back({static_cast<uint32_t>(count), size, 0, 4 * size, 0, 0, 0});
		return next;
	}
	const table_row &last = t.rows.back();
	uint64_t block = block_of(t);
	// the block size shows at the second row of the first group with more than one
	std::vector<uint64_t> offsets;
	if (last.offset != 0)
		offsets.push_back(2 * last.offset);
	else if (block != 0)
		offsets.push_back(block);
	else
		for (uint64_t o = 1; o < last.size; o *= 2)
			offsets.push_back(o);
	for (uint64_t o : offsets)
		if (o < last.size)
			next.push_back({last.count, last.size, o, last.step, 0, 0, 0});
	if (last.count >= 2 && last.size <= 1073741824u)
		next.push_back({last.count / 2, 2 * last.size, 0, 8 * last.size, 0, 0, 0});
	return next;
}

// Whether the rows of t end where a sweep may end: after the last offset of a
// size. Until a row shows the block size, it is taken to be the first size.
bool ends_a_group(const pass_table &t)
{
	if (t.rows.empty())
		return false;
	const table_row &last = t.rows.back();
	uint64_t block = block_of(t);
	if (block == 0)
		block = t.rows.front().size;
	return (last.offset == 0 ? block : 2 * last.offset) >= last.size;
}

// The ways a field of width w that begins at pos of s can end, with its value:
// filled on the left with blanks, or, as wide as its value, without a leading zero.
std::vector<std::pair<size_t, uint64_t>> field_ends(const std::string &s, size_t pos, size_t w)
{
	std::vector<std::pair<size_t, uint64_t>> ends;
	uint64_t v;

	if (pos >= s.size())
		return ends;
	if (s[pos] == ' ') {
		size_t digits = s.find_first_not_of(' ', pos);
		if (pos + w <= s.size() && digits < pos + w && decimal(s.substr(digits, pos + w - digits), &v))
			ends.emplace_back(pos + w, v);
		return ends;
	}
	size_t run = s.find_first_not_of("0123456789", pos);
	run = (run == std::string::npos ? s.size() : run) - pos;
	for (size_t k = w; s[pos] != '0' && k <= run && k <= 20; k++)
		if (decimal(s.substr(pos, k), &v))
			ends.emplace_back(pos + k, v);
	return ends;
}

// Every way of reading s as sekto's "%10lu%8lu%8lu": a value wider than its field is written in full.
std::vector<std::vector<uint64_t>> suffix_splits(const std::string &s)
{
	std::vector<std::vector<uint64_t>> out;

	for (const auto &msec : field_ends(s, 0, 10))
		for (const auto &tps : field_ends(s, msec.first, 8))
			for (const auto &kbps : field_ends(s, tps.first, 8))
				if (kbps.first == s.size())
					out.push_back({msec.second, tps.second, kbps.second});
	return out;
}

// Narrows [lo, hi] to the elapsed microseconds E for which n / E, truncated, is q.
void quotient_range(uint64_t n, uint64_t q, uint64_t &lo, uint64_t &hi)
{
	if (q == 0) {
		lo = std::max(lo, n + 1);
		return;
	}
	lo = std::max(lo, n / (q + 1) + 1);
	hi = std::min(hi, n / q);
}

// Whether some elapsed time gives msec, tps and kBps together, as sekto computes them.
bool consistent(uint64_t count, uint64_t size, const std::vector<uint64_t> &v)
{
	if (size == 0 || count > 2147483648u / size)
		return false;
	uint64_t lo = v[0] * 1000, hi = lo + 999;
	if (v[1] == 0 && v[2] == 0 && v[0] == 0)
		return true;  // an elapsed time of 0 has no speeds
	quotient_range(count * 1000000, v[1], lo, hi);
	quotient_range((size * count * 1000000) >> 10, v[2], lo, hi);
	return lo <= hi;
}

// Reads a line whose columns may run together: its first four are those of a
// row that can come next in the sweep, its last three any split that gives
// sekto's format back, the one whose numbers agree where several do.
line_kind read_run_together(const std::string &l, const pass_table &t, table_row &row)
{
	if (l.find_first_not_of(" 0123456789") != std::string::npos)
		return LINE_OTHER;
	for (const table_row &c : next_rows(t)) {
		std::string prefix = row_prefix(c.count, c.size, c.offset, c.step);
		if (l.compare(0, prefix.size(), prefix) != 0)
			continue;
		std::string rest = l.substr(prefix.size());
		if (rest.find_first_not_of(' ') == std::string::npos)
			return LINE_UNFINISHED;
		if (rest.compare(0, 2, "  ") != 0)
			continue;
		std::vector<std::vector<uint64_t>> splits = suffix_splits(rest.substr(2));
		const std::vector<uint64_t> *pick = splits.size() == 1 ? &splits[0] : nullptr;
		for (const std::vector<uint64_t> &sp : splits)
			if (pick == nullptr && consistent(c.count, c.size, sp))
				pick = &sp;
		if (pick == nullptr)
			continue;
		row = {c.count, c.size, c.offset, c.step, (*pick)[0], (*pick)[1], (*pick)[2]};
		return LINE_ROW;
	}
	return LINE_OTHER;
}

// Reads a line that follows the rows of t: seven numbers, or what sekto prints when they run together.
line_kind read_row(const std::string &l, const pass_table &t, table_row &row)
{
	std::vector<uint64_t> v;

	// Columns that run together make fewer words; so may they make four, which
	// are an unfinished row only where they are a row's exact prefix.
	if (numbers(words_of(l), v) && v.size() == 7 && v[0] <= UINT32_MAX) {
		row = {static_cast<uint32_t>(v[0]), v[1], v[2], v[3], v[4], v[5], v[6]};
		return LINE_ROW;
	}
	return read_run_together(l, t, row);
}

// A line as a note quotes it: its first 60 characters.
std::string quoted(const std::string &l)
{
	return "\"" + (l.size() > 60 ? l.substr(0, 57) + "..." : l) + "\"";
}

}  // namespace

bool parse_tables(const std::string &name, const std::string &text, std::vector<pass_table> &tables,
    std::string &error, std::string *note)
{
	std::string shown = render_backspaces(text);
	std::vector<int> lines;
	bool open = false;
	bool ended = false;  // a row prefix without results closed the table
	size_t found = tables.size();
	int skipped = 0, row_outside = 0;
	std::string first_skipped;
	pass_table t;
	size_t pos = 0;
	int line = 0;

	while (pos < shown.size()) {
		size_t nl = shown.find('\n', pos);
		bool complete = nl != std::string::npos;
		std::string l = shown.substr(pos, complete ? nl - pos : std::string::npos);
		pos = complete ? nl + 1 : shown.size();
		line++;

		std::vector<std::string> words = words_of(l);
		if (is_header(words)) {
			if (open && !finish_table(t, lines, tables, error))
				return false;
			t = pass_table{};
			t.name = name;
			t.end_line = line;
			lines.clear();
			open = true;
			ended = false;
			continue;
		}
		if (words.empty() && l.find_first_not_of(" \t\r") == std::string::npos) {
			if (open)
				t.end_line = line;
			continue;
		}
		table_row row{};
		line_kind kind = open ? read_row(l, t, row) : LINE_OTHER;
		if (open && kind == LINE_OTHER && (ended || ends_a_group(t))) {
			// the table is over: what follows it is no part of it
			if (!finish_table(t, lines, tables, error))
				return false;
			open = false;
		}
		if (!open) {
			std::vector<uint64_t> v;
			if (row_outside == 0 && numbers(words, v))
				row_outside = line;
			if (skipped == 0) {
				skipped = line;
				first_skipped = l;
			}
			continue;
		}
		if (kind == LINE_OTHER) {
			error = at(name, line) + "not a header, an empty line or a row";
			return false;
		}
		if (ended) {
			error = at(name, line) + "a row after an unfinished row";
			return false;
		}
		t.end_line = line;
		if (kind == LINE_UNFINISHED) {
			// The prefix of a run that failed: sekto ended there.
			ended = true;
			t.cut_short = true;
			continue;
		}
		t.rows.push_back(row);
		lines.push_back(line);
	}
	if (open && !finish_table(t, lines, tables, error))
		return false;
	if (tables.size() == found) {
		error = row_outside != 0 ? at(name, row_outside) + "a row before the table's header"
		                         : at(name, line == 0 ? 1 : line) + "no sekto table: the header line is missing";
		return false;
	}
	if (skipped != 0 && note != nullptr)
		*note = at(name, skipped) + "skipping the lines outside sekto's tables, the first of them: " +
		    quoted(first_skipped);
	return true;
}

std::string render_backspaces(const std::string &text)
{
	std::string out;
	std::string line;
	size_t cursor = 0;

	for (char c : text) {
		if (c == '\n') {
			out += line;
			out += '\n';
			line.clear();
			cursor = 0;
		} else if (c == '\b') {
			if (cursor > 0)
				cursor--;
		} else if (c == '\r') {
			// a carriage return: the line ends, or is written over, from its start
			cursor = 0;
		} else {
			if (cursor < line.size())
				line[cursor] = c;
			else
				line += c;
			cursor++;
		}
	}
	// An unfinished row keeps its prefix; the bar drawn after it is no part of the table.
	if (!line.empty()) {
		size_t bar = line.find(" [");
		out += bar == std::string::npos ? line : line.substr(0, bar);
	}
	return out;
}

std::string cut_short_warning(const pass_table &t)
{
	std::string w = at(t.name, t.end_line) + "the table is cut short";
	if (!t.rows.empty())
		w += " after its row of " + row_name(t.rows.back().size, t.rows.back().offset);
	return w;
}

bool merge_passes(const std::vector<pass_table> &tables, std::vector<merged_row> &rows,
    sweep_shape &shape, std::string &error)
{
	const pass_table *longest = &tables.front();

	for (const pass_table &t : tables) {
		const sweep_shape &a = t.shape;
		const sweep_shape &b = tables.front().shape;
		bool same = a.blocksize == b.blocksize && a.minsize == b.minsize && a.total == b.total;
		// A table cut short may end in a smaller size; complete ones must end in the same.
		if (same && !t.cut_short && !tables.front().cut_short)
			same = a.maxsize == b.maxsize;
		if (!same) {
			char buf[200];
			snprintf(buf, sizeof buf,
			    "this table is of another sweep (sector %u, sizes %u to %u, total %u) than %s "
			    "(sector %u, sizes %u to %u, total %u)",
			    a.blocksize, a.minsize, a.maxsize, a.total, tables.front().name.c_str(), b.blocksize,
			    b.minsize, b.maxsize, b.total);
			error = at(t.name, t.end_line) + buf;
			return false;
		}
		if (t.rows.size() > longest->rows.size())
			longest = &t;
	}
	for (const pass_table &t : tables) {
		if (!t.cut_short && t.rows.size() != longest->rows.size()) {
			error = at(t.name, t.end_line) + "this table is of another sweep than " + longest->name +
			    ": it ends in size " + std::to_string(t.shape.maxsize);
			return false;
		}
	}
	shape = longest->shape;
	rows.clear();
	for (const table_row &r : longest->rows)
		rows.push_back({r.size, r.offset, {}});
	for (const pass_table &t : tables)
		for (size_t i = 0; i < t.rows.size(); i++)
			rows[i].tps.push_back(t.rows[i].tps);
	return true;
}
