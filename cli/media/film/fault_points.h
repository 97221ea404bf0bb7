// Places where a test may have the command killed, to show that no moment
// of a run loses work: CRESTDOUBLER_KILL_AT=NAME:N kills the process with
// SIGKILL when it passes point NAME for the N-th time; NAME:N:SIGNAL raises
// signal number SIGNAL there instead.
#pragma once

#include <cstdint>

namespace crest::cli {

void faultPoint(const char* name, std::int64_t count);

}  // namespace crest::cli
