// Codec benchmark: compresses and decompresses a file with compio and with
// the standard compress program, and prints the times side by side.
//
//   codec_bench generate <path> <megabytes>   writes survey-like text
//   codec_bench run <input> <workdir> <compress>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "compio.h"

namespace {

constexpr int rounds = 3;  // each timing is the best of this many
constexpr int chunk = 1 << 16;

// Lines as a tabulation job holds them: descriptions with labels and texts,
// and case records of codes and numbers.
void generate(const std::string& path, long megabytes) {
  const char* words[] = {"Region",     "North",        "South",  "East",   "West",  "Total",
                         "Sales",      "Satisfaction", "very",   "fairly", "not",   "at all",
                         "Don't know", "male",         "female", "aged",   "18-24", "25-34",
                         "35-54",      "55+",          "How",    "often",  "do",    "you",
                         "buy",        "the",          "brand",  "in",     "a",     "month"};
  std::mt19937 rng(20010521);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const long target = megabytes * 1000000;
  std::string line;
  for (long written = 0, n = 1; written < target; ++n) {
    line.clear();
    if (n % 7 == 0) {
      line = "#@axis q" + std::to_string(n % 500) + "\n#;label=";
      for (int w = 0, k = 2 + static_cast<int>(rng() % 8); w < k; ++w)
        line += std::string(words[rng() % std::size(words)]) + (w + 1 < k ? " " : "\n");
    } else {
      char field[32];
      std::snprintf(field, sizeof field, "%ld", 100000 + n);
      line = field;
      for (int k = 0; k < 24; ++k) {
        unsigned r = rng();
        if (k % 6 == 5)
          std::snprintf(field, sizeof field, "\t%.2f", (r % 100000) / 100.0);
        else
          std::snprintf(field, sizeof field, "\t%u", r % (k < 12 ? 6 : 12));
        line += field;
      }
      line += '\n';
    }
    std::fwrite(line.data(), 1, line.size(), f);
    written += static_cast<long>(line.size());
  }
  std::fclose(f);
}

double best_seconds(const std::function<void()>& work) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

void fail(const std::string& what) {
  std::fprintf(stderr, "codec_bench: %s\n", what.c_str());
  std::exit(1);
}

void comp_file_out(const std::string& in, const std::string& out) {
  std::FILE* f = std::fopen(in.c_str(), "rb");
  tx::comp_file* z = tx::compopen(out.c_str(), "wb", 16);
  if (f == nullptr || z == nullptr) fail("cannot open " + in + " or " + out);
  std::vector<char> buf(chunk);
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;)
    tx::compwrite(z, buf.data(), static_cast<int>(n));
  std::fclose(f);
  if (tx::compclose(z) != 0) fail("write error on " + out);
}

void comp_file_in(const std::string& in, const std::string& out) {
  tx::comp_file* z = tx::compopen(in.c_str(), "rb", 0);
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (f == nullptr || z == nullptr) fail("cannot open " + in + " or " + out);
  std::vector<char> buf(chunk);
  for (int n; (n = tx::compread(z, buf.data(), chunk)) > 0;)
    std::fwrite(buf.data(), 1, static_cast<std::size_t>(n), f);
  tx::compclose(z);
  std::fclose(f);
}

void shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) fail("failed: " + command);
}

bool same_file(const std::string& a, const std::string& b) {
  return std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) == 0;
}

long file_size(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

void run(const std::string& in, const std::string& dir, const std::string& compress) {
  const std::string ours_z = dir + "/ours.Z", theirs_z = dir + "/theirs.Z";
  const std::string ours_out = dir + "/ours.out", theirs_out = dir + "/theirs.out";
  double c_ours = best_seconds([&] { comp_file_out(in, ours_z); });
  double c_theirs =
      best_seconds([&] { shell(compress + " -c < '" + in + "' > '" + theirs_z + "'"); });
  // Both decompress the standard program's stream, so they do the same work.
  double d_ours = best_seconds([&] { comp_file_in(theirs_z, ours_out); });
  double d_theirs =
      best_seconds([&] { shell(compress + " -d -c < '" + theirs_z + "' > '" + theirs_out + "'"); });
  if (!same_file(in, ours_out) || !same_file(in, theirs_out)) fail("decompressed data differ");
  shell(compress + " -d -c < '" + ours_z + "' > '" + theirs_out + "'");
  if (!same_file(in, theirs_out)) fail("compress -d does not give back our stream's data");

  const double mb = file_size(in) / 1e6;
  std::printf("codec: %.1f MB of text, best of %d runs\n", mb, rounds);
  std::printf("  %-12s %9s %9s %9s %12s\n", "", "compio", "compress", "ratio", "target");
  std::printf("  %-12s %8.3fs %8.3fs %9.2f %12s\n", "compress", c_ours, c_theirs, c_ours / c_theirs,
              "<= 1.50");
  std::printf("  %-12s %8.3fs %8.3fs %9.2f %12s\n", "decompress", d_ours, d_theirs,
              d_ours / d_theirs, "<= 1.50");
  std::printf("  %-12s %7.1fMB/s %7.1fMB/s\n", "compress", mb / c_ours, mb / c_theirs);
  std::printf("  %-12s %7.1fMB/s %7.1fMB/s\n", "decompress", mb / d_ours, mb / d_theirs);
  std::printf("  %-12s %9ld %9ld %9.3f\n", "size (bytes)", file_size(ours_z), file_size(theirs_z),
              static_cast<double>(file_size(ours_z)) / file_size(theirs_z));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "generate") {
    generate(args[1], std::atol(args[2].c_str()));
  } else if (args.size() == 4 && args[0] == "run") {
    run(args[1], args[2], args[3]);
  } else {
    std::fprintf(stderr,
                 "usage: codec_bench generate <path> <megabytes>\n"
                 "       codec_bench run <input> <workdir> <compress>\n");
    return 2;
  }
  return 0;
}
