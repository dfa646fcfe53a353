#include "funcs.h"

#include "convert.h"

namespace tx {
void out_f(run_state&, std::FILE*, float, int) {}
void calc_f(run_state&, std::FILE*, float, int) {}
void spss_out_f(run_state&, std::FILE*, float, int) {}
void outcsv_f(run_state&, std::FILE*, float, int) {}
void out_i(run_state&, std::FILE*, std::int32_t, int) {}
void calc_i(run_state&, std::FILE*, std::int32_t, int) {}
void spss_out_i(run_state&, std::FILE*, std::int32_t, int) {}
void outcsv_i(run_state&, std::FILE*, std::int32_t, int) {}
void out_s(run_state&, std::FILE*, std::string_view, int) {}
void calc_s(run_state&, std::FILE*, std::string_view, int) {}
void spss_out_s(run_state&, std::FILE*, std::string_view, int) {}
void outcsv_s(run_state&, std::FILE*, std::string_view, int) {}
void out_r(run_state&, std::FILE*) {}
void spss_out_r(run_state&, std::FILE*) {}
void outcsv_r(run_state&, std::FILE*) {}
}  // namespace tx
