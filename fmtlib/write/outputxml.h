// Triple-S XML writer: "survey.xml" describing the fixed columns of "survey.asc".
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "txlib/filopen.h"

namespace tx {
struct run_state;
struct spss_var;
struct stat_node;
struct stat_var;

// One entry per byte: the entity text of the byte, or "" for a byte written as
// it is. Control bytes and 127 to 159 hold "#32", a blank.
extern const std::array<const char*, 256> xmlcharmap;

void outputxml(run_state& run, const char* meta_file, const char* data_file);
void xml_header(run_state& run);
void xml_labels(run_state& run);
void output_xml_labels(run_state& run, const stat_node* node, int k, int start, int finish);
void xml_trailer(run_state& run);

// Label of a variable in the document: its label, else its output name
// without a leading "@" (a weight's "weight0"), else "v<k>".
std::string label_text(const spss_var* o, int k);

// The name the document gives a variable, before it is made unique: its
// axis's name, else its label text (k as for output_xml_labels), through
// rmspaces.
std::string document_name(const stat_var* v, int k);

// The text with XML escapes; a newline becomes "<br/>" except at the end,
// where it is dropped; byte 128 is the euro sign.
std::string xmlfmt(std::string_view text);
// The text made fit for a variable name: "_" before a leading digit,
// punctuation other than "_" as "_", blanks dropped.
std::string rmspaces(std::string_view text);
}  // namespace tx
