// HTML codebook writer: "codebook.html". The variables and their names are
// the system file's: the SPSS form's names, and for each multi-coded axis
// its multiple response set's name. The numbers come from one pass over the
// cases (tally) after the measuring pass; the page is put together in
// memory, about 300 bytes a code, and written at once.
#include "write/outputhtml.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/misc.h"
#include "base/release.h"
#include "base/run_state.h"
#include "base/showmsg.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"
#include "write/data.h"
#include "write/outputsav.h"
#include "write/tally.h"
#include "write/wintext.h"

namespace tx {

namespace {

// Nothing is fetched: the policy lets in the page's own style and script
// and nothing else, so a browser never leaves the file.
constexpr const char* page_start = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
)";

constexpr const char* style = R"(<style>
:root{--ink:#1c2530;--soft:#5d6875;--line:#dde2e8;--head:#f2f4f7;--bar:#9cc3ea;--accent:#2f6fb2}
*{box-sizing:border-box}
body{margin:0 auto;max-width:68rem;padding:2rem 1.5rem 4rem;font:15px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:var(--ink);background:#fff}
header{border-bottom:3px solid var(--accent);padding-bottom:1rem;margin-bottom:2rem}
.kicker{margin:0;color:var(--accent);font-weight:600;letter-spacing:.08em;text-transform:uppercase;font-size:.8rem}
h1{margin:.2rem 0;font-size:1.75rem;line-height:1.25}
.sub,.q{margin:0;color:var(--soft)}
dl{display:grid;grid-template-columns:max-content 1fr;gap:.15rem 1.25rem;margin:1rem 0 0}
dt{color:var(--soft)}
dd{margin:0}
h2{margin:0 0 .35rem;font-size:1.2rem}
h2 span{font-weight:400}
code{font:.92em ui-monospace,"DejaVu Sans Mono",Menlo,Consolas,monospace}
a{color:var(--accent)}
nav{margin-bottom:2rem}
#filter{width:100%;max-width:24rem;padding:.4rem .6rem;margin:.25rem 0 .75rem;font:inherit;border:1px solid var(--line);border-radius:4px}
table{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}
th,td{padding:.3rem .6rem;border-bottom:1px solid var(--line);text-align:right;vertical-align:top}
thead th{background:var(--head);font-size:.82rem;font-weight:600;color:var(--soft)}
th[scope=row],#toc th,#toc td,.l{text-align:left}
th[scope=row]{font-weight:400}
td[style]{width:9rem;background:linear-gradient(90deg,var(--bar) var(--p),transparent 0) no-repeat .6rem 50%/calc(100% - 4.2rem) 60%}
tr.t{color:var(--soft);font-style:italic}
section{margin:0 0 1.5rem;padding:1rem 1.25rem 1.25rem;border:1px solid var(--line);border-radius:8px;break-inside:avoid}
.q{margin-bottom:.6rem}
.num{display:flex;flex-wrap:wrap;gap:1.5rem;align-items:flex-start}
.num table{width:auto;min-width:18rem}
figure{margin:0}
svg{border-bottom:1px solid var(--soft)}
svg rect{fill:var(--bar)}
figcaption{display:flex;justify-content:space-between;font-size:.8rem;color:var(--soft)}
@media print{body{max-width:none;padding:0;font-size:9.5pt}#filter{display:none}section{border:0;border-top:1px solid #999;border-radius:0;padding:.6rem 0}a{color:inherit;text-decoration:none}td[style],svg rect{-webkit-print-color-adjust:exact;print-color-adjust:exact}}
</style>
</head>
)";

// The filter box: hidden in the markup, shown by the script, so that a page
// read without scripts shows no control that does nothing.
constexpr const char* page_end = R"(</main>
<script>
(function(){"use strict";var f=document.getElementById("filter"),rows=document.querySelectorAll("#toc tbody tr");f.hidden=false;f.addEventListener("input",function(){var q=f.value.trim().toLowerCase();rows.forEach(function(r){var s=document.getElementById(r.querySelector("a").getAttribute("href").slice(1)),show=r.textContent.toLowerCase().indexOf(q)>=0;r.hidden=!show;if(s)s.hidden=!show;});});})();
</script>
</body>
</html>
)";

// Histogram bars: this wide, at most this high.
constexpr int bar_width = 12;
constexpr int bar_height = 60;

const char* type_word(tally_kind k) {
  switch (k) {
    case tally_kind::single:
      return "single";
    case tally_kind::multiple:
      return "multiple";
    case tally_kind::numeric:
      break;
  }
  return "numeric";
}

// A job text for the page: UTF-8 from Windows-1252, escaped.
std::string job_text(const char* text) {
  return text != nullptr ? html_escaped(utf8_text(text)) : std::string();
}

// A number for the data- attributes: 15 significant digits, enough to
// give back the double nearest any count and sum the page reports.
std::string exact(double x) { return format_text("%.15g", x + 0.0); }  // + 0.0: no "-0"

std::string fixed(double x, int decimals) { return format_text("%.*f", decimals, x + 0.0); }

// A share of a total in per cent with one decimal; "-" when the total is
// not above 0.
std::string percent(double part, double total) {
  return total > 0 ? fixed(100 * part / total, 1) : "-";
}

// Means and standard deviations shown with two decimals for whole numbers,
// four otherwise.
int shown_decimals(const stat_node* n) {
  const size_detail* d = n->size;
  return d == nullptr || d->kind == size_whole || d->decimals == 0 ? 2 : 4;
}

struct page_section {
  std::string name;  // its id is "v-" and the name
  const variable_tally* tally;
};

// The weight variables' names, in weight order: the numeric fields after
// the incs.
std::vector<std::string> weight_names(const run_state& run,
                                      const std::vector<page_section>& sections) {
  std::vector<std::string> names(static_cast<std::size_t>(run.weighting));
  const auto incs = static_cast<int>(run.layout.nfloats);
  for (const page_section& s : sections) {
    const int w = s.tally->field - incs;
    if (s.tally->kind == tally_kind::numeric && w >= 0 && w < run.weighting)
      names[static_cast<std::size_t>(w)] = s.name;
  }
  return names;
}

// Names as the system file gives them: a variable its SPSS name, a group
// of yes/no variables its multiple response set's name.
std::vector<page_section> name_sections(const codebook_tally& t) {
  std::vector<page_section> sections;
  std::unordered_set<std::string> taken;
  for (const variable_tally& v : t.vars) {
    const stat_node* g = v.group;
    if (g->member != nullptr)
      sections.push_back({set_name(taken, g), &v});
    else
      sections.push_back({g->var->spssvar->sname->name, &v});
  }
  return sections;
}

const char* label_of(const page_section& s) { return s.tally->group->var->spssvar->label; }

void put_head(run_state& run, const codebook_tally& t, const std::vector<page_section>& sections,
              const std::vector<std::string>& weights, std::string& page) {
  const title_record* title = run.title;
  const bool titled = title != nullptr && title->count > 0;
  const std::string first = titled ? job_text(title->lines[0]) : "";
  page += page_start;
  const std::string program = job_text(run.program_name.c_str());
  page += format_text("<meta name=\"generator\" content=\"%s %s\">\n", program.c_str(),
                      program_version);
  page += "<title>Codebook";
  if (!first.empty()) page.append(": ").append(first);
  page += "</title>\n";
  page += style;
  page += "<body>\n<header>\n<p class=\"kicker\">Codebook</p>\n<h1>";
  page += first.empty() ? "Untitled job" : first;
  page += "</h1>\n";
  for (int i = 1; titled && i < title->count; ++i)
    page.append("<p class=\"sub\">").append(job_text(title->lines[i])).append("</p>\n");

  page += format_text("<dl>\n<dt>Cases</dt><dd>%lld</dd>\n<dt>Variables</dt><dd>%zu</dd>\n",
                      static_cast<long long>(t.cases), sections.size());
  page += "<dt>Weights</dt><dd>";
  if (weights.empty()) page += "none";
  for (std::size_t w = 0; w < weights.size(); ++w)
    page.append(w != 0 ? ", " : "")
        .append("<a href=\"#v-")
        .append(html_escaped(weights[w]))
        .append("\"><code>")
        .append(html_escaped(weights[w]))
        .append("</code></a>");
  page += "</dd>\n<dt>Converted</dt><dd>";
  std::tm at{};
  if (gmtime_r(&run.now, &at) != nullptr) {
    const int year = at.tm_year + 1900, month = at.tm_mon + 1;
    page += format_text(
        "<time datetime=\"%04d-%02d-%02dT%02d:%02d:%02dZ\">%04d-%02d-%02d %02d:%02d UTC</time>",
        year, month, at.tm_mday, at.tm_hour, at.tm_min, at.tm_sec, year, month, at.tm_mday,
        at.tm_hour, at.tm_min);
  } else {
    page += format_text("%lld seconds after 1970", static_cast<long long>(run.now));
  }
  page += format_text("</dd>\n<dt>Program</dt><dd>%s %s</dd>\n</dl>\n</header>\n", program.c_str(),
                      program_version);
}

void put_contents(const std::vector<page_section>& sections, std::string& page) {
  page +=
      "<nav aria-labelledby=\"contents\">\n<h2 id=\"contents\">Variables</h2>\n"
      "<input type=\"search\" id=\"filter\" placeholder=\"Filter by name or label\" "
      "aria-label=\"Filter the variables\" hidden>\n"
      "<table id=\"toc\">\n<thead><tr><th scope=\"col\">Name</th><th scope=\"col\">Label</th>"
      "<th scope=\"col\">Type</th></tr></thead>\n<tbody>\n";
  for (const page_section& s : sections) {
    const std::string name = html_escaped(s.name);
    page += format_text(
        "<tr><td><a href=\"#v-%s\"><code>%s</code></a></td><td>%s</td><td>%s</td></tr>\n",
        name.c_str(), name.c_str(), job_text(label_of(s)).c_str(), type_word(s.tally->kind));
  }
  page += "</tbody>\n</table>\n</nav>\n<main>\n";
}

// The heading of a section, and below it an axis's title lines after the
// first, which the label holds already (the SPSS form's comment lines).
void put_heading(const page_section& s, std::string& page) {
  page += format_text("<h2><code>%s</code> <span>%s</span></h2>\n", html_escaped(s.name).c_str(),
                      job_text(label_of(s)).c_str());
  const axis_info* a = s.tally->group->var->axis;
  if (a == nullptr || a->titles == nullptr || a->titles->count < 2) return;
  page += "<p class=\"q\">";
  for (int i = 1; i < a->titles->count; ++i)
    page.append(i != 1 ? "<br>" : "").append(job_text(a->titles->lines[i]));
  page += "</p>\n";
}

void put_frequency_head(bool multiple, const std::vector<std::string>& weights, std::string& page) {
  const int lead = multiple ? 3 : 2;
  page += format_text(
      "<table>\n<thead><tr><td colspan=\"%d\"></td><th scope=\"colgroup\" "
      "colspan=\"2\">Cases</th>",
      lead);
  for (const std::string& w : weights)
    page += format_text("<th scope=\"colgroup\" colspan=\"2\">Weighted by <code>%s</code></th>",
                        html_escaped(w).c_str());
  page += "</tr>\n<tr><th scope=\"col\">Code</th><th scope=\"col\" class=\"l\">Label</th>";
  if (multiple) page += "<th scope=\"col\" class=\"l\">Variable</th>";
  page += "<th scope=\"col\">Count</th><th scope=\"col\">%</th>";
  for (std::size_t w = 0; w < weights.size(); ++w)
    page += "<th scope=\"col\">Sum</th><th scope=\"col\">%</th>";
  page += "</tr></thead>\n<tbody>\n";
}

// A count and its share, with a bar as long as the share.
void put_share(double count, std::string shown, double total, std::string& page) {
  const std::string p = percent(count, total);
  page.append("<td>").append(shown).append("</td>");
  if (p == "-")
    page += "<td>-</td>";
  else
    page.append("<td style=\"--p:").append(p).append("%\">").append(p).append("</td>");
}

void put_row(const codebook_tally& t, const variable_tally& v, std::size_t r, std::string& page) {
  const tally_row& row = v.rows[r];
  const double* sums = v.weighted.data() + r * static_cast<std::size_t>(t.weights);
  std::string weighted;
  for (int k = 0; k < t.weights; ++k) weighted.append(k != 0 ? " " : "").append(exact(sums[k]));
  std::string code, label, member;
  switch (row.kind) {
    case row_kind::code:
    case row_kind::element:
      code = std::to_string(row.code);
      label = job_text(row.label);
      break;
    case row_kind::no_answer:
      label = "No answer";
      break;
    case row_kind::any:
      code = "any";
      label = "At least one";
      break;
    case row_kind::none:
      code = "none";
      label = "None";
      break;
  }
  const bool total_row = row.kind != row_kind::code && row.kind != row_kind::element;
  page += total_row ? "<tr class=\"t\"" : "<tr";
  page.append(" data-code=\"").append(code).append("\"");
  if (row.member != nullptr) {
    member = html_escaped(row.member->var->spssvar->sname->name);
    page.append(" data-var=\"").append(member).append("\"");
  }
  page += format_text(" data-count=\"%lld\" data-weighted=\"%s\">",
                      static_cast<long long>(row.count), weighted.c_str());
  page.append("<td>").append(total_row ? "" : code).append("</td><th scope=\"row\">");
  page.append(label).append("</th>");
  if (v.kind == tally_kind::multiple)
    page.append("<td class=\"l\">")
        .append(member.empty() ? "" : "<code>" + member + "</code>")
        .append("</td>");
  put_share(static_cast<double>(row.count), std::to_string(row.count), static_cast<double>(t.cases),
            page);
  for (int k = 0; k < t.weights; ++k)
    put_share(sums[k], fixed(sums[k], 2), t.weight_total[static_cast<std::size_t>(k)], page);
  page += "</tr>\n";
}

// Bars of the histogram, with each bin's range and count as its tooltip.
void put_histogram(const page_section& s, std::string& page) {
  const numeric_summary& n = s.tally->numbers;
  if (n.bins.empty() || n.valid == 0) return;
  const std::int64_t most = *std::max_element(n.bins.begin(), n.bins.end());
  const int width = bar_width * static_cast<int>(n.bins.size());
  page += format_text(
      "<figure><svg viewBox=\"0 0 %d %d\" width=\"%d\" height=\"%d\" role=\"img\" "
      "aria-label=\"Histogram of %s in %zu bins from %s to %s\">",
      width, bar_height, width, bar_height, html_escaped(s.name).c_str(), n.bins.size(),
      exact(n.low).c_str(), exact(n.high).c_str());
  const double step = n.unit_bins ? 1 : (n.high - n.low) / static_cast<double>(n.bins.size());
  for (std::size_t i = 0; i < n.bins.size(); ++i) {
    if (n.bins[i] == 0) continue;
    const auto h = static_cast<int>(
        std::lround(static_cast<double>(n.bins[i]) / static_cast<double>(most) * bar_height));
    const double from = n.low + step * static_cast<double>(i);
    const std::string range = n.unit_bins
                                  ? exact(from)
                                  : format_text("%.6g to %.6g", from + 0.0,
                                                i + 1 == n.bins.size() ? n.high : from + step);
    page += format_text(
        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"><title>%s: %lld</title></rect>",
        bar_width * static_cast<int>(i) + 1, bar_height - std::max(h, 1), bar_width - 2,
        std::max(h, 1), range.c_str(), static_cast<long long>(n.bins[i]));
  }
  page += format_text("</svg><figcaption><span>%s</span><span>%s</span></figcaption></figure>\n",
                      exact(n.low).c_str(), exact(n.high).c_str());
}

void put_numeric(const codebook_tally& t, const page_section& s,
                 const std::vector<std::string>& weights, std::string& page) {
  const numeric_summary& n = s.tally->numbers;
  const int decimals = shown_decimals(s.tally->group);
  const bool any = n.valid > 0;
  double sd = 0;
  const bool has_sd = standard_deviation(n, sd);
  std::string weighted;
  std::vector<std::string> means;
  for (int k = 0; k < t.weights; ++k) {
    const double sum = n.weight_sum[static_cast<std::size_t>(k)];
    const double mean = n.weighted_sum[static_cast<std::size_t>(k)] / sum;
    weighted.append(k != 0 ? " " : "").append(sum > 0 ? exact(mean) : "-");
    means.push_back(sum > 0 ? fixed(mean, decimals) : "-");
  }
  page += format_text(
      "<section id=\"v-%s\" data-name=\"%s\" data-type=\"numeric\" data-valid=\"%lld\" "
      "data-missing=\"%lld\" data-min=\"%s\" data-max=\"%s\" data-mean=\"%s\" data-sd=\"%s\" "
      "data-weighted=\"%s\">\n",
      html_escaped(s.name).c_str(), html_escaped(s.name).c_str(), static_cast<long long>(n.valid),
      static_cast<long long>(n.missing), any ? exact(n.min).c_str() : "",
      any ? exact(n.max).c_str() : "", any ? exact(n.mean).c_str() : "",
      has_sd ? exact(sd).c_str() : "", weighted.c_str());
  put_heading(s, page);
  page += "<div class=\"num\">\n<table>\n<tbody>\n";
  auto stat = [&page](const std::string& what, const std::string& value) {
    page.append("<tr><th scope=\"row\">")
        .append(what)
        .append("</th><td>")
        .append(value)
        .append("</td></tr>\n");
  };
  stat("Valid cases", std::to_string(n.valid));
  stat("Missing", std::to_string(n.missing));
  stat("Minimum", any ? exact(n.min) : "-");
  stat("Maximum", any ? exact(n.max) : "-");
  stat("Mean", any ? fixed(n.mean, decimals) : "-");
  stat("Standard deviation", has_sd ? fixed(sd, decimals) : "-");
  for (std::size_t k = 0; k < means.size(); ++k)
    stat("Mean weighted by <code>" + html_escaped(weights[k]) + "</code>", means[k]);
  page += "</tbody>\n</table>\n";
  put_histogram(s, page);
  page += "</div>\n</section>\n";
}

void put_section(const codebook_tally& t, const page_section& s,
                 const std::vector<std::string>& weights, std::string& page) {
  const variable_tally& v = *s.tally;
  if (v.kind == tally_kind::numeric) {
    put_numeric(t, s, weights, page);
    return;
  }
  const std::string name = html_escaped(s.name);
  page += format_text("<section id=\"v-%s\" data-name=\"%s\" data-type=\"%s\">\n", name.c_str(),
                      name.c_str(), type_word(v.kind));
  put_heading(s, page);
  put_frequency_head(v.kind == tally_kind::multiple, weights, page);
  for (std::size_t r = 0; r < v.rows.size(); ++r) put_row(t, v, r, page);
  page += "</tbody>\n</table>\n</section>\n";
}

}  // namespace

std::string html_escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void outputhtml(run_state& run, const char* meta_file, const char*) {
  file_ptr f(efopen(run, meta_file, "wt"));
  build_statlist(run);
  measure_fields(run, false);
  const codebook_tally t = tally_cases(run);
  const std::vector<page_section> sections = name_sections(t);
  const std::vector<std::string> weights = weight_names(run, sections);

  std::string page;
  put_head(run, t, sections, weights, page);
  put_contents(sections, page);
  for (const page_section& s : sections) put_section(t, s, weights, page);
  page += page_end;
  std::fwrite(page.data(), 1, page.size(), f.get());
  close_output(f, meta_file);
}

}  // namespace tx
