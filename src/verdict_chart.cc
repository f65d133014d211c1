// The verdict as an SVG chart: one cluster of bars per transfer size, one bar
// per offset, each bar the row's median speed relative to offset 0 with the
// passes' lowest and highest as a whisker, and a line at 1.0.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "verdict.h"

namespace {

const double bar_width = 14;
const double bar_gap = 3;
const double cluster_gap = 28;
const double left = 78;
const double right = 24;
const double top = 78;
const double plot_height = 280;
const double bottom = 96;

const char *const fills[] = {"#4a7ab5", "#d9534f", "#a0a0a0"};

std::string escaped(const std::string &text)
{
	std::string s;

	for (unsigned char c : text) {
		switch (c) {
		case '&':
			s += "&amp;";
			break;
		case '<':
			s += "&lt;";
			break;
		case '>':
			s += "&gt;";
			break;
		case '"':
			s += "&quot;";
			break;
		default:
			// XML allows no control characters but tab and line ends; bytes that are not
			// ASCII are shown as "?", since a device name need not be UTF-8.
			s += c < 0x20 || c >= 0x7f ? '?' : static_cast<char>(c);
		}
	}
	return s;
}

template <typename... Args>
std::string fmt(const char *format, Args... args)
{
	char buf[512];

	snprintf(buf, sizeof buf, format, args...);
	return buf;
}

std::string text_at(double x, double y, const char *anchor, const char *style, const std::string &t)
{
	return fmt("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" %s>", x, y, anchor, style) + escaped(t) +
	    "</text>\n";
}

std::string size_label(uint64_t v)
{
	if (v >= 1048576 && v % 1048576 == 0)
		return std::to_string(v / 1048576) + "M";
	if (v >= 1024 && v % 1024 == 0)
		return std::to_string(v / 1024) + "k";
	return std::to_string(v);
}

}  // namespace

std::string verdict_svg(const judgement &j, const verdict_context &c)
{
	double top_value = 1.2;
	for (const judged_row &r : j.rows)
		top_value = std::max(top_value, r.relative_max);
	top_value = std::min(std::ceil(top_value * 5) / 5, 3.0);
	double tick = top_value > 2 ? 0.5 : 0.2;

	size_t groups = 0;
	for (size_t i = 0; i < j.rows.size(); i++)
		if (i == 0 || j.rows[i - 1].size != j.rows[i].size)
			groups++;
	// A short sweep spreads its clusters over the chart's least width.
	double bars = static_cast<double>(j.rows.size()) * (bar_width + bar_gap);
	double gap = std::max(cluster_gap, (520 - bars) / static_cast<double>(groups + 1));
	double plot_width = bars + static_cast<double>(groups + 1) * gap;
	double width = left + plot_width + right;
	double height = top + plot_height + bottom;
	auto y_of = [&](double v) { return top + plot_height * (1 - std::min(v, top_value) / top_value); };

	std::string s = fmt("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
	                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
	                    "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
	    width, height, width, height);
	s += fmt("<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", width, height);
	std::string title = "sekto-verdict: " + (c.device.empty() ? std::string("sekto tables") : c.device);
	s += text_at(width / 2, 24, "middle", "font-size=\"16\" font-weight=\"bold\"", title);
	s += text_at(width / 2, 44, "middle", "font-size=\"14\"", verdict_headline(j));
	std::string sub = std::string(c.mode == MODE_UNKNOWN ? "" : std::string(mode_name(c.mode)) + ", ") +
	    std::to_string(j.passes) + (j.passes == 1 ? " pass" : " passes") +
	    "; bars: median, whiskers: slowest and fastest pass";
	s += text_at(width / 2, 62, "middle", "fill=\"#555\"", sub);

	// grid and y axis
	for (int k = 0; k * tick <= top_value + 1e-9; k++) {
		double v = k * tick;
		double y = y_of(v);
		s += fmt("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n", left, y,
		    left + plot_width, y);
		s += text_at(left - 6, y + 4, "end", "", fmt("%.1f", v));
	}
	s += fmt("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", left, top, left,
	    top + plot_height);
	s += fmt("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", left,
	    top + plot_height, left + plot_width, top + plot_height);
	s += fmt("<text x=\"18\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 18 %.1f)\">"
	         "speed relative to offset 0</text>\n",
	    top + plot_height / 2, top + plot_height / 2);

	// bars
	double x = left + gap;
	double group_start = x;
	for (size_t i = 0; i < j.rows.size(); i++) {
		const judged_row &r = j.rows[i];
		double h = r.relative < 0 ? 0 : r.relative;
		s += fmt("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\">", x, y_of(h),
		    bar_width, top + plot_height - y_of(h), fills[r.cls]);
		s += fmt("<title>size %lu, offset %lu: %.2f</title></rect>\n", static_cast<unsigned long>(r.size),
		    static_cast<unsigned long>(r.offset), h);
		if (r.relative >= 0 && r.relative_max > r.relative_min) {
			double cx = x + bar_width / 2;
			s += fmt("<path d=\"M%.1f %.1fV%.1fM%.1f %.1fH%.1fM%.1f %.1fH%.1f\" stroke=\"black\" "
			         "fill=\"none\"/>\n",
			    cx, y_of(r.relative_min), y_of(r.relative_max), cx - 4, y_of(r.relative_min), cx + 4,
			    cx - 4, y_of(r.relative_max), cx + 4);
		}
		double lx = x + bar_width / 2 + 4;
		double ly = top + plot_height + 8;
		s += fmt("<text x=\"%.1f\" y=\"%.1f\" font-size=\"9\" text-anchor=\"end\" fill=\"#555\" "
		         "transform=\"rotate(-90 %.1f %.1f)\">%s</text>\n",
		    lx, ly, lx, ly, size_label(r.offset).c_str());
		x += bar_width + bar_gap;
		if (i + 1 == j.rows.size() || j.rows[i + 1].size != r.size) {
			s += text_at((group_start + x - bar_gap) / 2, top + plot_height + 50, "middle",
			    "font-weight=\"bold\"", size_label(r.size));
			x += gap;
			group_start = x;
		}
	}
	double one = y_of(1.0);
	s += fmt("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\" "
	         "stroke-dasharray=\"6 4\"/>\n",
	    left, one, left + plot_width, one);
	s += text_at(left + plot_width / 2, top + plot_height + 72, "middle", "",
	    "transfer size in bytes; under each bar its offset");

	// legend
	const char *const names[] = {"full speed", "slower", "too close to the noise to tell"};
	double lx = left;
	for (int k = 0; k < 3; k++) {
		s += fmt("<rect x=\"%.1f\" y=\"%.1f\" width=\"12\" height=\"12\" fill=\"%s\"/>\n", lx, height - 18,
		    fills[k]);
		s += text_at(lx + 16, height - 8, "start", "", names[k]);
		lx += 40 + 7.0 * static_cast<double>(std::string(names[k]).size());
	}
	return s + "</svg>\n";
}
