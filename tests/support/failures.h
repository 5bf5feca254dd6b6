// Helpers for tests of failures: the message an action throws, and a
// bounded address space for death tests.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The message of the Exception the action throws, or "(no exception)".
std::string MessageOf(const std::function<void()> &action);

// Lets this process's address space grow by only `headroom` more bytes:
// for death tests, whose child process it ends with. False when it cannot.
bool LimitAddressSpace(std::size_t headroom);
