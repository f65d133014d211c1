// The verdict in words: what the sweep shows, what the system reports beside
// it, what to do about it, and a compact table of relative speeds.
#include <cmath>
#include <cstdio>
#include <set>

#include "verdict.h"

namespace {

std::string num(uint64_t v)
{
	return std::to_string(v);
}

// "(reads, 3 passes, noise 1%)"
std::string conditions(const judgement &j, transfer_mode mode)
{
	static const char *const modes[] = {"", "reads, ", "writes, ", "reads and write-backs, "};
	std::string s = "(";

	s += modes[mode];
	s += num(static_cast<uint64_t>(j.passes)) + (j.passes == 1 ? " pass, " : " passes, ");
	s += j.noise < 0 ? "noise unknown" : "noise " + percent(j.noise);
	return s + ")";
}

std::string bytes(int64_t v)
{
	return v < 0 ? "unknown" : std::to_string(v);
}

std::string reported_line(const reported_geometry &g)
{
	std::string s = "The OS reports " + bytes(g.logical) + "-byte logical and " + bytes(g.physical) +
	    "-byte physical sectors, minimum I/O " + bytes(g.min_io) + ", optimal I/O " +
	    (g.opt_io == 0 ? std::string("none") : bytes(g.opt_io)) + ", alignment offset " +
	    bytes(g.alignment_offset);
	if (g.partition_start >= 0)
		s += ", start at byte " + bytes(g.partition_start);
	return s + ".";
}

// What the OS's figures say beside the measurement.
std::string comparison(const judgement &j, const reported_geometry &g)
{
	uint64_t p = j.at_least;
	std::string s;

	if (g.physical <= 0)
		return s;
	uint64_t phys = static_cast<uint64_t>(g.physical);
	if (j.kind == VERDICT_HIDDEN || j.kind == VERDICT_MISALIGNED) {
		if (phys < p)
			s = "It reports " + num(phys) + "-byte physical sectors, but the drive pays a penalty at " +
			    (j.granularity == 0 ? "a boundary of at least " : "") + num(p) +
			    " bytes: the drive hides its physical sector size.";
		else if (phys == p)
			s = "Its physical sector size matches the " + num(p) + "-byte boundary measured.";
		else
			s = "The penalty is measured at " + num(p) + " bytes, below the physical sector size it reports.";
		if (j.kind == VERDICT_MISALIGNED && g.partition_start >= 0 && j.granularity != 0) {
			uint64_t past = static_cast<uint64_t>(g.partition_start) % j.granularity;
			s += " The device starts at byte " + num(static_cast<uint64_t>(g.partition_start)) + ", " +
			    num(past) + " bytes past a " + num(j.granularity) + "-byte boundary" +
			    (past == j.misalignment ? ": that is the misalignment measured." : ".");
		}
	} else if (j.kind == VERDICT_NONE && phys > j.sector) {
		s = "It reports " + num(phys) + "-byte physical sectors, but no offset that was tried paid a penalty";
		s += j.shape.maxsize < phys ? ": the largest size of the sweep, " + num(j.shape.maxsize) +
		        ", is below it; a sweep with -h " + num(2 * phys) + " would show it."
		                            : ".";
	}
	return s;
}

std::string device_or_placeholder(const verdict_context &c)
{
	return c.device.empty() ? "DEVICE" : c.device;
}

// The size options of the sweep that was judged, in sekto's syntax.
std::string size_options(const judgement &j)
{
	return "-l " + size_text(j.shape.minsize) + " -h " + size_text(j.shape.maxsize) + " -t " + size_text(j.shape.total);
}

// The boundary in force for a device's start: the one measured, else the larger
// of 4096 and the reported physical sector.
uint64_t boundary_in_force(const judgement &j, const verdict_context &c)
{
	if ((j.kind == VERDICT_HIDDEN || j.kind == VERDICT_MISALIGNED) && j.granularity != 0)
		return j.granularity;
	return std::max<uint64_t>(4096, c.reported.physical > 0 ? static_cast<uint64_t>(c.reported.physical) : 0);
}

// Whether the device, judged alone, starts on what it lies on where none of the
// swept offsets falls on the boundary in force, so that its sweep cannot show what its start costs.
bool starts_off_boundary(const judgement &j, const verdict_context &c)
{
	if (!c.have_reported || c.reported.partition_start <= 0 || c.partitions_listed)
		return false;
	uint64_t start = static_cast<uint64_t>(c.reported.partition_start), b = boundary_in_force(j, c);
	for (const judged_row &r : j.rows)
		if ((start + r.offset) % b == 0)
			return false;
	return true;
}

// "512, 1024 and 2048"
std::string listed(const std::vector<uint64_t> &v)
{
	std::string s;

	for (size_t i = 0; i < v.size(); i++)
		s += (i == 0 ? "" : i + 1 == v.size() ? " and " : ", ") + num(v[i]);
	return s;
}

// The rows that pay the penalty, by size: "size 4096 at offsets 512, 1024 and
// 2048, and size 8192 at offset 0".
std::string paying_rows(const judgement &j)
{
	std::vector<std::string> sizes;

	for (size_t i = 0; i < j.rows.size();) {
		uint64_t size = j.rows[i].size;
		std::vector<uint64_t> offsets;
		for (; i < j.rows.size() && j.rows[i].size == size; i++)
			if (j.rows[i].pays)
				offsets.push_back(j.rows[i].offset);
		if (!offsets.empty())
			sizes.push_back("size " + num(size) + (offsets.size() == 1 ? " at offset " : " at offsets ") + listed(offsets));
	}
	std::string s;
	for (size_t i = 0; i < sizes.size(); i++)
		s += (i == 0 ? "" : i + 1 == sizes.size() ? ", and " : ", ") + sizes[i];
	return s;
}

// Whether the sweep has a row at offset.
bool swept(const judgement &j, uint64_t offset)
{
	for (const judged_row &r : j.rows)
		if (r.offset == offset)
			return true;
	return false;
}

// Alignment advice for a boundary of b bytes, or of at least b bytes: what is
// right whatever the boundary really is, within what was measured.
std::string align_advice(const char *what, uint64_t b, bool at_least, bool settled_above)
{
	if (!at_least)
		return std::string(what) + (std::string(what) == "align partitions" ? " to " + num(b) + " bytes"
		                                                                     : " on a " + num(b) + "-byte boundary") +
		    (b <= 1048576 ? " (the usual 1 MiB alignment does)" : "") +
		    ", and use a file system block size of at least " + num(b) + " bytes.";
	if (b > 1048576)
		return std::string(what) + " on a multiple of the boundary, which is at least " + num(b) +
		    " bytes, and use a file system block size of at least " + num(b) + " bytes.";
	return std::string(what) + " on 1 MiB, which suits any boundary from " + num(b) +
	    " bytes up to 1 MiB, and use a file system block size of at least " + num(b) + " bytes" +
	    (settled_above ? ", and as large as the boundary once the command above settles it." : ".");
}

std::string advice(const judgement &j, const verdict_context &c)
{
	bool reads = c.mode == MODE_READ || c.mode == MODE_UNKNOWN;

	switch (j.kind) {
	case VERDICT_NONE: {
		std::string s = "advice: ";
		int64_t phys = c.have_reported ? c.reported.physical : -1;
		int64_t start = c.have_reported ? c.reported.partition_start : -1;
		if (start > 0 && !c.partitions_listed)
			s += "this device starts at byte " + num(static_cast<uint64_t>(start)) +
			    " of what it lies on, which a sweep of the device alone cannot judge: sweep the disk from its "
			    "start before trusting the alignment.";
		else if (phys > static_cast<int64_t>(j.sector))
			s += "follow the OS's " + num(static_cast<uint64_t>(phys)) + "-byte physical sector: " +
			    align_advice("align partitions", static_cast<uint64_t>(phys), false, false);
		else
			s += "the sweep shows no cost of alignment beyond the " + num(j.sector) +
			    "-byte sector in transfers of up to " + num(j.shape.maxsize) +
			    " bytes; the usual 1 MiB partition alignment suits any physical sector up to 1 MiB.";
		if (reads)
			s += std::string(c.mode == MODE_UNKNOWN ? " If these were reads: reads" : " Reads") +
			    " often hide what a write's read-modify-write pays; to clear writes, measure with -w on a "
			    "scratch device, whose data it destroys: sekto-verdict -x -- -w " +
			    size_options(j) + " " + device_or_placeholder(c);
		return s;
	}
	case VERDICT_HIDDEN:
		return "advice: " + align_advice("align partitions", j.at_least, j.granularity == 0, true);
	case VERDICT_MISALIGNED:
		return "advice: " + align_advice("start the partition", j.at_least, j.granularity == 0, false);
	case VERDICT_INCONCLUSIVE:
		break;
	}
	return "";
}

// What a sekto run that settles what the sweep left open changes.
enum settle { SETTLE_BOUND, SETTLE_LONGER, SETTLE_WIDER };

// The options for a sekto run that would settle what the sweep left open.
std::string settle_options(const judgement &j, const verdict_context &c, settle how)
{
	static const char *const flags[] = {"", "-r ", "-w ", "-r -w "};
	std::string s = flags[c.mode];
	uint64_t l = j.shape.minsize, h = j.shape.maxsize, t;

	switch (how) {
	case SETTLE_BOUND:
		l = j.at_least;
		h = 2 * j.at_least;
		t = j.shape.total % h == 0 ? j.shape.total : 32 * h;
		break;
	case SETTLE_LONGER:
		t = std::min<uint64_t>(4 * static_cast<uint64_t>(j.shape.total), 2147483648u);
		break;
	case SETTLE_WIDER:
		h = std::min<uint64_t>(4 * h, 2147483648u);
		t = j.shape.total % h == 0 ? j.shape.total : std::min<uint64_t>(32 * h, 2147483648u);
		break;
	}
	return s + "-l " + size_text(l) + " -h " + size_text(h) + " -t " + size_text(t);
}

std::string explanation(const judgement &j, const verdict_context &c)
{
	std::string how = conditions(j, c.mode);

	switch (j.kind) {
	case VERDICT_NONE:
		if (starts_off_boundary(j, c))
			return "Every offset that was tried runs as fast as offset 0 of its size within the noise " + how +
			    "; but the device starts where none of sekto's offsets falls on a physical boundary of 4096 "
			    "bytes or more, and then every row pays alike, so this does not show the granularity.";
		return "Every offset that was tried runs as fast as offset 0 of its size within the noise " + how + ", so the " +
		    num(j.sector) + "-byte logical sector is the granularity as far as transfers of up to " +
		    num(j.shape.maxsize) + " bytes show; a larger -h tries larger ones.";
	case VERDICT_HIDDEN:
		if (j.granularity != 0)
			return "Transfers that start on a " + num(j.granularity) +
			    "-byte boundary run at full speed; those that start off it and cross it run up to " +
			    percent(j.penalty) + " slower " + how + ": the rows of " + paying_rows(j) + ".";
		return "Every offset that was tried below " + num(j.at_least) + " bytes runs up to " +
		    percent(j.penalty) + " slower than offset 0 " + how +
		    ", so the sweep cannot pin the boundary down: it is at least " + num(j.at_least) +
		    " bytes.\nTo settle it: sekto " + settle_options(j, c, SETTLE_BOUND) + " " + device_or_placeholder(c);
	case VERDICT_MISALIGNED: {
		std::string bound = j.granularity == 0 ? "at least " : "";
		return "The rows of " + paying_rows(j) + " run up to " + percent(j.penalty) +
		    " slower than the fastest of their size, and the other rows at full speed " + how +
		    ": so the device starts " + num(j.misalignment) + " bytes past a boundary of " + bound +
		    num(j.at_least) + " bytes; the first offset on that boundary, " + num(j.fast_offset) +
		    (swept(j, j.fast_offset) ? ", is among the offsets at full speed." : ", is not one that sekto sweeps.");
	}
	case VERDICT_INCONCLUSIVE:
		if (!j.more_data_helps)
			return "The sweep cannot tell what the device does " + how + ": " + j.reason +
			    ".\nTo settle it, sweep larger sizes: sekto " + settle_options(j, c, SETTLE_WIDER) + " " +
			    device_or_placeholder(c);
		return "The noise between passes is as large as the differences " + how + ": " + j.reason +
		    ".\nTo fix it, judge more passes (sekto-verdict -x -n " +
		    num(static_cast<uint64_t>(std::max(5, 2 * j.passes))) + ") or longer runs: sekto " +
		    settle_options(j, c, SETTLE_LONGER) + " " + device_or_placeholder(c);
	}
	return "";
}

// Ends the line that s ends in, without the blanks that its last cell left.
void trim_line(std::string &s)
{
	s.erase(s.find_last_not_of(' ') + 1);
	s += "\n";
}

std::string speed_table(const judgement &j)
{
	std::set<uint64_t> offsets;
	std::string s;
	char cell[64];

	for (const judged_row &r : j.rows)
		offsets.insert(r.offset);
	s = "relative speed by size and offset, median of " + num(static_cast<uint64_t>(j.passes)) +
	    (j.passes == 1 ? " pass" : " passes") +
	    " (offset 0 = 1.00; * slower, ? too close to the noise to tell)\n";
	snprintf(cell, sizeof cell, "%10s", "size");
	s += cell;
	for (uint64_t o : offsets) {
		snprintf(cell, sizeof cell, "%9lu ", static_cast<unsigned long>(o));
		s += cell;
	}
	trim_line(s);
	for (size_t i = 0; i < j.rows.size(); i++) {
		const judged_row &r = j.rows[i];
		if (i == 0 || j.rows[i - 1].size != r.size) {
			if (i != 0)
				trim_line(s);
			snprintf(cell, sizeof cell, "%10lu", static_cast<unsigned long>(r.size));
			s += cell;
		}
		if (r.relative < 0)
			snprintf(cell, sizeof cell, "%9s ", "-");
		else
			snprintf(cell, sizeof cell, "%9.2f%c", r.relative,
			    r.cls == ROW_SLOW ? '*' : r.cls == ROW_UNCLEAR ? '?' : ' ');
		s += cell;
	}
	trim_line(s);
	return s;
}

// What a device's start on what it lies on means for its sweep, when it is not byte 0.
std::string start_note(const judgement &j, const verdict_context &c)
{
	if (!c.have_reported || c.reported.partition_start <= 0 || c.partitions_listed)
		return "";
	uint64_t start = static_cast<uint64_t>(c.reported.partition_start);
	bool found = j.kind == VERDICT_HIDDEN || j.kind == VERDICT_MISALIGNED;
	std::string s = !c.origin.backing_file.empty()
	    ? "It is a loop device that starts " + num(start) + " bytes into " + c.origin.backing_file + "."
	    : "It starts at byte " + num(start) + (c.origin.disk.empty() ? "" : " of " + c.origin.disk) + ".";
	if (found && j.granularity == 0) {
		// beside a bound, the start against each boundary the bound allows, up to 4096 at least
		s += " The device starts at byte " + num(start) + ":";
		uint64_t top = std::max<uint64_t>(4096, 2 * j.at_least);
		for (uint64_t b = j.at_least; b <= top; b *= 2)
			s += std::string(b == j.at_least ? " " : ", ") + num(start % b) + " past a " + num(b) +
			    (b == j.at_least ? "-byte boundary" : "-byte one");
		s += ".";
	}
	if (starts_off_boundary(j, c)) {
		s += " That start is no multiple of " + num(boundary_in_force(j, c)) +
		    " bytes, and sekto's offsets cannot show such a start: a sweep of this device alone cannot tell "
		    "what it costs.";
		std::string disk = !c.origin.disk.empty() ? c.origin.disk : c.origin.backing_disk;
		s += "\nTo settle it, sweep " + std::string(!c.origin.disk.empty() ? "its disk" : "the disk it lies on") +
		    ": sekto-verdict -x -p -- " + size_options(j) + " " + (disk.empty() ? "DRIVE" : disk);
	}
	return s;
}

// The table of the disk's partitions, each judged against the boundary in force.
std::string partitions_text(const judgement &j, const verdict_context &c)
{
	static const char *const modes[] = {"this mode", "reads", "writes", "reads and write-backs"};
	std::string s = "\npartitions of " + device_or_placeholder(c);
	char line[256];

	if (!c.partitions_listed)
		return "";
	if (c.partitions.empty())
		return s + ": none\n";
	uint64_t b = c.partitions.front().boundary;
	switch (j.kind) {
	case VERDICT_INCONCLUSIVE:
		s += ", unknown while the verdict is inconclusive:\n";
		break;
	case VERDICT_NONE:
		s += ", judged against " + num(b) + " bytes, the larger of the logical sector and the physical sector "
		    "the OS reports: the drive showed no penalty in " + modes[c.mode] +
		    ", and reads can hide a penalty that writes pay:\n";
		break;
	default:
		s += j.granularity != 0 ? ", judged against the " + num(b) + "-byte boundary the disk pays at:\n"
		                        : ", judged against a boundary of at least " + num(b) + " bytes, all the sweep shows:\n";
	}
	snprintf(line, sizeof line, "%-12s %14s %14s %9s %9s %10s  %s\n", "name", "start", "size", "boundary", "past",
	    "OS offset", "judgement");
	s += line;
	for (const partition_verdict &v : c.partitions) {
		std::string boundary = v.boundary == 0 ? "-" : (v.at_least ? ">=" : "") + num(v.boundary);
		std::string past = v.boundary == 0 ? "-" : num(v.past);
		snprintf(line, sizeof line, "%-12s %14s %14s %9s %9s %10s  %s\n", v.part.name.c_str(),
		    bytes(v.part.start).c_str(), bytes(v.part.size).c_str(), boundary.c_str(), past.c_str(),
		    bytes(v.part.alignment_offset).c_str(), partition_judgement(v).c_str());
		s += line;
	}
	return s;
}

}  // namespace

std::string percent(double fraction)
{
	return std::to_string(static_cast<long>(std::lround(fraction * 100))) + "%";
}

std::string size_text(uint64_t bytes)
{
	static const char units[] = "kmgtpe";
	size_t u = 0;

	if (bytes == 0 || bytes % 1024 != 0)
		return std::to_string(bytes);
	while (bytes % 1024 == 0 && u < sizeof units - 1 && bytes >= 1024) {
		bytes /= 1024;
		u++;
	}
	return std::to_string(bytes) + units[u - 1];
}

std::string row_name(uint64_t size, uint64_t offset)
{
	return "size " + std::to_string(size) + " at offset " + std::to_string(offset);
}

const char *mode_name(transfer_mode m)
{
	static const char *const names[] = {"", "read", "write", "readwrite"};
	return names[m];
}

std::string verdict_headline(const judgement &j)
{
	switch (j.kind) {
	case VERDICT_NONE:
		return "no penalty at any offset that was tried";
	case VERDICT_HIDDEN:
		return (j.granularity != 0 ? "hidden " + num(j.granularity) + "-byte physical sectors"
		                           : "hidden physical sectors of at least " + num(j.at_least) + " bytes") +
		    " behind " + num(j.sector) + "-byte logical ones";
	case VERDICT_MISALIGNED:
		return "misaligned by " + num(j.misalignment) + " bytes from " +
		    (j.granularity != 0 ? "" : "at least ") + num(j.at_least) + "-byte physical sectors";
	case VERDICT_INCONCLUSIVE:
		return "inconclusive";
	}
	return "";
}

std::string verdict_text(const judgement &j, const verdict_context &c)
{
	std::string s = "verdict: " + verdict_headline(j) + "\n" + explanation(j, c) + "\n";

	if (!c.sekto_args.empty()) {
		s += "sweep: sekto";
		for (const std::string &a : c.sekto_args)
			s += " " + a;
		s += "\n";
	}

	if (c.have_reported) {
		std::string cmp = comparison(j, c.reported), note = start_note(j, c);
		s += reported_line(c.reported) + "\n" + (cmp.empty() ? "" : cmp + "\n") + (note.empty() ? "" : note + "\n");
	}
	std::string a = advice(j, c);
	if (!a.empty())
		s += a + "\n";
	return s + partitions_text(j, c) + "\n" + speed_table(j);
}
