// The name, command-line and status readers over any bytes the kernel could hand them.
#include <cstring>

#include "fuzz_input.h"
#include "process_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As the readers do: at most 72 bytes for the name, 256 for the command line, 128 for the status.
  char bytes[257];
  char text[cmdline_text_size];

  const size_t comm_count = size < 72 ? size : 72;
  memcpy(bytes, data, comm_count);
  comm_text_from(bytes, static_cast<long>(comm_count), text);
  FUZZ_CHECK(strlen(text) <= 72);
  if (comm_count == 0) FUZZ_CHECK(strcmp(text, "(null)") == 0);

  const size_t cmdline_count = size < 256 ? size : 256;
  memcpy(bytes, data, cmdline_count);
  cmdline_text_from(bytes, static_cast<long>(cmdline_count), text);
  FUZZ_CHECK(strlen(text) <= 256);
  if (cmdline_count == 0) FUZZ_CHECK(strcmp(text, "(null)") == 0);
  // No NUL survives: the text is as long as the bytes, less a final newline.
  if (cmdline_count > 0) FUZZ_CHECK(strlen(text) == cmdline_count - (data[cmdline_count - 1] == '\n' ? 1 : 0));

  const size_t status_count = size < 128 ? size : 128;
  memcpy(bytes, data, status_count);
  const int ppid = ppid_from_status(bytes, static_cast<long>(status_count));
  if (status_count < 64) FUZZ_CHECK(ppid == 0);
  return 0;
}
