// The .Z decoder on any bytes (compread in pieces, compfgets against what
// compread gave), and compressing then decoding gives the input back.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "kit.h"
#include "txlib/compio.h"

namespace tx::fuzz {

namespace {
constexpr std::size_t decode_limit = std::size_t{1} << 22;

// Everything compread gives, in pieces of `chunk` bytes; nullopt when the
// file is refused at open.
std::optional<std::string> decode_all(const char* path, int chunk) {
  comp_file* h = compopen(path, "rb", 0);
  if (h == nullptr) return std::nullopt;
  std::string text;
  std::vector<char> buffer(static_cast<std::size_t>(chunk));
  for (;;) {
    const int n = compread(h, buffer.data(), chunk);
    if (n <= 0 || n > chunk) break;
    text.append(buffer.data(), static_cast<std::size_t>(n));
    if (text.size() > decode_limit) break;
  }
  compclose(h);
  return text;
}

// What compfgets must give for `text`: each line (its newline included) cut to
// size - 1 characters, then an empty piece when the text ends with a newline.
std::vector<std::string> expected_lines(const std::string& text, int size) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, std::min<std::size_t>(end - at, size - 1)));
    at = end;
  }
  if (!text.empty() && text.back() == '\n') lines.emplace_back();
  return lines;
}

std::string check_lines(const char* path, const std::string& text, int size) {
  comp_file* h = compopen(path, "rb", 0);
  if (h == nullptr) return "compopen refused a file it opened before";
  const std::vector<std::string> expected = expected_lines(text, size);
  std::vector<char> buffer(static_cast<std::size_t>(size));
  std::string problem;
  for (std::size_t i = 0; i <= expected.size(); ++i) {
    const int n = compfgets(buffer.data(), size, h);
    if (i == expected.size()) {
      if (n != -1) problem = "compfgets did not end after the last line";
      break;
    }
    if (n < 0 || n > size - 1 || buffer[static_cast<std::size_t>(n)] != '\0' ||
        std::string(buffer.data(), static_cast<std::size_t>(n)) != expected[i]) {
      problem = "compfgets line " + std::to_string(i) + " differs from compread";
      break;
    }
  }
  compclose(h);
  return problem;
}

}  // namespace

std::string fuzz_compio(input data) {
  workspace ws;
  const std::uint8_t params = data.empty() ? 0 : data[0];
  const std::string_view body = data.empty() ? std::string_view() : as_text(data.subspan(1));
  const int chunk = 1 + (params >> 3);           // 1 to 32 bytes per compread
  const int line_size = 2 + 37 * (params >> 3);  // 2 to 1149 bytes per compfgets
  const int bits = (params & 7) < 5 ? 12 + (params & 7) : 0;

  // Decode the bytes as they are.
  ws.put("in.Z", body);
  if (std::optional<std::string> text = decode_all("in.Z", chunk)) {
    if (text->size() <= decode_limit)
      if (std::string problem = check_lines("in.Z", *text, line_size); !problem.empty())
        return problem;
  }

  // Compress them, then decode: the same bytes must come back.
  comp_file* w = compopen("out.Z", "wb", bits);
  if (w == nullptr) return std::string("compopen for writing failed: ") + comperrstr();
  for (std::size_t at = 0; at < body.size(); at += static_cast<std::size_t>(chunk)) {
    const int n = static_cast<int>(std::min<std::size_t>(chunk, body.size() - at));
    if (compwrite(w, body.data() + at, n) != n) {
      compclose(w);
      return "compwrite failed";
    }
  }
  if (compclose(w) != 0) return "compclose failed";
  std::optional<std::string> back = decode_all("out.Z", 4096);
  if (!back) return std::string("a compressed file was refused: ") + comperrstr();
  if (*back != body)
    return "compress and decode gave other bytes (" + std::to_string(body.size()) + " in, " +
           std::to_string(back->size()) + " out)";
  return "";
}

}  // namespace tx::fuzz
