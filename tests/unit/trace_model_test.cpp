#include "trace_model.h"

#include <gtest/gtest.h>

namespace {

// The reader is strict (one spelling per text); the traces this project
// ships were all written by its writer.
TEST(TraceModel, BundledTracesLoad) {
  for (const char* name : {"generated", "idle", "build", "file-io"}) {
    replay::trace_model m;
    std::string error;
    EXPECT_TRUE(replay::load_trace(std::string(TRACES_DIR "/") + name + ".txt", &m, &error)) << error;
    EXPECT_GT(m.duration_ms, 1000) << name;
  }
}

}  // namespace
