// Declarations shared by the modules of sekto-verdict, which reads sekto's
// tables, judges them and says what they mean.
#ifndef SEKTO_VERDICT_H
#define SEKTO_VERDICT_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sekto.h"

// One complete row of a table, as sekto printed it.
struct table_row {
	uint32_t count;
	uint64_t size;
	uint64_t offset;
	uint64_t step;
	uint64_t msec;
	uint64_t tps;
	uint64_t kbps;
};

// The sizes that shape a sweep, found from its rows.
struct sweep_shape {
	uint32_t blocksize;
	uint32_t minsize;
	uint32_t maxsize;  // the largest size seen; short of the sweep's own when cut short
	uint32_t total;
};

// One table of sekto's output: one pass of a sweep.
struct pass_table {
	std::string name;  // the file name, or "stdin", for messages
	std::vector<table_row> rows;
	sweep_shape shape;
	bool cut_short;    // it ends before its sweep does
	int end_line;      // the line where it ends, for messages
};

// Reading tables (verdict_table.cc).

// Appends the tables of text to tables, skipping what lies outside them (named
// in *note, when given); false with "name:line: why" in error on bad input.
bool parse_tables(const std::string &name, const std::string &text, std::vector<pass_table> &tables,
    std::string &error, std::string *note = nullptr);

// The text with every backspace and carriage return applied, as a terminal shows it.
std::string render_backspaces(const std::string &text);

// A row's measurements over all passes of a sweep.
struct merged_row {
	uint64_t size;
	uint64_t offset;
	std::vector<uint64_t> tps;  // one per pass that has the row
};

// Checks that the tables are passes of one sweep and merges their rows; false with error.
bool merge_passes(const std::vector<pass_table> &tables, std::vector<merged_row> &rows,
    sweep_shape &shape, std::string &error);

// The warning for a table cut short, naming its last complete row.
std::string cut_short_warning(const pass_table &t);

// Judging (verdict_judge.cc).

// The answers a sweep can give.
enum verdict_kind { VERDICT_NONE, VERDICT_HIDDEN, VERDICT_MISALIGNED, VERDICT_INCONCLUSIVE };

// How a row compares with the fastest row of its size group.
enum row_class { ROW_FAST, ROW_SLOW, ROW_UNCLEAR };

// The transfer mode of the passes, where it is known.
enum transfer_mode { MODE_UNKNOWN, MODE_READ, MODE_WRITE, MODE_READWRITE };

// One row as judged.
struct judged_row {
	uint64_t size;
	uint64_t offset;
	std::vector<uint64_t> tps;
	double median;
	double relative;      // median over the median of the group's offset-0 row; < 0 when undefined
	double relative_min;  // the passes' lowest and highest speed relative to that median
	double relative_max;
	row_class cls;
	bool pays;            // the chosen explanation has it pay the penalty
};

// The verdict on a sweep.
struct judgement {
	verdict_kind kind;
	uint32_t sector;         // the logical sector size of the sweep
	uint64_t granularity;    // 0 when only a lower bound is known
	uint64_t at_least;       // the lower bound, equal to granularity when that is known
	uint64_t misalignment;   // bytes past a granularity boundary where the device starts
	uint64_t fast_offset;    // with a misalignment: the offset that runs at full speed
	double penalty;          // how much slower off-boundary rows run, as a fraction, in the group most hit
	double penalty_per_sector;  // the fitted cost of one more physical sector, as a fraction of a
	                            // full-speed transfer, where it weighs most; < 0 when inconclusive
	double misfit;           // the chosen explanation's worst row, in noise units; < 0 when none was fitted
	double noise;            // the relative spread between passes; < 0 with one pass
	double threshold;        // the smallest slowdown that a row's class calls slow
	double same;             // the largest slowdown that a row's class calls full speed
	int passes;
	std::string reason;      // why it is inconclusive
	bool more_data_helps;    // more passes or longer runs could settle an inconclusive verdict
	std::vector<judged_row> rows;
	sweep_shape shape;
};

// Judges merged rows of a sweep with the given number of passes.
judgement judge(const std::vector<merged_row> &rows, const sweep_shape &shape, int passes);

// The median of values, which must not be empty.
double median_of(std::vector<double> values);

// Partitions (verdict_partitions.cc).

// A partition as judged against the boundary that its disk pays at.
struct partition_verdict {
	partition_info part;
	uint64_t boundary;   // B, the boundary judged against; 0 when unknown
	bool at_least;       // B is a lower bound
	uint64_t past;       // the start modulo B, from the disk's own start
	int aligned;         // 1, 0, or -1 when the sweep cannot tell
	std::string reason;  // why the boundary is unknown
};

// Judges each partition from the verdict on its disk and what the system reports of the disk.
std::vector<partition_verdict> judge_partitions(const judgement &j, const std::vector<partition_info> &parts,
    const reported_geometry &disk);

// A partition's judgement in words: "aligned", "misaligned by 1024 bytes", "unknown: ...".
std::string partition_judgement(const partition_verdict &v);

// Output (verdict_text.cc, verdict_json.cc, verdict_chart.cc).

// What the outputs say about the sweep besides the judgement.
struct verdict_context {
	std::string device;           // empty when unknown
	std::vector<std::string> sekto_args;  // in run mode, the options and device that sekto ran with
	transfer_mode mode;
	bool have_reported;
	reported_geometry reported;
	device_origin origin;         // the disk of a partition, the file of a loop device
	bool partitions_listed;       // with -p, where the system listed them
	std::vector<partition_verdict> partitions;
};

// The verdict in a sentence or two, with the OS's view and the advice, then the table.
std::string verdict_text(const judgement &j, const verdict_context &c);

// The one-line answer, as the chart's title uses it.
std::string verdict_headline(const judgement &j);

// The verdict as a JSON document.
std::string verdict_json(const judgement &j, const verdict_context &c);

// The verdict as an SVG chart of relative speeds.
std::string verdict_svg(const judgement &j, const verdict_context &c);

// A fraction as a whole percentage, "52%".
std::string percent(double fraction);

// A byte count in sekto's size syntax: "512", "32k", "64m", "1g".
std::string size_text(uint64_t bytes);

// A row as messages name it, "size 4096 at offset 512".
std::string row_name(uint64_t size, uint64_t offset);

// The name of a transfer mode as the outputs write it; empty when unknown.
const char *mode_name(transfer_mode m);

// Run mode and files (verdict_run.cc).

// Writes text to a new file at path; exits with 73 or 74 when it cannot.
void write_file(const char *path, const std::string &text);

// Runs sekto passes times with args, judges and returns the pass tables; exits as sekto does on failure.
std::vector<pass_table> run_passes(const char *argv0, const std::vector<std::string> &args, int passes,
    const char *keep_dir);

// Reads sekto's options as sekto would into s, without its diagnostics; false where sekto refuses them.
bool scan_sekto_options(const std::vector<std::string> &args, run_settings &s);

// The transfer mode that sekto's options choose.
transfer_mode mode_of_options(const std::vector<std::string> &args);

// sekto's options with a sweep that can answer where they choose none: -h
// that pins boundaries of 4096 to 16384 (and 4 x the reported physical
// sector), and -t that keeps a pass on a slow disk within minutes.
std::vector<std::string> sweep_options(const std::vector<std::string> &args, const reported_geometry &g);

#endif
