// Helpers for tests of failures: the message an action throws, and for
// death tests a bounded address space and a user without privileges.
#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <string>

// The message of the Exception the action throws, or NoException.
inline const std::string NoException = "(no exception)";
std::string MessageOf(const std::function<void()> &action);

// What a failed open or save says, in the words the user reads:
// Cannot open "path": reason.
std::string CannotOpen(const QString &path, const QString &reason);
std::string CannotSave(const QString &path, const QString &reason);

// Lets this process's address space grow by only `headroom` more bytes:
// for death tests, whose child process it ends with. False when it cannot.
bool LimitAddressSpace(std::size_t headroom);

// Makes this process one whose permissions the system checks: as root it
// becomes the user and group nobody (65534) for good, otherwise it stays as
// it is. For death tests, whose child process it changes. False when it
// cannot.
bool BecomeUnprivilegedUser();
