// Judging a disk's partitions against the boundary its sweep shows the disk
// pays at: each statement must hold for every boundary the sweep allows, so
// a start on a lower bound is not called aligned.
#include "verdict.h"

std::vector<partition_verdict> judge_partitions(const judgement &j, const std::vector<partition_info> &parts,
    const reported_geometry &disk)
{
	std::vector<partition_verdict> out;

	for (const partition_info &p : parts) {
		partition_verdict v{p, 0, false, 0, -1, ""};
		if (j.kind == VERDICT_INCONCLUSIVE) {
			v.reason = j.reason;
		} else if (p.start < 0) {
			v.reason = "the system reports no start";
		} else {
			if (j.kind == VERDICT_NONE) {
				// no penalty showed: the boundary in force is the larger of the sectors the disk has and reports
				v.boundary = std::max<uint64_t>(j.sector, disk.physical > 0 ? static_cast<uint64_t>(disk.physical) : 0);
			} else {
				v.boundary = j.granularity != 0 ? j.granularity : j.at_least;
				v.at_least = j.granularity == 0;
			}
			// the disk itself may start off the boundary
			v.past = (j.misalignment + static_cast<uint64_t>(p.start)) % v.boundary;
			v.aligned = v.past != 0 ? 0 : v.at_least ? -1 : 1;
		}
		out.push_back(v);
	}
	return out;
}

std::string partition_judgement(const partition_verdict &v)
{
	std::string q = std::to_string(v.boundary);

	if (v.boundary == 0)
		return "unknown: " + v.reason;
	if (v.past == 0)
		return v.at_least ? "aligned to at least " + q : "aligned";
	if (v.at_least)
		return std::to_string(v.past) + " bytes past a boundary of at least " + q;
	return "misaligned by " + std::to_string(v.past) + " bytes";
}
