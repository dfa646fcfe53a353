// The descriptions file of a job (descrips.inf): labels and descriptive texts
// of axes, incs, weights and other objects, looked up by tag. Stored as a
// compress (.Z) stream of text lines. Four handles can be in use at once.
#pragma once

namespace tx {

inline constexpr int n_desc_handles = 4;

enum desc_type {
  desc_any = 0,
  desc_axis = 1,
  desc_inc = 2,
  desc_alph = 3,
  desc_bit = 4,
  desc_axlist = 5,
  desc_weight = 6,
  desc_group = 7
};

int DescsLoad(const char* path, int extra_slots, int can_grow, int* count);
int DescsCreate(int slots, int can_grow);
char* DescsAdd(int handle, int type, int level, const char* label, const char* descript,
               int* moved);
int DescsRemoveTag(int handle, const char* tag);
int DescsSave(int handle, const char* path);
void DescsDestroy(int handle);
const char* DescsErrorString(int code);

char* DescsFindTag(int handle, int type, const char* label);
char* DescsFindFirstTag(int handle, int type);
char* DescsFindNextTag(int handle, int type);

int TagGetAllInfo(int handle, const char* tag, int* type, int* level, char** label,
                  char** descript);
char* TagGetLabel(int handle, const char* tag);
char* TagGetDescript(int handle, const char* tag);
int TagGetType(int handle, const char* tag);
int TagGetLevel(int handle, const char* tag);
int TagGetGrid(int handle, const char* tag);
int TagGetWmid(int handle, const char* tag);
char* TagGetParent(int handle, const char* tag);
int TagGetUserCreated(int handle, const char* tag);
int TagSetLabel(int handle, const char* tag, const char* label, int* moved);
int TagSetDescript(int handle, const char* tag, const char* descript, int* moved);
int TagSetLevel(int handle, const char* tag, int level);
int TagSetGrid(int handle, const char* tag, int grid);
int TagSetWmid(int handle, const char* tag, int wmid);
int TagSetUserCreated(int handle, const char* tag, int flag);
int TagSetParent(int handle, const char* tag, const char* parent);

// Destroys the handle when it leaves scope, also when the run stops on the way.
struct descs_guard {
  int handle = -1;
  ~descs_guard() { DescsDestroy(handle); }
};

}  // namespace tx
