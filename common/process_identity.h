// A process's name, command line and parent, read afresh from /proc.
#pragma once

inline constexpr int comm_text_size = 73;      // 72 bytes read and a terminator
inline constexpr int cmdline_text_size = 257;  // 256 bytes read and a terminator

// Name without its newline, or "(null)". Returns the byte count of the read.
int read_comm(char* text, int pid);
// Command line with NULs as blanks (at most 256 bytes), or "(null)" when empty
// or unreadable. Returns the byte count of the read.
int read_cmdline(char* text, int pid);
// Parent pid from the first 128 bytes of the status file; 0 when not found.
int read_ppid(int pid);
// Whether the process has no program file (no exe link), as kernel threads
// (and ended processes) have none. Any process may take a kernel thread's
// name or an empty command line; none can shed its program file.
bool is_kernel_thread(int pid);

// Pure halves over bytes already read, for the readers above.
void comm_text_from(const char* bytes, long count, char* text);
void cmdline_text_from(char* bytes, long count, char* text);
int ppid_from_status(char* bytes, long count);
