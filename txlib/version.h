// The 64-byte header of every binary job file: identification, file type and
// version, fixed markers, time of writing and the structure-version block.
// Also the split heap-size and text-offset fields of the axis files.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tx {

inline constexpr int header_size = 64;
inline constexpr int n_file_types = 50;

// Layout (big-endian): 0 ident1=2, 2 ident2=0, 4 ident3=0x5555, 6 file_type,
// 8 file_version, 10 marker1=111, 12 marker2=4, 14 "ab", 16 float 123.45,
// 20 written_at (seconds since 1970), 24 struct_versions (40 bytes).
using file_header = std::array<std::uint8_t, header_size>;

extern const std::int16_t filevers[n_file_types];
extern const char* const errtxt[n_file_types];  // errtxt[49] is null
extern const std::uint8_t curstrvers[40];

// What the header check found: a good header, or the first thing wrong.
// The first three mean the file is no file of the system at all.
enum header_check {
  header_good = 0,
  header_empty,
  header_out_of_date,  // first word 0x5555
  header_unknown,      // cut short, or a wrong identification pattern
  header_other_type,
  header_other_version,
  header_other_structure,  // struct_versions differs
};
// getversn's check without its message: reads the header on fd into `vers`.
header_check check_header(int fd, short type, file_header& vers);
// getversn's message for a refusal of file `name` ("" when good).
std::string header_message(header_check found, const char* name, short type,
                           const file_header& vers);
// Reads and checks the header on descriptor fd; leaves fd just after it.
// Returns fd, or -1 after one message on the standard error.
int getversn(int fd, const char* name, int unused1, short type, int unused2);
// The same on a stream, silently: 0 good, -1 short, -2 ident, -3 type,
// -4 version, -5 structure block.
int GetXVersion(std::FILE* stream, int type);
void fillinvers(file_header& out, short type);
void setversn(int fd, short type);
void SetXVersion(std::FILE* stream, short type);
long longwrt(int fd, std::int32_t value);
std::int32_t longrd(int fd);
void hd_copyright(std::FILE* stream, int flag);

// Split fields; rec points at the record's first byte.
int ax_heap(const std::uint8_t* axis_rec);     // short at 20 if > 0, else wide at 4
int axinf_heap(const std::uint8_t* list_rec);  // short at 32 if > 0, else wide at 4
int el_textoff(const std::uint8_t* elem_rec);  // short at 36 + 32768 * byte 53
void s_axheap(std::uint8_t* axis_rec, int size);
void s_axinfheap(std::uint8_t* list_rec, int size);
void s_eltxtoff(std::uint8_t* elem_rec, int offset);

}  // namespace tx
