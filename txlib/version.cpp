#include "version.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bytes.h"

namespace tx {

// clang-format off
const std::int16_t filevers[n_file_types] = {
    0,  11, 11, 11, 12, 11, 11, 11, 11, 11,  // 0-9: type 4 (weight1.x) is at version 12
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11,  // 10-19
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11,  // 20-29
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11,  // 30-39
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11};  // 40-49

const char* const errtxt[n_file_types] = {
    "undefined",        "seg1",
    "axes.info",        ".ax file",
    "weight1.x",        "weightinf.x",
    "tab.manip",        "wttran",
    "incs.inf",         "seg1.xv",
    "segc.index",       "rout.index",
    "intermediate.x",   "inter.lev file",
    "wtknts.x",         "wtf.x file",
    "interalpha.x",     "alpha.info",
    "wmvals.x file",    "nums",
    "tabs.info",        "merge.info",
    "medianinf",        ".flip file",
    ".mult file",       ".inc file",
    ".alph file",       "xvinfo",
    "alias.info",       ".als file",
    ".btx file",        ".bit file",
    "bits.info",        "mvinfo",
    "mvproj",           "xref.info",
    "levinf.xv",        "xvlv file",
    ".ag file",         "language file",
    "xvoutinf file",    "split levels file",
    "panel serial xref file", "combined weights file",
    "axis marginals file",    ".xvf file",
    ".xsf file",        ".bnf file",
    "mpxref.inf file",  nullptr};
// clang-format on

const std::uint8_t curstrvers[40] = {2, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1};

namespace {

constexpr std::uint16_t ident1_value = 2;
constexpr std::uint16_t ident2_value = 0;
constexpr std::uint16_t ident3_value = 0x5555;  // also the first word of out-of-date files
constexpr std::size_t struct_versions_at = 24;

// The buffers the checks read a header into; they outlive each call.
file_header getversn_vers;
file_header getxversion_vers;

bool known_type(int type) { return type >= 0 && type < n_file_types; }

// The name a message gives a type code; codes outside the table are "undefined".
// Code 49 has a version but no name of its own.
const char* type_name(int type) {
  if (!known_type(type)) return errtxt[0];
  return errtxt[type] != nullptr ? errtxt[type] : "unnamed type 49";
}

// Reads up to n bytes, going on after short reads (pipes, terminals) until the
// end of the file or an error. Returns the number of bytes read.
std::size_t read_full(int fd, std::uint8_t* to, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, to + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

bool good_ident(const file_header& h) {
  return be_u16(h, 0) == ident1_value && be_u16(h, 2) == ident2_value &&
         be_u16(h, 4) == ident3_value;
}

bool good_struct_versions(const file_header& h) {
  return std::memcmp(h.data() + struct_versions_at, curstrvers, sizeof curstrvers) == 0;
}

// The split heap sizes of the axis and axis-list records: a 16-bit field that
// holds the size when it fits, and the 32-bit field at offset 4 that always does.
// The record pointers come without a length; each accessor touches only the
// bytes up to its highest offset, which every record of its kind holds.
int wide_or_short(const std::uint8_t* rec, std::size_t short_at) {
  std::span<const std::uint8_t> b(rec, short_at + 2);
  int small = be_i16(b, short_at);
  return small > 0 ? small : be_i32(b, 4);
}
void store_wide_and_short(std::uint8_t* rec, std::size_t short_at, int size) {
  std::span<std::uint8_t> b(rec, short_at + 2);
  put_be32(b, 4, static_cast<std::uint32_t>(size));
  put_be16(b, short_at, static_cast<std::uint16_t>(size < 32768 ? size : 0));
}

}  // namespace

header_check check_header(int fd, short type, file_header& vers) {
  if (read_full(fd, vers.data(), 2) == 0) return header_empty;
  if (be_u16(vers, 0) == ident3_value) return header_out_of_date;
  // A header cut short cannot be checked field by field: it is no file of ours.
  const std::size_t got = 2 + read_full(fd, vers.data() + 2, header_size - 2);
  if (got < static_cast<std::size_t>(header_size) || !good_ident(vers)) return header_unknown;
  if (be_i16(vers, 6) != type || !known_type(type)) return header_other_type;
  if (be_i16(vers, 8) != filevers[type]) return header_other_version;
  if (!good_struct_versions(vers)) return header_other_structure;
  return header_good;
}

std::string header_message(header_check found, const char* name, short type,
                           const file_header& vers) {
  if (name == nullptr) name = "";
  const std::string n = name;
  switch (found) {
    case header_good:
      return {};
    case header_empty:
      return "Error: file " + n + " is empty\n";
    case header_out_of_date:
      return "Error: file " + n + " has out-of-date format\n";
    case header_unknown:
      return "Error: " + n + " is not a recognisable file\n";
    case header_other_type:
      return "Error: wrong file type for " + n + " (" + type_name(type) + " expected, " +
             type_name(be_i16(vers, 6)) + " found)\n";
    case header_other_version:
      return "Error: wrong version of file " + n + " (" + std::to_string(filevers[type]) +
             " expected, " + std::to_string(be_i16(vers, 8)) + " found)\n";
    case header_other_structure:
      return "Error: invalid info in file " + n + "\n";
  }
  return {};
}

int getversn(int fd, const char* name, int, short type, int) {
  file_header& vers = getversn_vers;
  const header_check found = check_header(fd, type, vers);
  if (found == header_good) return fd;
  // The two-part messages go out as two writes, their break before "(".
  const std::string message = header_message(found, name, type, vers);
  const std::size_t paren = message.find(" (");
  const std::size_t split =
      found == header_other_type || found == header_other_version ? paren + 1 : message.size();
  std::fwrite(message.data(), 1, split, stderr);
  std::fputs(message.c_str() + split, stderr);
  return -1;
}

int GetXVersion(std::FILE* stream, int type) {
  file_header& vers = getxversion_vers;
  if (std::fread(vers.data(), header_size, 1, stream) != 1) return -1;
  if (!good_ident(vers)) return -2;
  if (!known_type(type) || be_i16(vers, 6) != type) return -3;
  if (be_i16(vers, 8) != filevers[type]) return -4;
  if (!good_struct_versions(vers)) return -5;
  return 0;
}

void fillinvers(file_header& out, short type) {
  out.fill(0);
  put_be16(out, 0, ident1_value);
  put_be16(out, 2, ident2_value);
  put_be16(out, 4, ident3_value);
  put_be16(out, 6, static_cast<std::uint16_t>(type));
  put_be16(out, 8, static_cast<std::uint16_t>(known_type(type) ? filevers[type] : 0));
  put_be16(out, 10, 111);
  put_be16(out, 12, 4);
  out[14] = 'a';
  out[15] = 'b';
  put_bef32(out, 16, 123.45f);
  put_be32(out, 20, static_cast<std::uint32_t>(std::time(nullptr)));
  std::memcpy(out.data() + struct_versions_at, curstrvers, sizeof curstrvers);
}

void setversn(int fd, short type) {
  file_header h;
  fillinvers(h, type);
  [[maybe_unused]] ssize_t r = ::write(fd, h.data(), h.size());
}

void SetXVersion(std::FILE* stream, short type) {
  file_header h;
  fillinvers(h, type);
  std::fwrite(h.data(), h.size(), 1, stream);
}

long longwrt(int fd, std::int32_t value) {
  std::array<std::uint8_t, 4> b;
  put_be32(b, 0, static_cast<std::uint32_t>(value));
  return ::write(fd, b.data(), b.size());
}

std::int32_t longrd(int fd) {
  std::array<std::uint8_t, 4> b;
  if (read_full(fd, b.data(), b.size()) < b.size()) {
    std::fputs("longread failure \n", stderr);
    return 0;
  }
  return be_i32(b, 0);
}

void hd_copyright(std::FILE* stream, int flag) {
  if (flag == 0 && std::getenv("TXNOPAGE") == nullptr) std::fputs("\n\f\n", stream);
}

int ax_heap(const std::uint8_t* axis_rec) { return wide_or_short(axis_rec, 20); }
int axinf_heap(const std::uint8_t* list_rec) { return wide_or_short(list_rec, 32); }
void s_axheap(std::uint8_t* axis_rec, int size) { store_wide_and_short(axis_rec, 20, size); }
void s_axinfheap(std::uint8_t* list_rec, int size) { store_wide_and_short(list_rec, 32, size); }

int el_textoff(const std::uint8_t* elem_rec) {
  std::span<const std::uint8_t> b(elem_rec, 54);
  return be_i16(b, 36) + 32768 * b[53];
}

void s_eltxtoff(std::uint8_t* elem_rec, int offset) {
  std::span<std::uint8_t> b(elem_rec, 54);
  b[53] = static_cast<std::uint8_t>(offset / 32768);
  put_be16(b, 36, static_cast<std::uint16_t>(offset % 32768));
}

}  // namespace tx
