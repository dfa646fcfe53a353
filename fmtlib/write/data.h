// Case data writer: reads the intermediate case file a second time and hands
// every field of every case to a row of field writers, or measures the numeric
// fields (mode 1) for the metadata writers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/run_state.h"

namespace tx {

struct run_state;
struct output_routines;
struct stat_node;

inline constexpr int data_write = 0;
inline constexpr int data_measure = 1;

// A writing pass (mode 0) first makes run.data.plan from the axes, their
// variables and the row: the ready text of every code as the row writes it.
// name null: no data file (the system file's row leaves its bytes to its
// own writer).
void create_data(run_state& run, const char* name, const output_routines& row, int mode);
// The axis fields of one case with mask words c, from the pass's plan.
void put_axes_data(run_state& run, const std::uint16_t* c, const output_routines& row);

// Shared by the Triple-S and CSV writers: makes one size record per numeric
// node of run.statlist (in list order), gives the Triple-S widths to the other
// lone nodes when `fixed_columns`, and runs the measuring pass. It opens no
// file for data_name: a FIFO or a device there is opened once, by the pass
// that writes its bytes.
void measure_fields(run_state& run, const char* data_name, bool fixed_columns);

// Raises each numeric field's width to the printed length of its smallest and
// largest value (with the field's final kind and decimals); a field that never
// got a value gets width 1 at least.
void settle_widths(std::vector<size_detail>& sizes);

// Shared by the Triple-S writers: `name` itself when no earlier name of the
// document equals it ignoring case, else name + "_2", "_3", ... (the smallest
// free number). Records the result in `earlier`.
std::string unique_document_name(std::vector<std::string>& earlier, const std::string& name);

}  // namespace tx
