// Registration of the benchmarks, one function per file, and the naming they share.
#pragma once

#include "platform/base/parallel_pieces.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace bench {

// Names are "<operation>/<implementation>/<size>": table.py pairs ours with
// each peer of the same operation and size.
benchmark::internal::Benchmark *Register(const std::string &operation, const std::string &implementation, int size,
                                         std::function<void(benchmark::State &)> run);

// Ours twice: on every core ("ours") and held to one thread
// ("ours-1thread"), the two points of the scaling note. minSeconds, when
// given, is each repetition's least measured time whatever the command
// line says: a row whose one run takes longer than the usual least time
// would otherwise give each repetition one run, one moment of a machine
// whose pace swings from second to second (docs/benchmarks.md, "Every
// core: scaling").
void RegisterOurs(const std::string &operation, int size, const std::function<void(benchmark::State &)> &run,
                  double minSeconds = 0);

void RegisterPixelOperations();
void RegisterConversions();
void RegisterPixelAccess();
void RegisterBmp();
void RegisterView();
void RegisterPhotograph();
void RegisterPhoneFormats();
// The machine's own gain from a second thread, beside the rows of computation.
void RegisterScalingReferences();

} // namespace bench
