// The message an action throws, a bounded address space, a user without
// privileges.
#include "support/failures.h"

#include "platform/base/strings_and_errors.h"

#include <cstdio>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

std::string MessageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Exception &error) {
        return error.Message().toStdString();
    }
    return NoException;
}

std::string CannotOpen(const QString &path, const QString &reason)
{
    return "Cannot open \"" + path.toStdString() + "\": " + reason.toStdString();
}

std::string CannotSave(const QString &path, const QString &reason)
{
    return "Cannot save \"" + path.toStdString() + "\": " + reason.toStdString();
}

bool LimitAddressSpace(std::size_t headroom)
{
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    const bool read = statm && std::fscanf(statm, "%lu", &pages) == 1;
    if (statm) std::fclose(statm);
    if (!read) return false;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom;
    const rlimit bounds{limit, limit};
    return setrlimit(RLIMIT_AS, &bounds) == 0;
}

bool BecomeUnprivilegedUser()
{
    if (::geteuid() != 0) return true;
    constexpr unsigned Nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(Nobody, Nobody, Nobody) == 0 && ::setresuid(Nobody, Nobody, Nobody) == 0;
}
