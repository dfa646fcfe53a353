// HTML codebook writer: "codebook.html", one self-contained page that shows
// every output variable of the SPSS form with its frequencies, unweighted
// and under each weight, or the summary of its numbers: to check a
// conversion against the tabulation's tables, and to hand on with the data.
// The page carries its numbers in data- attributes too, for scripts.
#pragma once
#include <string>
#include <string_view>

namespace tx {

struct run_state;

// The driver row's writer; data_file is null: the page is the one file.
void outputhtml(run_state& run, const char* meta_file, const char* data_file);

// The text with "&", "<", ">", '"' and "'" as character references, fit for
// element content and quoted attribute values.
std::string html_escaped(std::string_view text);

}  // namespace tx
