// SPSS system file writer: "survey.sav", written with ReadStat, holding the
// SPSS form's variables with long names, labels, value labels, measurement
// levels and print formats, the cases as numbers, and one multiple
// dichotomy set per multi-coded axis.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tx {
struct run_state;
struct size_detail;
struct stat_node;

// The driver row's writer; data_file is null: the cases go into meta_file.
void outputsav(run_state& run, const char* meta_file, const char* data_file);

// The print format of a numeric field: "F w.d" with the width and decimals
// of its fixed columns (F w.0 for a whole field, or one without values),
// within what readers take (width 1 to 40, at most 16 decimals, fewer than
// the width). For a real field (its values have decimals) the f item, when
// given (`f_item` its value "w.d" as the option list holds it, null when
// there is none), sets the format as printf would print with it: its
// decimals, six when it gives none ("%f", "%8f"); its width, raised to the
// width the field's values take at those decimals (printf widens a field
// too), that width when it gives none ("f=", "f=.3"). The stored values
// stay as they are.
std::string numeric_print_format(const size_detail* d, const char* f_item);

// A job text in UTF-8, decoded as Windows-1252 (utf8_text), cut to at most
// max_bytes without splitting a character.
std::string sav_text(std::string_view text, std::size_t max_bytes);

// The variable label of a yes/no variable, "<axis label> - <element
// text>" in UTF-8, so that the categories of a multiple response set read
// apart: the element text up to a value label's 120 bytes, the axis label
// cut (never inside a character) to keep the whole within 255 bytes. Either
// alone when the other is empty.
std::string member_label(std::string_view axis_label, std::string_view element_text);

// A name fit for the system file: characters other than letters, digits,
// "_", ".", "@", "#" and "$" as "_", "@" before a first character that is
// not a letter, cut to 64 bytes, no trailing "." or "_", "@" before a
// reserved word.
std::string sav_name(std::string_view name);

// A variable name fit for the system file. The SPSS syntax form's names,
// which the system file takes, are fit already and stay as they are; any
// other has characters other than letters, digits, "_", ".", "@", "#" and
// "$" as "_", "@" before a first character that is neither a letter nor
// "@", is cut to 64 bytes, loses a trailing ".", and gets "@" before a
// reserved word.
std::string sav_variable_name(std::string_view name);

// The name of the multiple response set of a group of yes/no variables: "$"
// and its axis's name made fit (sav_name), unique among the names in
// `taken`, which it joins. Every multi-coded group takes a name, in list
// order, whether or not it gets a set, so a name does not depend on which
// sets are written.
std::string set_name(std::unordered_set<std::string>& taken, const stat_node* group);
}  // namespace tx
