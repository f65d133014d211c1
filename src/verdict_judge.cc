// Judging a sweep. Each row's median speed is compared with the fastest row of
// its size group, against the noise between passes; then every power-of-two
// physical sector size and start position is tried as an explanation of which
// rows are slow, and the smallest that explains them all is the answer.
#include <algorithm>
#include <cmath>

#include "verdict.h"

namespace {

// Differences below this, or below 2.5 times the noise of a difference, are taken for noise.
const double same_band = 0.07;
// The smallest difference that counts as a penalty, unless 4 times the noise of a difference is more.
const double least_penalty = 0.15;
// With one pass there is no measure of the noise; this much is asked instead.
const double one_pass_threshold = 0.20;
// Noise that would hide even this penalty leaves nothing to judge.
const double hopeless_threshold = 0.50;

// The expected median absolute deviation of n samples of a normal
// distribution, in standard deviations; small samples fall short of 0.6745.
double deviation_factor(size_t n)
{
	static const double e[] = {1, 1, 0.5642, 0.4535, 0.4957, 0.5536, 0.5670, 0.5934, 0.5990, 0.6124, 0.6156, 0.6243};
	return n < 12 ? e[n] : 0.6745 * (static_cast<double>(n) - 0.8) / static_cast<double>(n);
}

// The pooled relative spread of the passes: the median over the rows of each
// row's median absolute deviation as a fraction of its median, scaled to a
// standard deviation. Like the median speed, it is not moved by a minority of
// passes that a stall of the machine slowed: those say nothing of the device,
// and a range would have let one of them widen every band.
double noise_of(const std::vector<merged_row> &rows)
{
	std::vector<double> spreads;

	for (const merged_row &r : rows) {
		if (r.tps.size() < 2)
			continue;
		std::vector<double> v(r.tps.begin(), r.tps.end());
		double m = median_of(v);
		if (m <= 0)
			continue;
		for (double &x : v)
			x = std::fabs(x - m);
		spreads.push_back(median_of(v) / m / deviation_factor(v.size()));
	}
	return spreads.empty() ? -1 : median_of(spreads);
}

enum prediction { PREDICT_FAST, PREDICT_SLOW, PREDICT_ANY };

// The share of a row's transfers that touch more physical sectors of size p
// than their size needs, when the device starts a bytes past a boundary.
double slow_share(uint64_t size, uint64_t offset, uint64_t count, uint64_t p, uint64_t a)
{
	uint64_t step = 4 * size;
	// positions repeat modulo p after p / step transfers; a few hundred tell the share well enough
	uint64_t n = step >= p ? 1 : std::min<uint64_t>({count, p / step, 256});
	uint64_t slow = 0;

	if (n == 0)
		n = 1;
	for (uint64_t i = 0; i < n; i++) {
		uint64_t pos = (a + offset + i * step) % p;
		bool fast = size >= p ? pos == 0 : pos + size <= p;
		slow += fast ? 0 : 1;
	}
	return static_cast<double>(slow) / static_cast<double>(n);
}

// The rows of one size group, as indices into the judged rows.
std::vector<std::vector<size_t>> groups_of(const std::vector<judged_row> &rows)
{
	std::vector<std::vector<size_t>> groups;

	for (size_t i = 0; i < rows.size(); i++) {
		if (groups.empty() || rows[groups.back().front()].size != rows[i].size)
			groups.emplace_back();
		groups.back().push_back(i);
	}
	return groups;
}

// What a physical sector size p and start a predict for each row: at full
// speed when it fares as well as the best of its group, slow when every one of
// its transfers crosses a boundary that the best's transfers do not.
std::vector<prediction> predict(const std::vector<judged_row> &rows,
    const std::vector<std::vector<size_t>> &groups, uint64_t total, uint64_t p, uint64_t a)
{
	std::vector<prediction> out(rows.size(), PREDICT_ANY);

	for (const std::vector<size_t> &g : groups) {
		std::vector<double> share;
		share.reserve(g.size());
		for (size_t i : g)
			share.push_back(slow_share(rows[i].size, rows[i].offset, total / rows[i].size, p, a));
		double best = *std::min_element(share.begin(), share.end());
		for (size_t k = 0; k < g.size(); k++) {
			if (share[k] == best)
				out[g[k]] = PREDICT_FAST;
			else if (best == 0 && share[k] == 1)
				out[g[k]] = PREDICT_SLOW;
		}
	}
	return out;
}

bool explains(const std::vector<row_class> &cls, const std::vector<prediction> &pred)
{
	for (size_t i = 0; i < cls.size(); i++) {
		if (pred[i] == PREDICT_FAST && cls[i] == ROW_SLOW)
			return false;
		if (pred[i] == PREDICT_SLOW && cls[i] == ROW_FAST)
			return false;
	}
	return true;
}

// The smallest physical sector size and start that explain the rows' classes.
struct explanation {
	uint64_t p;      // 0 when none does
	uint64_t a;
	bool ambiguous;  // a larger size explains them too
	std::vector<prediction> pred;
};

explanation explain(const std::vector<judged_row> &rows, const std::vector<row_class> &cls,
    const std::vector<std::vector<size_t>> &groups, const sweep_shape &shape)
{
	explanation e{0, 0, false, {}};
	// Physical sizes far beyond the largest transfer leave every row alike, so the search stops at 4 x maxsize.
	uint64_t limit = std::min<uint64_t>(4 * static_cast<uint64_t>(shape.maxsize), 1u << 20);

	for (uint64_t p = 2 * static_cast<uint64_t>(shape.blocksize); p <= limit; p *= 2) {
		// Every start is tried up to 64 sectors; beyond, 64 starts bound the work of a hand-made table.
		uint64_t stride = std::max<uint64_t>(shape.blocksize, p / 64);
		for (uint64_t a = 0; a < p; a += stride) {
			std::vector<prediction> pred = predict(rows, groups, shape.total, p, a);
			if (!explains(cls, pred))
				continue;
			if (e.p != 0) {
				e.ambiguous = true;
				return e;
			}
			e = {p, a, false, pred};
			break;
		}
	}
	return e;
}

// Whether the rows' classes are explained by some boundary once row i is read as c.
bool explained_as(const std::vector<judged_row> &rows, std::vector<row_class> cls, size_t i, row_class c,
    const std::vector<std::vector<size_t>> &groups, const sweep_shape &shape)
{
	cls[i] = c;
	return explain(rows, cls, groups, shape).p != 0;
}

// The median speed of the fastest row of a group.
double group_best(const std::vector<judged_row> &rows, const std::vector<size_t> &g)
{
	double best = 0;

	for (size_t i : g)
		best = std::max(best, rows[i].median);
	return best;
}

// Classifies every row against the fastest row of its group and the threshold.
void classify(judgement &j, const std::vector<std::vector<size_t>> &groups)
{
	for (const std::vector<size_t> &g : groups) {
		double best = group_best(j.rows, g);
		double base = j.rows[g.front()].median;
		for (size_t i : g) {
			judged_row &r = j.rows[i];
			if (base > 0) {
				r.relative = r.median / base;
				r.relative_min = static_cast<double>(*std::min_element(r.tps.begin(), r.tps.end())) / base;
				r.relative_max = static_cast<double>(*std::max_element(r.tps.begin(), r.tps.end())) / base;
			}
			if (best <= 0) {
				r.cls = ROW_UNCLEAR;
				continue;
			}
			double d = r.median / best - 1;
			r.cls = d > -j.same ? ROW_FAST : d <= -j.threshold ? ROW_SLOW : ROW_UNCLEAR;
		}
	}
}

void inconclusive(judgement &j, const std::string &why)
{
	j.kind = VERDICT_INCONCLUSIVE;
	j.reason = why;
	j.granularity = 0;
	j.at_least = j.sector;
	j.misalignment = 0;
	j.fast_offset = 0;
	j.penalty = 0;
}

}  // namespace

double median_of(std::vector<double> values)
{
	size_t n = values.size();

	std::sort(values.begin(), values.end());
	return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

judgement judge(const std::vector<merged_row> &rows, const sweep_shape &shape, int passes)
{
	judgement j{};

	j.kind = VERDICT_NONE;
	j.sector = shape.blocksize;
	j.granularity = shape.blocksize;
	j.at_least = shape.blocksize;
	j.passes = passes;
	j.shape = shape;
	j.noise = noise_of(rows);
	j.same = same_band;
	if (j.noise < 0) {
		j.threshold = one_pass_threshold;
	} else {
		// the spread of the difference of two medians of passes samples each
		double spread = j.noise * 1.2533 * std::sqrt(2.0 / passes);
		j.same = std::max(same_band, 2.5 * spread);
		j.threshold = std::max(least_penalty, 4 * spread);
	}
	for (const merged_row &m : rows) {
		std::vector<double> v(m.tps.begin(), m.tps.end());
		j.rows.push_back({m.size, m.offset, m.tps, median_of(v), -1, -1, -1, ROW_FAST});
	}
	std::vector<std::vector<size_t>> groups = groups_of(j.rows);
	classify(j, groups);

	bool compared = false;
	for (const std::vector<size_t> &g : groups)
		compared = compared || g.size() > 1;
	if (!compared) {
		inconclusive(j, "the sweep has no offsets to compare: every size has only its offset-0 row");
		return j;
	}
	if (j.threshold >= hopeless_threshold) {
		inconclusive(j, "the passes differ by about " + percent(j.noise) +
		    ", which would hide any penalty");
		return j;
	}

	// Rows too close to the noise constrain nothing; but when reading one of
	// them the other way would give another answer, the sweep cannot tell.
	std::vector<row_class> cls;
	bool any_slow = false;
	for (const judged_row &r : j.rows) {
		cls.push_back(r.cls);
		any_slow = any_slow || r.cls == ROW_SLOW;
	}
	const std::string unsure = " differs from the fastest of its size by too little to tell beside the noise";
	// Without a slow row the logical sector itself explains the rows: every one at full speed.
	explanation e = any_slow ? explain(j.rows, cls, groups, shape)
	                         : explanation{shape.blocksize, 0, false, std::vector<prediction>(cls.size(), PREDICT_FAST)};
	if (e.p == 0) {
		inconclusive(j, "the slow rows follow no power-of-two boundary");
		return j;
	}
	for (size_t i = 0; i < cls.size(); i++) {
		if (cls[i] != ROW_UNCLEAR || e.pred[i] == PREDICT_ANY)
			continue;
		row_class other = e.pred[i] == PREDICT_FAST ? ROW_SLOW : ROW_FAST;
		if (explained_as(j.rows, cls, i, other, groups, shape)) {
			inconclusive(j, "the row of " + row_name(j.rows[i].size, j.rows[i].offset) + unsure);
			return j;
		}
	}
	if (!any_slow)
		return j;

	// The penalty of the size group that shows it most, each group's the median of its slow rows.
	j.penalty = 0;
	for (const std::vector<size_t> &g : groups) {
		std::vector<double> losses;
		double best = group_best(j.rows, g);
		for (size_t i : g)
			if (j.rows[i].cls == ROW_SLOW)
				losses.push_back(1 - j.rows[i].median / best);
		if (!losses.empty())
			j.penalty = std::max(j.penalty, median_of(losses));
	}
	j.granularity = e.ambiguous ? 0 : e.p;
	j.at_least = e.p;
	j.misalignment = e.a;
	j.fast_offset = e.a == 0 ? 0 : e.p - e.a;
	j.kind = e.a == 0 ? VERDICT_HIDDEN : VERDICT_MISALIGNED;
	return j;
}
