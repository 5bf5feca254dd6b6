// Memory from malloc, calloc or realloc (or a C library that hands out such
// memory to be freed), owned as a unique_ptr that frees it.
#pragma once

#include <cstdlib>
#include <memory>

// Memory that must go back through free(): a picture's pixels and file
// bytes grow with realloc and come zeroed from calloc, which new[] offers
// neither of.
struct TFree {
    void operator()(void *memory) const { std::free(memory); }
};

// An array of T, or one T (what a C library returned), freed with free().
template <typename T>
using TMallocPtr = std::unique_ptr<T, TFree>;
