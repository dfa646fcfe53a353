// Text references of loaded files. Texts are used where they lie, so the
// dereference hands the pointer back unchanged.
#pragma once

namespace tx {
inline const char* PtGlobDeref(const char* p) { return p; }
inline char* PtGlobDeref(char* p) { return p; }
inline const char* PtGlobAddRef(const char* p) { return p; }
// Makes the buffer an empty text; the second argument is not used.
int PtFileName(char* buffer, int unused);
}  // namespace tx
