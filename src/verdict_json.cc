// The verdict as JSON, for scripts.
#include <nlohmann/json.hpp>

#include "verdict.h"

namespace {

using json = nlohmann::ordered_json;

json bytes_or_null(int64_t v)
{
	return v < 0 ? json(nullptr) : json(v);
}

json row_json(const judged_row &r)
{
	static const char *const classes[] = {"fast", "slow", "unclear"};
	json o;

	o["size"] = r.size;
	o["offset"] = r.offset;
	o["tps"] = r.tps;
	o["median"] = r.median;
	o["relative"] = r.relative < 0 ? json(nullptr) : json(r.relative);
	o["class"] = classes[r.cls];
	return o;
}

}  // namespace

std::string verdict_json(const judgement &j, const verdict_context &c)
{
	static const char *const kinds[] = {"none", "hidden", "misaligned", "inconclusive"};
	json o;

	// The version of the keys: it changes only when a key changes meaning or goes away.
	o["format"] = 1;
	o["verdict"] = kinds[j.kind];
	o["summary"] = verdict_headline(j);
	o["sector"] = j.sector;
	o["granularity"] = j.kind == VERDICT_INCONCLUSIVE || j.granularity == 0 ? json(nullptr)
	                                                                        : json(j.granularity);
	o["granularity_at_least"] = j.at_least;
	o["misalignment"] = j.misalignment;
	o["penalty"] = j.penalty;
	o["penalty_per_sector"] = j.penalty_per_sector < 0 ? json(nullptr) : json(j.penalty_per_sector);
	o["misfit"] = j.misfit < 0 ? json(nullptr) : json(j.misfit);
	o["mode"] = c.mode == MODE_UNKNOWN ? json(nullptr) : json(mode_name(c.mode));
	o["passes"] = j.passes;
	o["noise"] = j.noise < 0 ? json(nullptr) : json(j.noise);
	o["threshold"] = j.threshold;
	o["reason"] = j.kind == VERDICT_INCONCLUSIVE ? json(j.reason) : json(nullptr);
	o["device"] = c.device.empty() ? json(nullptr) : json(c.device);
	o["sweep"] = {{"minsize", j.shape.minsize}, {"maxsize", j.shape.maxsize}, {"total", j.shape.total}};
	if (!c.sekto_args.empty())
		o["sweep"]["options"] = std::vector<std::string>(c.sekto_args.begin(), c.sekto_args.end() - 1);
	json rows = json::array();
	for (const judged_row &r : j.rows)
		rows.push_back(row_json(r));
	o["rows"] = rows;
	if (c.have_reported) {
		const reported_geometry &g = c.reported;
		o["reported"] = {{"logical", bytes_or_null(g.logical)}, {"physical", bytes_or_null(g.physical)},
		    {"min_io", bytes_or_null(g.min_io)}, {"opt_io", bytes_or_null(g.opt_io)},
		    {"alignment_offset", bytes_or_null(g.alignment_offset)},
		    {"partition_start", bytes_or_null(g.partition_start)}};
	}
	if (c.partitions_listed) {
		json parts = json::array();
		for (const partition_verdict &v : c.partitions) {
			bool known = v.boundary != 0;
			parts.push_back({{"name", v.part.name}, {"start", bytes_or_null(v.part.start)},
			    {"size", bytes_or_null(v.part.size)}, {"boundary", known ? json(v.boundary) : json(nullptr)},
			    {"boundary_at_least", v.at_least}, {"past", known ? json(v.past) : json(nullptr)},
			    {"aligned", v.aligned < 0 ? json(nullptr) : json(v.aligned == 1)},
			    {"reported_alignment_offset", bytes_or_null(v.part.alignment_offset)}});
		}
		o["partitions"] = parts;
	}
	// A device name need not be UTF-8; its bad bytes are replaced rather than thrown on.
	return o.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
