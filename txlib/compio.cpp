#include "compio.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace tx {

namespace {

constexpr int init_bits = 9;
constexpr int init_maxcode = (1 << init_bits) - 1;
constexpr int clear_code = 256;
constexpr int first_free = 257;  // in block mode; 256 without
constexpr int hash_size = 69001;
constexpr int check_gap = 10000;  // source bytes between two ratio checks
constexpr int max_bits = 16;
constexpr int block_mode_flag = 0x80;
constexpr int bits_mask = 0x1F;
constexpr int table_codes = 1 << max_bits;
// The longest string a sound stream can hold is one byte per code of the table
// plus one; a chain longer than the stack comes from a corrupt stream.
constexpr int stack_size = table_codes + 2;
constexpr std::size_t in_buffer_size = 1 << 16;

const std::uint8_t magic_header[2] = {0x1F, 0x9D};
// Indexed by a bit count 0 to 8: the low n bits, and all but the low n bits.
const std::uint8_t rmask[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};
const std::uint8_t lmask[9] = {0xFF, 0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80, 0x00};

const char* const cerrs[] = {"Not an error",
                             "Not enough memory",
                             "Cannot open file",
                             "Unknown type flag",
                             "Input file not compressed",
                             "Cannot deal with no of bits in input file",
                             "File not open for reading",
                             "File not open for writing",
                             "Write error on compressed file"};

enum comp_error {
  no_error = 0,
  no_memory = 1,
  cannot_open = 2,
  unknown_type = 3,
  not_compressed = 4,
  bad_bits = 5,
  not_reading = 6,
  not_writing = 7,
  write_error = 8
};

// The last failure of any handle; success does not reset it.
int comperror = no_error;

enum comp_mode : short { reading = 1, writing = 2 };

// Read states: 1 start, 2 between strings, 3 delivering a string, 4 string
// delivered and its table entry pending, 5 end of data. Write states: 1
// nothing written yet, 3 compressing, 5 stopped by a write error.
enum comp_state {
  start = 1,
  next_code = 2,
  delivering = 3,
  entry_pending = 4,
  stopped = 5,
  compressing = 3
};

// The largest code of a width once it has grown; at the maximum width the
// limit becomes maxmaxcode and the width stops growing.
int largest_code(int n_bits, int maxbits, int maxmaxcode) {
  return n_bits == maxbits ? maxmaxcode : (1 << n_bits) - 1;
}

}  // namespace

struct comp_file {
  std::FILE* fp = nullptr;
  short mode = 0;
  int state = 0;
  int free_ent = 0;
  int block_mode = 0;
  int clear_flg = 0;
  int n_bits = 0;
  int maxcode = 0;
  int maxmaxcode = 0;
  int hsize = hash_size;
  int maxbits = 0;
  std::uint8_t buf[max_bits] = {};
  int offset = 0;
  int size = 0;  // reading: bit position up to which buf holds whole codes

  // Reading: the string table (prefix code and suffix byte of each code) and
  // the stack on which a string is rebuilt last byte first.
  int finchar = 0;
  int oldcode = 0;
  int incode = 0;
  std::vector<std::uint16_t> prefix;
  std::vector<std::uint8_t> suffix;
  std::vector<std::uint8_t> stack;
  int stackp = 0;  // the string being delivered is at stack[stackp, stack size)
  // Compressed bytes read from fp ahead of the groups taken so far.
  std::vector<std::uint8_t> inbuf;
  int in_pos = 0;
  int in_len = 0;

  // Writing: open-addressed hash of (byte, prefix code) keys and their codes.
  std::int64_t ratio = 0;
  std::int64_t checkpoint = 0;
  int ent = 0;
  int hshift = 0;
  std::int64_t bytes_out = 0;
  std::int64_t in_count = 0;
  std::vector<std::int32_t> htab;
  std::vector<std::uint16_t> codetab;
};

namespace {

// ---- Reading ----

// Takes up to n bytes of the stream into `to`; returns how many there were.
int read_bytes(comp_file* h, std::uint8_t* to, int n) {
  int got = 0;
  while (got < n) {
    if (h->in_pos == h->in_len) {
      h->in_len = static_cast<int>(std::fread(h->inbuf.data(), 1, h->inbuf.size(), h->fp));
      h->in_pos = 0;
      if (h->in_len == 0) break;
    }
    int take = std::min(n - got, h->in_len - h->in_pos);
    std::memcpy(to + got, h->inbuf.data() + h->in_pos, static_cast<std::size_t>(take));
    h->in_pos += take;
    got += take;
  }
  return got;
}

// Starts the next group of codes: raises the width when the table has
// outgrown it, or goes back to 9 bits after a clear code, then takes n_bits
// bytes. False at the end of data, and also when the bytes left hold no whole
// code (only a damaged stream ends that way).
bool next_group(comp_file* h) {
  if (h->free_ent > h->maxcode) {
    ++h->n_bits;
    h->maxcode = largest_code(h->n_bits, h->maxbits, h->maxmaxcode);
  }
  if (h->clear_flg) {
    h->n_bits = init_bits;
    h->maxcode = init_maxcode;
    h->clear_flg = 0;
  }
  int got = read_bytes(h, h->buf, h->n_bits);
  h->offset = 0;
  h->size = got * 8 - (h->n_bits - 1);
  return h->size > 0;
}

// Reads the next code, least significant bit first; -1 at the end of data.
inline int getcode(comp_file* h) {
  if (h->clear_flg || h->offset >= h->size || h->free_ent > h->maxcode) {
    if (!next_group(h)) return -1;
  }
  int r_off = h->offset;
  int bits = h->n_bits;
  const std::uint8_t* bp = h->buf + (r_off >> 3);
  r_off &= 7;
  int code = *bp++ >> r_off;
  bits -= 8 - r_off;
  r_off = 8 - r_off;
  if (bits >= 8) {
    code |= *bp++ << r_off;
    r_off += 8;
    bits -= 8;
  }
  if (bits > 0) code |= (*bp & rmask[bits]) << r_off;
  h->offset += h->n_bits;
  return code;
}

// Where one read call puts its bytes. Every decoded byte is delivered: stored
// and counted while the limit is above 0; the limit drops by one in any case,
// so a line's bytes beyond the buffer are read and dropped.
struct delivery {
  char* out;
  int limit;
  int count = 0;
  bool line_mode;

  void deliver(std::uint8_t c) {
    if (limit > 0) out[count++] = static_cast<char>(c);
    --limit;
  }
  // True when the call has what it came for: a full block, or a whole line.
  bool done(std::uint8_t c) const { return line_mode ? c == '\n' : limit == 0; }
  // Delivers the bytes of the string at stack[sp, stack_size) until they are
  // all delivered or the call is done; true when the call is done.
  bool drain(const std::uint8_t* stack, int& sp) {
    if (!line_mode) {
      int n = std::min(stack_size - sp, limit);
      std::memcpy(out + count, stack + sp, static_cast<std::size_t>(n));
      count += n;
      limit -= n;
      sp += n;
      return limit == 0;
    }
    while (sp < stack_size) {
      std::uint8_t c = stack[sp++];
      deliver(c);
      if (c == '\n') return true;
    }
    return false;
  }
  int finish() {
    if (line_mode) out[count] = '\0';
    return count;
  }
};

// Rebuilds the string of the code just read on the stack, from its last byte
// down, so that it lies in order at stack[stackp, stack_size); sets finchar to
// its first byte. False when the chain does not fit the stack, which only a
// corrupt stream's table can cause.
bool push_string(comp_file* h, int code) {
  std::uint8_t* stack = h->stack.data();
  const std::uint16_t* prefix = h->prefix.data();
  const std::uint8_t* suffix = h->suffix.data();
  int sp = stack_size;
  if (code >= h->free_ent) {
    // A code not yet in the table (KwKwK): the previous string and its
    // first byte. Codes above free_ent are taken the same way.
    stack[--sp] = static_cast<std::uint8_t>(h->finchar);
    code = h->oldcode;
  }
  while (code >= 256) {
    if (sp == 1) return false;
    stack[--sp] = suffix[code];
    code = prefix[code];
  }
  h->finchar = suffix[code];
  stack[--sp] = static_cast<std::uint8_t>(h->finchar);
  h->stackp = sp;
  return true;
}

// The read state machine shared by compread and compfgets. Returns the count
// of bytes stored, or no_data when the data had already ended. States 2 to 4
// follow each other for every code, so they run as one loop that can be
// entered (and left) at any of them.
int decode(comp_file* h, delivery& d, int no_data) {
  if (h->state == stopped) return no_data;
  if (h->state == start) {
    h->stackp = stack_size;
    int code = getcode(h);
    if (code < 0) {
      h->state = stopped;
      return no_data;
    }
    h->oldcode = code;
    h->finchar = code & 0xFF;
    std::uint8_t c = static_cast<std::uint8_t>(h->finchar);
    d.deliver(c);
    h->state = next_code;
    if (d.done(c)) return d.finish();
  }
  for (;;) {
    if (h->state == delivering) {
      bool done = d.drain(h->stack.data(), h->stackp);
      if (h->stackp < stack_size) return d.finish();  // done in the middle of the string
      h->state = entry_pending;
      if (done) return d.finish();
    }
    if (h->state == entry_pending) {
      if (h->free_ent < h->maxmaxcode) {
        h->prefix[h->free_ent] = static_cast<std::uint16_t>(h->oldcode);
        h->suffix[h->free_ent] = static_cast<std::uint8_t>(h->finchar);
        ++h->free_ent;
      }
      h->oldcode = h->incode;
      h->state = next_code;
    }
    int code = getcode(h);
    if (code == clear_code && h->block_mode) {
      h->clear_flg = 1;
      h->free_ent = first_free - 1;
      code = getcode(h);
    }
    if (code < 0 || !push_string(h, code)) {
      h->state = stopped;
      return d.finish();
    }
    h->incode = code;
    h->state = delivering;
  }
}

int read_into(comp_file* h, char* buffer, int limit, bool line_mode, int no_data) {
  if (h == nullptr || buffer == nullptr) return no_data;
  if (h->mode != reading) {
    comperror = not_reading;
    return no_data;
  }
  delivery d{buffer, limit, 0, line_mode};
  return decode(h, d, no_data);
}

// ---- Writing ----

void write_group(comp_file* h, int n) {
  std::fwrite(h->buf, 1, static_cast<std::size_t>(n), h->fp);
  h->bytes_out += n;
}

// Packs one code at bit `offset` of the group, least significant bit first;
// writes the group when it is full, and the group in progress whole when the
// width changes or a clear code went out.
void output(comp_file* h, int code) {
  int r_off = h->offset;
  int bits = h->n_bits;
  std::uint8_t* bp = h->buf + (r_off >> 3);
  r_off &= 7;
  *bp = static_cast<std::uint8_t>((*bp & rmask[r_off]) | ((code << r_off) & lmask[r_off]));
  ++bp;
  bits -= 8 - r_off;
  code >>= 8 - r_off;
  if (bits >= 8) {
    *bp++ = static_cast<std::uint8_t>(code);
    code >>= 8;
    bits -= 8;
  }
  if (bits > 0) *bp = static_cast<std::uint8_t>(code);
  h->offset += h->n_bits;
  if (h->offset == h->n_bits * 8) {
    write_group(h, h->n_bits);
    h->offset = 0;
  }
  if (h->free_ent > h->maxcode || h->clear_flg) {
    if (h->offset > 0) write_group(h, h->n_bits);
    h->offset = 0;
    if (h->clear_flg) {
      h->n_bits = init_bits;
      h->maxcode = init_maxcode;
      h->clear_flg = 0;
    } else {
      ++h->n_bits;
      h->maxcode = largest_code(h->n_bits, h->maxbits, h->maxmaxcode);
    }
  }
}

// Past each checkpoint with the table full: when the compression ratio has
// stopped rising, forget all strings and send a clear code.
void ratio_check(comp_file* h) {
  h->checkpoint = h->in_count + check_gap;
  std::int64_t rat;
  if (h->in_count > 0x7FFFFF) {
    std::int64_t div = h->bytes_out >> 8;
    rat = div == 0 ? 0x7FFFFFFF : h->in_count / div;
  } else {
    rat = (h->in_count << 8) / h->bytes_out;
  }
  if (rat > h->ratio) {
    h->ratio = rat;
    return;
  }
  h->ratio = 0;
  std::fill(h->htab.begin(), h->htab.end(), -1);
  h->free_ent = first_free;
  h->clear_flg = 1;
  output(h, clear_code);
}

// Writes the 3-byte header; false (and the handle stopped) on a write error.
bool start_output(comp_file* h) {
  std::uint8_t header[3] = {magic_header[0], magic_header[1],
                            static_cast<std::uint8_t>(h->maxbits | h->block_mode)};
  std::fwrite(header, 1, sizeof header, h->fp);
  if (std::ferror(h->fp)) {
    h->state = stopped;
    comperror = write_error;
    return false;
  }
  h->offset = 0;
  h->bytes_out = sizeof header;
  h->clear_flg = 0;
  h->ratio = 0;
  h->checkpoint = check_gap;
  h->hshift = 0;
  for (int f = h->hsize; f < 65536; f *= 2) ++h->hshift;
  h->hshift = 8 - h->hshift;
  std::fill(h->htab.begin(), h->htab.end(), -1);
  return true;
}

// Compresses data[0..n) into the table and the code stream.
void compress_bytes(comp_file* h, const std::uint8_t* data, int n) {
  // Local copies: the tables are written through pointers the compiler would
  // otherwise have to assume alias the handle's fields.
  const int hsize = h->hsize;
  const int maxbits = h->maxbits;
  const int hshift = h->hshift;
  std::int32_t* htab = h->htab.data();
  std::uint16_t* codetab = h->codetab.data();
  int ent = h->ent;
  std::int64_t in_count = h->in_count;
  for (int k = 0; k < n; ++k) {
    int c = data[k];
    ++in_count;
    std::int32_t fcode = (static_cast<std::int32_t>(c) << maxbits) + ent;
    int i = (c << hshift) ^ ent;
    if (htab[i] == fcode) {
      ent = codetab[i];
      continue;
    }
    if (htab[i] >= 0) {
      int disp = i == 0 ? 1 : hsize - i;
      bool found = false;
      do {
        i -= disp;
        if (i < 0) i += hsize;
        if (htab[i] == fcode) {
          found = true;
          break;
        }
      } while (htab[i] > 0);
      if (found) {
        ent = codetab[i];
        continue;
      }
    }
    h->in_count = in_count;
    output(h, ent);
    ent = c;
    if (h->free_ent < h->maxmaxcode) {
      codetab[i] = static_cast<std::uint16_t>(h->free_ent++);
      htab[i] = fcode;
    } else if (in_count >= h->checkpoint && h->block_mode) {
      ratio_check(h);
    }
  }
  h->ent = ent;
  h->in_count = in_count;
}

// Ends the code stream: the pending code and the used bytes of the last group.
void finish_output(comp_file* h) {
  if (h->state == start) {
    // Nothing was written: the header alone is an empty stream.
    if (!start_output(h)) return;
  } else if (h->state == compressing) {
    output(h, h->ent);
    if (h->offset > 0) write_group(h, (h->offset + 7) / 8);
    h->offset = 0;
  } else {
    return;
  }
  std::fflush(h->fp);
  if (std::ferror(h->fp)) {
    h->state = stopped;
    comperror = write_error;
  }
}

bool allocate_tables(comp_file* h) {
  try {
    if (h->mode == reading) {
      h->prefix.assign(table_codes, 0);
      h->suffix.assign(table_codes, 0);
      h->stack.assign(stack_size, 0);
      h->inbuf.assign(in_buffer_size, 0);
      for (int code = 0; code < 256; ++code) h->suffix[code] = static_cast<std::uint8_t>(code);
    } else {
      h->htab.assign(hash_size, 0);
      h->codetab.assign(hash_size, 0);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

comp_file* fail(std::unique_ptr<comp_file>& h, int code) {
  if (h && h->fp != nullptr) std::fclose(h->fp);
  comperror = code;
  return nullptr;
}

// Reads and checks the 3-byte header of a stream opened for reading.
int read_header(comp_file* h) {
  std::uint8_t header[3];
  if (read_bytes(h, header, 2) != 2 || header[0] != magic_header[0] || header[1] != magic_header[1])
    return not_compressed;
  if (read_bytes(h, header + 2, 1) != 1) return not_compressed;
  h->block_mode = header[2] & block_mode_flag;
  h->maxbits = header[2] & bits_mask;
  // Below 9 bits no code could be decoded; above 16 the table is too small.
  if (h->maxbits < init_bits || h->maxbits > max_bits) return bad_bits;
  h->maxmaxcode = 1 << h->maxbits;
  return no_error;
}

}  // namespace

comp_file* compopen(const char* path, const char* mode, int bits) {
  if (bits == 0) bits = max_bits;
  if (bits < 12 || bits > max_bits) {
    comperror = bad_bits;
    return nullptr;
  }
  std::unique_ptr<comp_file> h(new (std::nothrow) comp_file);
  if (!h) return fail(h, no_memory);
  if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w')) return fail(h, unknown_type);
  h->mode = mode[0] == 'r' ? reading : writing;
  if (!allocate_tables(h.get())) return fail(h, no_memory);
  h->fp = path != nullptr ? std::fopen(path, mode) : nullptr;
  if (h->fp == nullptr) return fail(h, cannot_open);
  h->block_mode = block_mode_flag;
  h->checkpoint = check_gap;
  h->maxbits = bits;
  h->maxmaxcode = 1 << bits;
  h->hsize = hash_size;
  if (h->mode == reading) {
    int err = read_header(h.get());
    if (err != no_error) return fail(h, err);
  }
  h->n_bits = init_bits;
  h->maxcode = init_maxcode;
  h->free_ent = h->block_mode ? first_free : first_free - 1;
  h->state = start;
  return h.release();
}

int compread(comp_file* h, char* buffer, int n) {
  // A call that may store nothing must not decode either: the bytes would be lost.
  if (n <= 0) return 0;
  return read_into(h, buffer, n, false, 0);
}

int compfgets(char* buffer, int size, comp_file* h) {
  // No room even for the terminating NUL.
  if (size <= 0) return -1;
  return read_into(h, buffer, size - 1, true, -1);
}

int compwrite(comp_file* h, const char* data, int n) {
  if (h == nullptr) return 0;
  if (h->mode != writing) {
    comperror = not_writing;
    return 0;
  }
  if (h->state == stopped) return 0;
  if (n <= 0 || data == nullptr) return 0;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  if (h->state == start) {
    if (!start_output(h)) return 0;
    h->in_count = 1;
    h->ent = bytes[0];
    h->state = compressing;
    compress_bytes(h, bytes + 1, n - 1);
  } else {
    compress_bytes(h, bytes, n);
  }
  return n;
}

int compclose(comp_file* h) {
  if (h == nullptr) return -1;
  std::unique_ptr<comp_file> owned(h);
  int result = 0;
  if (h->mode == writing) {
    finish_output(h);
    if (h->state == stopped) result = -1;
  }
  if (std::fclose(h->fp) != 0 && h->mode == writing) {
    comperror = write_error;
    result = -1;
  }
  return result;
}

long compftell(comp_file* h) {
  if (h == nullptr) return -1;
  long pos = std::ftell(h->fp);
  // Bytes read ahead are not yet taken.
  return pos < 0 || h->mode != reading ? pos : pos - (h->in_len - h->in_pos);
}

long compout(comp_file* h) {
  return h != nullptr && h->mode == writing ? static_cast<long>(h->bytes_out) : 0;
}

long compsrc(comp_file* h) {
  return h != nullptr && h->mode == writing ? static_cast<long>(h->in_count) : 0;
}

const char* comperrstr() {
  return comperror >= 0 && comperror < static_cast<int>(std::size(cerrs)) ? cerrs[comperror]
                                                                          : cerrs[0];
}

}  // namespace tx
