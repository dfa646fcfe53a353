// Writes the seed corpora fuzz/corpus/<target>/ from jobs made by the job
// builder: the model job of the targets and a job with a grid axis.
//   fuzz_seeds <corpus directory>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "targets.h"
#include "txlib/compio.h"

namespace {

namespace fs = std::filesystem;
using tx::fuzz::framed_file;

std::map<std::string, std::string> by_name(const std::vector<framed_file>& files) {
  return {files.begin(), files.end()};
}

std::vector<framed_file> pick(const std::map<std::string, std::string>& files,
                              const std::vector<std::string>& names) {
  std::vector<framed_file> out;
  for (const std::string& n : names)
    if (auto it = files.find(n); it != files.end()) out.emplace_back(n, it->second);
  return out;
}

void write_seed(const fs::path& dir, const std::string& target, const std::string& name,
                const std::string& bytes) {
  fs::create_directories(dir / target);
  std::ofstream out(dir / target / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The text inside a compressed descriptions file.
std::string decompress(const std::string& bytes) {
  const fs::path tmp = fs::temp_directory_path() / "txseeds.Z";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string text;
  if (tx::comp_file* h = tx::compopen(tmp.c_str(), "rb", 0)) {
    char buffer[512];
    for (int n; (n = tx::compread(h, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    tx::compclose(h);
  }
  fs::remove(tmp);
  return text;
}

// A grid axis and its partner, an exportsp axis and a multi-coded one.
tx::job::job grid_job() {
  tx::job::job j;
  j.title = {"Grid job"};
  tx::job::axis g;
  g.tag = "gbrand";
  g.ngrid = 3;
  g.elements = {{"Good", 1}, {"Bad", 1}};
  g.titles = {{"Rate each brand"}};
  tx::job::axis p;
  p.tag = "pbrand";
  p.partner = true;
  p.elements = {{"Alpha", 1}, {"Beta", 1}, {"Gamma", 1}};
  tx::job::axis m;
  m.tag = "multi";
  m.options = 0x0C;
  m.elements = {{"One", 1}, {"Two", 1}};
  m.desc = tx::job::description{"Multi", std::nullopt};
  j.axes = {g, p, m};
  j.has_weights_file = true;
  j.cases = {{{{0}, {1}, {0}, {0, 1}}, {}, {}}, {{{1}, {0}, {}, {1}}, {}, {}}};
  return j;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <corpus directory>\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const auto model = by_name(tx::fuzz::job_files(tx::fuzz::model_job()));
  const auto grid = by_name(tx::fuzz::job_files(grid_job()));
  using tx::fuzz::frame;

  for (const char* name :
       {"axes.inf", "q1.ax", "intermed.x", "seg1.xv", "incs.inf", "weightin.x", "wmvals1.x"})
    if (auto it = model.find(name); it != model.end())
      write_seed(dir, "header", name, it->second.substr(0, 64));

  const std::string descrips = model.at("descrips.inf");
  write_seed(dir, "compio", "descrips", std::string(1, '\0') + descrips);
  write_seed(dir, "compio", "lines", std::string(1, '\x1b') + "one\ntwo two\n\nthree");

  write_seed(dir, "descrips", "text", std::string(1, '\0') + decompress(descrips));
  write_seed(dir, "descrips", "raw", std::string(1, '\1') + descrips);

  write_seed(dir, "axes", "model",
             frame(pick(model, {"axes.inf", "q1.ax", "q2.ax", "q3.ax", "descrips.inf"})));
  write_seed(dir, "axes", "grid",
             frame(pick(grid, {"axes.inf", "gbrand.ax", "pbrand.ay", "multi.ax", "descrips.inf",
                               "intermed.x"})));

  write_seed(dir, "intermed", "model", model.at("intermed.x"));
  write_seed(dir, "title", "model", model.at("seg1.xv"));
  write_seed(dir, "incs", "model",
             frame(pick(model, {"incs.inf", "weightin.x", "wmvals1.x", "descrips.inf"})));

  write_seed(dir, "options", "items",
             frame({{"TXSPSSRC", "c;S;r=30;z;o=opts.txt;d=1;f=8.2;y"},
                    {"opts.txt", "k;q=12\n-e ; a=2\no=opts.txt\n"},
                    {"argv", "-lp\n3\n-m\nNA\n-f\nspss\n-r\n5\n"}}));

  // The bytecode: 13 fields a case in batches of 3, 3, 3, 1 cases, holding
  // codes at both ends of their range, raw values and system-missing.
  std::string values;
  for (int i = 0; i < 60; ++i) {
    if (i % 5 == 0) {
      values += '\xFE';
    } else if (i % 7 == 0) {
      values += '\xC0';
      values += static_cast<char>(i % 2 == 0 ? 101 : 102);  // 151, 152
    } else {
      values += static_cast<char>(102 + i % 3);  // 0, 1, 2
    }
  }
  const double raw = 0.25;
  values += '\xFF';
  values.append(reinterpret_cast<const char*>(&raw), sizeof raw);
  write_seed(dir, "bytecode", "mixed", std::string("\x0d\x12", 2) + values);
  write_seed(dir, "bytecode", "edges", std::string("\x01\x00\x03\xBF\xE9\x65\xE9\x66", 8));

  std::vector<framed_file> whole(model.begin(), model.end());
  write_seed(dir, "job", "model", frame(whole));
  std::vector<framed_file> with_grid(grid.begin(), grid.end());
  with_grid.emplace_back("TXSPSSRC", "c;k;d=1");
  with_grid.emplace_back("argv", "-l\n-p\n2\n");
  write_seed(dir, "job", "grid", frame(with_grid));
  return 0;
}
