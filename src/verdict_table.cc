// Reading sekto's tables: one or more tables in a text, each checked against
// the sweep that its first rows imply, then the passes merged row by row.
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

}  // namespace

bool parse_tables(const std::string &name, const std::string &text, std::vector<pass_table> &tables,
    std::string &error)
{
	std::vector<int> lines;
	std::vector<uint64_t> v;
	bool open = false;
	bool ended = false;  // a row prefix without results closed the table
	pass_table t;
	size_t pos = 0;
	int line = 0;

	while (pos < text.size()) {
		size_t nl = text.find('\n', pos);
		bool complete = nl != std::string::npos;
		std::string l = text.substr(pos, complete ? nl - pos : std::string::npos);
		pos = complete ? nl + 1 : text.size();
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
			t.end_line = line;
			continue;
		}
		if (!open) {
			error = at(name, line) + (numbers(words, v) ? "a row before the table's header"
			                                           : "not a header, an empty line or a row");
			return false;
		}
		if (!numbers(words, v) || (v.size() != 7 && v.size() != 4)) {
			error = at(name, line) + "not a header, an empty line or a row";
			return false;
		}
		if (ended) {
			error = at(name, line) + "a row after an unfinished row";
			return false;
		}
		if (v[0] > UINT32_MAX) {
			error = at(name, line) + "not a header, an empty line or a row";
			return false;
		}
		if (v.size() == 4) {
			// The prefix of a run that failed: sekto ended there.
			ended = true;
			t.cut_short = true;
			t.end_line = line;
			continue;
		}
		t.rows.push_back({static_cast<uint32_t>(v[0]), v[1], v[2], v[3], v[4], v[5], v[6]});
		lines.push_back(line);
		t.end_line = line;
	}
	if (!open) {
		error = at(name, line == 0 ? 1 : line) + "no sekto table: the header line is missing";
		return false;
	}
	return finish_table(t, lines, tables, error);
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
