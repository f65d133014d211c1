// Judging a sweep. Every power-of-two physical sector size p and start a is a
// hypothesis that predicts how many physical sectors each row's transfers
// touch beyond what their size needs. A row's time per transfer is then its
// group's full-speed time plus a per-sector cost for each extra sector (and a
// cost for each sector covered only in part, which a write reads first),
// fitted to the measured medians. Each hypothesis is scored by how far its
// predictions lie from the medians in units of the noise; the smallest p of
// those that fit as well as the best is the answer.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "verdict.h"

namespace {

// A median is never taken as surer than this, as a fraction: the noise
// between passes does not show what moves every pass alike (a drive's cache,
// the place of a row in its pass).
const double least_error = 0.02;
// With one pass there is no measure of the noise; this much is assumed.
const double one_pass_error = 0.05;
// How much better than "no penalty" the best hypothesis must fit, in squared
// noise units, for a penalty to count: more than chance finds in noise among
// the hundreds of hypotheses tried.
const double penalty_evidence = 25;
// Hypotheses that fit within this of the best, in squared noise units, fit as well.
const double fits_as_well = 9;
// A slowdown smaller than this, in the row hit most, is of no consequence.
const double least_consequence = 0.15;
// A row further than this from the chosen hypothesis, in noise units, is explained by none.
const double worst_fit = 4;
// A median this unsure leaves a penalty of a half within three noise units of a difference.
const double hopeless_error = 0.5 / 3 / std::sqrt(2.0);
// Transfers sampled per row; positions repeat modulo p after p / step transfers.
const uint64_t most_samples = 1024;

// The median of the median absolute deviation of n samples of a normal
// distribution, in standard deviations (by Monte Carlo): the noise pools the
// rows by their median, and for few samples the median of that deviation lies
// well below its mean (0.359 against 0.452 for 3).
double deviation_factor(size_t n)
{
	static const double e[] = {1, 1, 0.4776, 0.3590, 0.4529, 0.5026, 0.5347, 0.5588, 0.5726, 0.5862, 0.5940, 0.6038};
	return n < 12 ? e[n] : 0.6745 - 0.78 / static_cast<double>(n);
}

// The standard deviation of the median of n samples of a normal
// distribution, in standard deviations (by Monte Carlo; 1.2533 / sqrt(n) for many).
double median_error_factor(size_t n)
{
	static const double e[] = {1, 1, 0.7075, 0.6683, 0.5471, 0.5368, 0.4629, 0.4589, 0.4115, 0.4088, 0.3717, 0.3707};
	return n < 12 ? e[n] : 1.2533 / std::sqrt(static_cast<double>(n));
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

// The physical sectors of size p that a row's transfers touch on average, and
// of those the ones they cover only in part, when the device starts a bytes
// past a boundary.
struct touch {
	double sectors;
	double partial;
};

touch touched(uint64_t size, uint64_t offset, uint64_t count, uint64_t p, uint64_t a)
{
	uint64_t step = 4 * size;
	uint64_t n = step % p == 0 ? 1 : std::min<uint64_t>({count, p / std::gcd(step, p), most_samples});
	touch t{0, 0};

	n = std::max<uint64_t>(n, 1);
	for (uint64_t i = 0; i < n; i++) {
		uint64_t pos = (a + offset + (i * step) % p) % p;
		uint64_t end = pos + size;
		uint64_t last = (end - 1) / p;
		t.sectors += static_cast<double>(last + 1);
		if (last == 0)
			t.partial += pos != 0 || end != p ? 1 : 0;
		else
			t.partial += (pos != 0 ? 1 : 0) + (end % p != 0 ? 1 : 0);
	}
	t.sectors /= static_cast<double>(n);
	t.partial /= static_cast<double>(n);
	return t;
}

// What the fit works on: the rows' median times per transfer, their errors,
// and which rows are compared.
struct measured {
	std::vector<double> time;
	std::vector<double> error;  // the absolute error of a median time
	std::vector<bool> compared;
	std::vector<std::vector<size_t>> groups;
};

// The weighted sums, centred on each group's mean, of the times y and the extra
// sectors touched (x1) and covered in part (x2) that a hypothesis predicts.
struct sums {
	double yy = 0, xy1 = 0, xy2 = 0, x11 = 0, x12 = 0, x22 = 0;
};

// A hypothesis fitted to the rows.
struct fit {
	uint64_t p;        // the logical sector itself for "no penalty"
	uint64_t a;
	std::vector<double> sectors;    // each row's extra sectors touched, against the least of its group
	std::vector<double> partials;   // likewise the extra sectors covered in part
	sums s;
	double score;      // the sum of the squared misfits of the compared rows
	double sector_cost;   // C: microseconds per extra sector touched
	double partial_cost;  // R: microseconds per extra sector covered in part
	std::vector<double> extra;      // each row's predicted time beyond its group's full speed
	std::vector<double> predicted;  // each row's predicted time per transfer; < 0 when not compared
	std::vector<double> base;       // each group's full-speed time per transfer
};

// The weighted residual sum of squares at costs c and r.
double quadratic(const sums &s, double c, double r)
{
	return s.yy - 2 * c * s.xy1 - 2 * r * s.xy2 + c * c * s.x11 + 2 * c * r * s.x12 + r * r * s.x22;
}

// The least-squares costs C, R >= 0, from every set of the constraints that can be active.
void solve(const sums &s, double &c, double &r)
{
	double best = quadratic(s, 0, 0);
	c = r = 0;
	auto consider = [&](double tc, double tr) {
		if (tc < 0 || tr < 0 || !std::isfinite(tc) || !std::isfinite(tr))
			return;
		double q = quadratic(s, tc, tr);
		if (q < best) {
			best = q;
			c = tc;
			r = tr;
		}
	};
	if (s.x11 > 0)
		consider(s.xy1 / s.x11, 0);
	if (s.x22 > 0)
		consider(0, s.xy2 / s.x22);
	double det = s.x11 * s.x22 - s.x12 * s.x12;
	if (det > 1e-9 * s.x11 * s.x22)
		consider((s.x22 * s.xy1 - s.x12 * s.xy2) / det, (s.x11 * s.xy2 - s.x12 * s.xy1) / det);
}

double weight(const measured &m, size_t i)
{
	return 1 / (m.error[i] * m.error[i]);
}

// Sets the predictions and the score of f at costs c and r, each group's full speed fitted to them.
void evaluate(fit &f, const measured &m, double c, double r)
{
	f.sector_cost = c;
	f.partial_cost = r;
	f.score = 0;
	for (size_t k = 0; k < m.groups.size(); k++) {
		double w = 0, y = 0;
		for (size_t i : m.groups[k]) {
			f.extra[i] = c * f.sectors[i] + r * f.partials[i];
			if (!m.compared[i])
				continue;
			w += weight(m, i);
			y += weight(m, i) * (m.time[i] - f.extra[i]);
		}
		f.base[k] = w > 0 ? y / w : 0;
		for (size_t i : m.groups[k]) {
			if (!m.compared[i])
				continue;
			f.predicted[i] = f.base[k] + f.extra[i];
			double z = (m.time[i] - f.predicted[i]) / m.error[i];
			f.score += z * z;
		}
	}
}

fit fit_hypothesis(const std::vector<judged_row> &rows, const measured &m, uint64_t total, uint64_t p, uint64_t a)
{
	size_t n = rows.size();
	fit f{p, a, std::vector<double>(n, 0), std::vector<double>(n, 0), {}, 0, 0, 0, std::vector<double>(n, 0),
	    std::vector<double>(n, -1), std::vector<double>(m.groups.size(), 0)};

	for (const std::vector<size_t> &g : m.groups) {
		double least_n = std::numeric_limits<double>::max(), least_q = least_n;
		for (size_t i : g) {
			touch t = touched(rows[i].size, rows[i].offset, total / rows[i].size, p, a);
			f.sectors[i] = t.sectors;
			f.partials[i] = t.partial;
			least_n = std::min(least_n, t.sectors);
			least_q = std::min(least_q, t.partial);
		}
		double w = 0, y = 0, x1 = 0, x2 = 0;
		for (size_t i : g) {
			f.sectors[i] -= least_n;
			f.partials[i] -= least_q;
			if (!m.compared[i])
				continue;
			w += weight(m, i);
			y += weight(m, i) * m.time[i];
			x1 += weight(m, i) * f.sectors[i];
			x2 += weight(m, i) * f.partials[i];
		}
		for (size_t i : g) {
			if (!m.compared[i])
				continue;
			double wi = weight(m, i);
			double cy = m.time[i] - y / w, c1 = f.sectors[i] - x1 / w, c2 = f.partials[i] - x2 / w;
			f.s.yy += wi * cy * cy;
			f.s.xy1 += wi * cy * c1;
			f.s.xy2 += wi * cy * c2;
			f.s.x11 += wi * c1 * c1;
			f.s.x12 += wi * c1 * c2;
			f.s.x22 += wi * c2 * c2;
		}
	}
	double c, r;
	solve(f.s, c, r);
	evaluate(f, m, c, r);
	return f;
}

// The largest slowdown that f predicts for any row at the largest cost per
// sector touched, or per sector covered in part, that keeps its score within
// limit; the row in row.
double largest_slowdown(fit f, const measured &m, double limit, size_t &row)
{
	double most = 0;

	row = 0;
	for (int which = 0; which < 2; which++) {
		double xx = which == 0 ? f.s.x11 : f.s.x22, xy = which == 0 ? f.s.xy1 : f.s.xy2;
		if (xx <= 0)
			continue;
		// the score is s.yy - 2 x xy + x^2 xx along this cost alone
		double at = std::max(0.0, xy / xx);
		double left = limit - quadratic(f.s, which == 0 ? at : 0, which == 0 ? 0 : at);
		if (left < 0)
			continue;
		double cost = at + std::sqrt(left / xx);
		evaluate(f, m, which == 0 ? cost : 0, which == 0 ? 0 : cost);
		for (size_t k = 0; k < m.groups.size(); k++)
			for (size_t i : m.groups[k])
				if (m.compared[i] && f.base[k] + f.extra[i] > 0 && f.extra[i] / (f.base[k] + f.extra[i]) > most) {
					most = f.extra[i] / (f.base[k] + f.extra[i]);
					row = i;
				}
	}
	return most;
}

// The compared rows less the parameters fitted to them: a full-speed time per
// group and the costs that the fit uses; at least 1.
double degrees_of_freedom(const measured &m, const fit &f)
{
	double n = (f.sector_cost > 0 ? -1 : 0) + (f.partial_cost > 0 ? -1 : 0);

	for (const std::vector<size_t> &g : m.groups) {
		bool any = false;
		for (size_t i : g) {
			n += m.compared[i] ? 1 : 0;
			any = any || m.compared[i];
		}
		n -= any ? 1 : 0;
	}
	return std::max(n, 1.0);
}

// The row that a fit explains worst, and by how many noise units.
double worst_row(const fit &f, const measured &m, size_t &row)
{
	double worst = 0;

	row = 0;
	for (size_t i = 0; i < f.predicted.size(); i++) {
		if (f.predicted[i] < 0)
			continue;
		double z = std::fabs(m.time[i] - f.predicted[i]) / m.error[i];
		if (z > worst) {
			worst = z;
			row = i;
		}
	}
	return worst;
}

// The row whose predictions under two fits lie furthest apart, and by how many noise units.
double deciding_row(const fit &x, const fit &y, const measured &m, size_t &row)
{
	double most = -1;

	row = 0;
	for (size_t i = 0; i < x.predicted.size(); i++) {
		if (x.predicted[i] < 0 || y.predicted[i] < 0)
			continue;
		double d = std::fabs(x.predicted[i] - y.predicted[i]) / m.error[i];
		if (d > most) {
			most = d;
			row = i;
		}
	}
	return most;
}

std::string hypothesis_name(const fit &f)
{
	std::string s = std::to_string(f.p) + "-byte physical sectors";
	if (f.a != 0)
		s += " with the start " + std::to_string(f.a) + " bytes past a boundary";
	return s;
}

// The median speed of the fastest row of a group.
double group_best(const std::vector<judged_row> &rows, const std::vector<size_t> &g)
{
	double best = 0;

	for (size_t i : g)
		best = std::max(best, rows[i].median);
	return best;
}

// Sets each row's speed relative to offset 0 and its class against the fastest row of its group.
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

void inconclusive(judgement &j, const std::string &why, bool more_data_helps)
{
	j.kind = VERDICT_INCONCLUSIVE;
	j.reason = why;
	j.more_data_helps = more_data_helps;
	j.granularity = 0;
	j.at_least = j.sector;
	j.misalignment = 0;
	j.fast_offset = 0;
	j.penalty = 0;
	j.penalty_per_sector = -1;
}

// Marks the rows that f has pay the penalty, and returns their measured
// slowdown in the group where it is largest.
double measured_penalty(judgement &j, const fit &f, const std::vector<std::vector<size_t>> &groups)
{
	double penalty = 0;

	for (const std::vector<size_t> &g : groups) {
		double most = 0, best = group_best(j.rows, g);
		for (size_t i : g)
			most = std::max(most, f.extra[i]);
		std::vector<double> losses;
		for (size_t i : g) {
			j.rows[i].pays = most > 0 && f.extra[i] >= most / 2;
			if (j.rows[i].pays && best > 0)
				losses.push_back(1 - j.rows[i].median / best);
		}
		if (!losses.empty())
			penalty = std::max(penalty, median_of(losses));
	}
	return std::max(penalty, 0.0);
}

// The fitted cost of one more sector as a fraction of a full-speed transfer, where it weighs most.
double cost_per_sector(const fit &f, const std::vector<std::vector<size_t>> &groups)
{
	double most = 0;

	for (size_t k = 0; k < groups.size(); k++)
		for (size_t i : groups[k])
			if (f.base[k] > 0 && f.extra[i] > 0 && f.sectors[i] >= 0.5)
				most = std::max(most, f.extra[i] / f.sectors[i] / f.base[k]);
	return most;
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
	j.misfit = -1;
	j.penalty_per_sector = 0;
	double error = j.noise < 0 ? one_pass_error : j.noise * median_error_factor(static_cast<size_t>(passes));
	error = std::max(error, least_error);
	j.same = 1.5 * std::sqrt(2.0) * error;
	j.threshold = 3 * std::sqrt(2.0) * error;
	for (const merged_row &m : rows) {
		std::vector<double> v(m.tps.begin(), m.tps.end());
		j.rows.push_back({m.size, m.offset, m.tps, median_of(v), -1, -1, -1, ROW_FAST, false});
	}
	std::vector<std::vector<size_t>> groups = groups_of(j.rows);
	classify(j, groups);

	measured m;
	m.groups = groups;
	bool compared = false;
	for (const judged_row &r : j.rows) {
		m.time.push_back(r.median > 0 ? 1e6 / r.median : 0);
		m.error.push_back(error * m.time.back());
		m.compared.push_back(false);
	}
	for (const std::vector<size_t> &g : groups) {
		size_t timed = 0;
		for (size_t i : g)
			timed += j.rows[i].median > 0 ? 1 : 0;
		for (size_t i : g)
			m.compared[i] = timed > 1 && j.rows[i].median > 0;
		compared = compared || timed > 1;
	}
	if (!compared) {
		inconclusive(j, "the sweep has no offsets to compare: every size has only its offset-0 row", false);
		return j;
	}
	if (error >= hopeless_error) {
		inconclusive(j, "the passes differ by about " + percent(j.noise) + ", which would hide any penalty", true);
		return j;
	}

	// Physical sizes far beyond the largest transfer leave every row alike, so the search stops at 4 x maxsize.
	uint64_t limit = std::min<uint64_t>(4 * static_cast<uint64_t>(shape.maxsize), 1u << 20);
	fit none = fit_hypothesis(j.rows, m, shape.total, shape.blocksize, 0);
	std::vector<fit> fits;
	for (uint64_t p = 2 * static_cast<uint64_t>(shape.blocksize); p <= limit; p *= 2) {
		// Every start is tried up to 64 sectors; beyond, 64 starts bound the work of a hand-made table.
		uint64_t stride = std::max<uint64_t>(shape.blocksize, p / 64);
		for (uint64_t a = 0; a < p; a += stride)
			fits.push_back(fit_hypothesis(j.rows, m, shape.total, p, a));
	}
	const fit *best = &none;
	for (const fit &f : fits)
		if (f.score < best->score)
			best = &f;
	// A noise estimate from a few passes can come out low. Where the best
	// hypothesis leaves more scatter than the noise accounts for, that scatter
	// is the unit in which penalties and rivals are weighed, so that a low
	// estimate cannot make a penalty by itself.
	double scale = std::max(1.0, best->score / degrees_of_freedom(m, *best));
	if (best != &none && none.score - best->score < penalty_evidence * scale)
		best = &none;

	// a row is explained by none when it lies far out beside the scatter that the best leaves in all
	size_t row;
	j.misfit = worst_row(*best, m, row);
	if (j.misfit > worst_fit * std::sqrt(scale)) {
		inconclusive(j, "no power-of-two boundary explains the row of " + row_name(j.rows[row].size, j.rows[row].offset) +
		    ": it lies " + std::to_string(static_cast<int>(j.misfit)) + " times the noise from the best explanation",
		    true);
		return j;
	}
	if (best == &none) {
		// No penalty is the answer only where no penalty of consequence fits
		// the passes as well: noise that leaves one open must not read as an all-clear.
		double within = none.score + fits_as_well * scale;
		for (const fit &f : fits)
			within = std::min(within, f.score + fits_as_well * scale);
		for (const fit &f : fits) {
			if (f.score > within)
				continue;
			double slow = largest_slowdown(f, m, within, row);
			if (slow >= least_consequence) {
				inconclusive(j, "the passes leave open a penalty of up to " + percent(slow) + " on the row of " +
				    row_name(j.rows[row].size, j.rows[row].offset) + ", as " + hypothesis_name(f) + " would give",
				    true);
				return j;
			}
		}
		return j;
	}

	// The hypotheses that fit as well as the best; the smallest physical size among them is the answer.
	const fit *least = best;
	for (const fit &f : fits)
		if (f.score <= best->score + fits_as_well * scale && f.p < least->p)
			least = &f;
	for (const fit &f : fits)
		if (f.p == least->p && f.score < least->score)
			least = &f;
	bool bound = false;
	for (const fit &f : fits) {
		if (f.score > best->score + fits_as_well * scale || &f == least)
			continue;
		if (f.a % least->p != least->a) {
			double apart = deciding_row(*least, f, m, row);
			const judged_row &r = j.rows[row];
			if (apart >= 1)
				inconclusive(j, "the row of " + row_name(r.size, r.offset) + " differs from the fastest of its size "
				    "by too little to tell " + hypothesis_name(*least) + " from " + hypothesis_name(f) +
				    " beside the noise", true);
			else
				inconclusive(j, "no row of the sweep tells " + hypothesis_name(*least) + " from " +
				    hypothesis_name(f), false);
			return j;
		}
		bound = bound || f.p > least->p;
	}

	j.misfit = worst_row(*least, m, row);
	j.penalty = measured_penalty(j, *least, groups);
	j.penalty_per_sector = cost_per_sector(*least, groups);
	j.granularity = bound ? 0 : least->p;
	j.at_least = least->p;
	j.misalignment = least->a;
	j.fast_offset = least->a == 0 ? 0 : least->p - least->a;
	j.kind = least->a == 0 ? VERDICT_HIDDEN : VERDICT_MISALIGNED;
	return j;
}
