// The tunables that a user or an app may edit while vmkd runs: one decimal
// integer per file in shared storage, read afresh on every use.
#pragma once

#include "user_params.h"

inline constexpr const char* param_dir = "/data/media/0/vmk_params";

// Value of the key; a missing file is created with the default, which is
// returned. An existing file that holds no number reads as 0 and stays as it is.
int read_param(const char* key, int default_value);
inline int read_param(const user_param& p) { return read_param(p.key, p.default_value); }
// Puts a new file in the key's place. Neither creates nor leaves a file that
// is empty or cut short: when the text cannot be written whole, there is none.
void write_param(const char* key, int value);
// Deletes the key's file; false when it exists and could not be deleted.
bool remove_param(const char* key);
// What stands at a key's path when that is no file of its own (any app can
// put anything there): it keeps the face's writes out.
enum class param_obstacle {
  none,         // a file, or nothing
  full_folder,  // a folder that is not empty
  folder,       // a folder that could not be removed for another reason, or came back
  fifo,
  socket,
  device,
  link,
  other,
};
// For the face's writes: as write_param, where the key's path holds a file or
// nothing. An empty folder there is removed first (rmdir: never what is in
// one); anything else is left as it is, nothing is written, and it is
// returned. none does not say the write succeeded: stored_param tells.
param_obstacle write_param_over_file(const char* key, int value);

// What the key's file holds, for checking a write: false when there is no
// such file or no number in it. Creates nothing.
bool stored_param(const char* key, int* value);

// The same, on a directory of the caller's choice.
int read_param_in(const char* dir, const char* key, int default_value);
void write_param_in(const char* dir, const char* key, int value);
param_obstacle write_param_over_file_in(const char* dir, const char* key, int value);
bool remove_param_in(const char* dir, const char* key);
