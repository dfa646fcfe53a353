// Files in the Unix compress (.Z) format: a 3-byte header (0x1F 0x9D, flags)
// and LZW codes of 9 up to maxbits bits, read and written through a handle
// shaped like the stream calls.
#pragma once
#include <cstdint>
#include <cstdio>

namespace tx {

struct comp_file;  // defined in compio.cpp

// mode "rb" or "wb"; bits 0 (=16) or 12..16 for writing, checked only when
// reading. Null on failure, with comperrstr() telling why.
comp_file* compopen(const char* path, const char* mode, int bits);
int compread(comp_file* h, char* buffer, int n);       // bytes stored, 0 at end
int compfgets(char* buffer, int size, comp_file* h);   // chars stored, -1 at end
int compwrite(comp_file* h, const char* data, int n);  // n, or 0 on error
int compclose(comp_file* h);                           // 0, or -1 on a write error
long compftell(comp_file* h);
long compout(comp_file* h);
long compsrc(comp_file* h);
const char* comperrstr();

}  // namespace tx
