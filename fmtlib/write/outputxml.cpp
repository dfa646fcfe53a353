// Triple-S XML writer: "survey.xml", a Triple-S 1.1 document that describes
// every output variable with its column positions in "survey.asc".
#include "write/outputxml.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/misc.h"
#include "base/run_state.h"
#include "model/statvars.h"
#include "model/xtostats.h"
#include "read/axinf.h"
#include "read/title.h"
#include "write/data.h"
#include "write/funcs.h"
#include "write/names.h"

namespace tx {

namespace {

constexpr std::array<const char*, 96> latin1_names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "",  // 175 stays as it is
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",
    "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute",
    "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",
    "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute",
    "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",
    "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",
    "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr std::array<const char*, 256> make_charmap() {
  std::array<const char*, 256> map{};
  for (int b = 0; b < 256; ++b) {
    if (b < 32 || (b >= 127 && b < 160))
      map[b] = "#32";
    else if (b >= 160)
      map[b] = latin1_names[b - 160];
    else
      map[b] = "";
  }
  map['\n'] = "<br/>";
  map['"'] = "quot";
  map['&'] = "amp";
  map['\''] = "apos";
  map['<'] = "lt";
  map['>'] = "gt";
  return map;
}

bool is_blank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_punct(unsigned char c) {
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
         (c >= '{' && c <= '~');
}

}  // namespace

// Made by the compiler, which refuses a table built out of its bounds.
constexpr std::array<const char*, 256> xmlcharmap = make_charmap();

std::string xmlfmt(std::string_view text) {
  // A text from the job ends at its first zero byte.
  text = text.substr(0, text.find('\0'));
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const char* entry = xmlcharmap[b];
    if (*entry == '\0') {
      out += static_cast<char>(b);
    } else if (b == '\n') {
      if (i + 1 < text.size()) out += "<br/>";
    } else if (b == 128) {
      out += "&#x20AC;";
    } else if (b > 128) {
      char ref[8];
      std::snprintf(ref, sizeof ref, "&#x%02x;", b);
      out += ref;
    } else {
      out += '&';
      out += entry;
      out += ';';
    }
  }
  return out;
}

std::string rmspaces(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string out;
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') out += '_';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_blank(c)) continue;
    out += is_punct(c) && c != '_' ? '_' : ch;
  }
  return out;
}

namespace {

constexpr std::size_t label_limit = 40960;

std::FILE* xml_stream(run_state& run) { return run.xml.fp_commands.get(); }

bool has_text(const char* text) { return text != nullptr && *text != '\0'; }

// The element text of a yes/no variable: its last labelled value.
std::string last_value_label(const spss_var* o) {
  const value_list* vals = o->vallist;
  for (int i = vals != nullptr ? vals->count - 1 : -1; i >= 0; --i)
    if (has_text(vals->labels[i])) return vals->labels[i];
  return "";
}

void write_numeric_values(std::FILE* f, const size_detail& d) {
  // A field that never got a value has no range to give.
  if (d.min > d.max) return;
  std::fputs("\t\t\t\t<values>\n\t\t\t\t\t", f);
  if (d.kind == size_whole)
    std::fprintf(f, "<range from=\"%s\" to=\"%s\"/>\n", whole_number_text(d.min).c_str(),
                 whole_number_text(d.max).c_str());
  else if (d.max == d.min)
    std::fprintf(f, "<value code=\"%.*f\">the only valid value</value>\n", d.decimals,
                 static_cast<double>(d.min));
  else
    std::fprintf(f, "<range from=\"%.*f\" to=\"%.*f\"/>\n", d.decimals, static_cast<double>(d.min),
                 d.decimals, static_cast<double>(d.max));
  std::fputs("\t\t\t\t</values>\n", f);
}

void write_single_values(std::FILE* f, const value_list* vals) {
  if (vals == nullptr || !std::any_of(vals->labels, vals->labels + vals->count, has_text)) return;
  std::fputs("\t\t\t\t<values>\n", f);
  for (int i = 0; i < vals->count; ++i)
    if (has_text(vals->labels[i]))
      std::fprintf(f, "\t\t\t\t\t<value code=\"%d\">%s</value>\n", vals->codes[i],
                   xmlfmt(vals->labels[i]).c_str());
  std::fputs("\t\t\t\t</values>\n", f);
}

}  // namespace

std::string label_text(const spss_var* o, int k) {
  std::string label;
  if (has_text(o->label))
    label = o->label;
  else if (o->sname != nullptr && has_text(o->sname->name))
    label = o->sname->name[0] == '@' ? o->sname->name + 1 : o->sname->name;
  else
    label.append("v").append(std::to_string(k));
  if (label.size() > label_limit) label.resize(label_limit);
  return label;
}

std::string document_name(const stat_var* v, int k) {
  if (v->axis != nullptr && v->axis->head != nullptr && v->axis->head->name != nullptr)
    return rmspaces(v->axis->head->name);
  return rmspaces(label_text(v->spssvar, k));
}

void outputxml(run_state& run, const char* meta_file, const char*) {
  run.xml.fp_commands.reset(efopen(run, meta_file, "wt"));
  xml_header(run);
  xml_labels(run);
  xml_trailer(run);
  close_output(run.xml.fp_commands, meta_file);
}

void xml_header(run_state& run) {
  static constexpr char mon[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::tm t{};
  localtime_r(&run.now, &t);
  std::FILE* f = xml_stream(run);
  std::fputs("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", f);
  std::fprintf(f,
               "<sss version=\"1.1\">\n\t<date>%02d %3.3s %4d</date>\n\t<time>%02d:%02d</time>\n"
               "\t<origin>%s, created by %s</origin>\n\t<survey>\n\t\t<title>",
               t.tm_mday, mon + 3 * t.tm_mon, t.tm_year + 1900, t.tm_hour, t.tm_min, "UNIX",
               xmlfmt(run.program_name).c_str());
  if (run.title != nullptr && run.title->count > 0)
    for (int i = 0; i < run.title->count; ++i) std::fputs(xmlfmt(run.title->lines[i]).c_str(), f);
  else
    std::fputs("unknown", f);
  std::fputs("</title>\n\t\t<record ident=\"A\">\n", f);
}

void xml_labels(run_state& run) {
  build_statlist(run);
  measure_fields(run, true);
  std::FILE* f = xml_stream(run);
  int p = 1;
  for (const stat_node* g = run.statlist; g != nullptr; g = g->nextgroup) {
    std::fputc('\n', f);
    int width;
    if (g->member != nullptr) {
      width = g->count;
      int k = 1;
      for (const stat_node* n = g; n != nullptr; n = n->member)
        output_xml_labels(run, n, k++, p, p + width - 1);
      std::fputs("\t\t\t\t</values>\n\t\t\t</variable>\n", f);
    } else {
      if (g->width != 0)
        width = g->width;
      else if (g->var->type == type_numeric && g->size != nullptr)
        width = g->size->width;
      else
        width = 1;
      output_xml_labels(run, g, 0, p, p + width - 1);
      std::fputs("\t\t\t</variable>\n", f);
    }
    p += width;
  }
}

void output_xml_labels(run_state& run, const stat_node* node, int k, int start, int finish) {
  std::FILE* f = xml_stream(run);
  const stat_var* v = node->var;
  const spss_var* o = v->spssvar;
  const std::string label = label_text(o, k);

  if (k <= 1) {
    ++run.xml.varnum;
    const char* type = k == 1 ? "multiple" : v->type == type_numeric ? "quantity" : "single";
    const std::string name = unique_name(run.xml.names, document_name(v, k));
    std::fprintf(f, "\t\t\t<variable ident=\"%d\" type=\"%s\">\n\t\t\t<name>%s</name>\n",
                 run.xml.varnum, type, xmlfmt(name).c_str());
    std::fprintf(f, "\t\t\t<label>%s</label>\n", xmlfmt(label).c_str());
    std::fprintf(f, "\t\t\t<position start=\"%d\"", start);
    if (finish != start) std::fprintf(f, " finish=\"%d\"", finish);
    std::fputs("/>\n", f);
  }

  if (k >= 1) {
    if (k == 1) std::fputs("\t\t\t\t<values>\n", f);
    std::fprintf(f, "\t\t\t\t\t<value code=\"%d\">%s</value>\n", k,
                 xmlfmt(last_value_label(o)).c_str());
    return;
  }
  if (v->type == type_numeric) {
    if (node->size != nullptr) write_numeric_values(f, *node->size);
    return;
  }
  if (v->type != type_yesno) write_single_values(f, o->vallist);
}

void xml_trailer(run_state& run) {
  std::fputs("\t\t</record>\n\t</survey>\n</sss>\n", xml_stream(run));
}

}  // namespace tx
