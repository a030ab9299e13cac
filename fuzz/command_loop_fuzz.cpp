// libFuzzer target: each input is the standard input of one session of the
// command loop (fuzz_session.h). A broken rule aborts, so libFuzzer keeps the
// input as a finding, next to what the sanitizers report by themselves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Never destroyed: the worker thread must outlive every input.
  static orvel::fuzz::SessionRunner* runner = new orvel::fuzz::SessionRunner;
  const std::string problem = runner->run(reinterpret_cast<const char*>(data), size);
  if (!problem.empty()) {
    std::fprintf(stderr, "command loop fuzz: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
