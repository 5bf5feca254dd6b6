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
// ("ours-1thread"), the two points of the scaling note.
void RegisterOurs(const std::string &operation, int size, const std::function<void(benchmark::State &)> &run);

void RegisterPixelOperations();
void RegisterConversions();
void RegisterPixelAccess();
void RegisterBmp();
void RegisterView();
void RegisterPhotograph();
void RegisterPhoneFormats();

} // namespace bench
