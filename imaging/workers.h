// Optional helper threads for the full-image passes: a small pool started on first use and kept
// for the life of the process. Off (one thread) unless lumoSetScanThreads asks for more.
#pragma once

#include <cstdint>

namespace lumo {

// Threads a full-image pass may use (1 = the caller alone).
int scanThreads();

// Runs job(context, part, parts) for part = 0 .. parts - 1, part 0 on the calling thread and the
// others on pool threads, and returns when every part has finished. parts is at most
// scanThreads(); with one part (or when no pool thread could be started) everything runs on the
// caller. Blocks only for the jobs' own (finite, CPU-bound) work.
using PartJob = void (*)(void* context, int part, int parts);
void runParts(int parts, PartJob job, void* context);

}  // namespace lumo
