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
			    num(p) + " bytes: the drive hides its physical sector size.";
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

std::string advice(const judgement &j)
{
	std::string align = j.at_least <= 1048576 ? " (the usual 1 MiB alignment does)" : "";

	switch (j.kind) {
	case VERDICT_NONE:
		return "advice: nothing needs aligning beyond the " + num(j.sector) +
		    "-byte sector; the usual 1 MiB partition alignment is safe.";
	case VERDICT_HIDDEN:
		return "advice: align partitions to " + num(j.at_least) + " bytes" + align +
		    ", and use a file system block size of at least " + num(j.at_least) + " bytes.";
	case VERDICT_MISALIGNED:
		return "advice: start the partition on a " + num(j.at_least) + "-byte boundary" + align +
		    ", and use a file system block size of at least " + num(j.at_least) + " bytes.";
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

std::string device_or_placeholder(const verdict_context &c)
{
	return c.device.empty() ? "DEVICE" : c.device;
}

std::string explanation(const judgement &j, const verdict_context &c)
{
	std::string how = conditions(j, c.mode);

	switch (j.kind) {
	case VERDICT_NONE:
		return "Every offset that was tried runs as fast as offset 0 of its size " + how + ", so the " +
		    num(j.sector) + "-byte logical sector is the granularity as far as transfers of up to " +
		    num(j.shape.maxsize) + " bytes show; a larger -h tries larger ones.";
	case VERDICT_HIDDEN:
		if (j.granularity != 0)
			return "Transfers that start on a " + num(j.granularity) +
			    "-byte boundary run at full speed; those that start off it run up to " +
			    percent(j.penalty) + " slower " + how + ".";
		return "Every offset that was tried below " + num(j.at_least) + " bytes runs up to " +
		    percent(j.penalty) + " slower than offset 0 " + how +
		    ", so the sweep cannot pin the boundary down: it is at least " + num(j.at_least) +
		    " bytes.\nTo settle it: sekto " + settle_options(j, c, SETTLE_BOUND) + " " + device_or_placeholder(c);
	case VERDICT_MISALIGNED:
		return "Transfers at offset " + num(j.fast_offset) + " run at full speed and those at offset 0 run up to " +
		    percent(j.penalty) + " slower " + how + ": the device starts " + num(j.misalignment) +
		    " bytes past a " + num(j.at_least) + "-byte boundary" +
		    (j.granularity == 0 ? " (the boundary is at least that large)." : ".");
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
		std::string cmp = comparison(j, c.reported);
		s += reported_line(c.reported) + "\n" + (cmp.empty() ? "" : cmp + "\n");
	}
	std::string a = advice(j);
	if (!a.empty())
		s += a + "\n";
	return s + "\n" + speed_table(j);
}
