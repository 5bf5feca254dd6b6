// Plain system calls on files and folders, shared by the code that reads
// and writes whole files: descriptors closed on every way out, the
// system's reasons in this program's wording, waits for a pipe or device,
// folders synced.
#pragma once

#include <QString>

#include <cstddef>
#include <unistd.h>

// The system's reason for an error number, as the end of a sentence
// ("no space left on device").
QString SystemReason(int error);

// Closes the descriptor on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TDescriptor(const TDescriptor &) = delete;
    TDescriptor &operator=(const TDescriptor &) = delete;
    int Get() const { return fd_; }
    // Closes now, giving the error a close reports (a write the system
    // finished late can fail only here).
    int Close();

private:
    int fd_;
};

// How long a pipe or device may give nothing before reading or writing
// it is given up, when the user does not cancel first.
inline constexpr int IdleSecondsAllowed = 10;

// Waits at most a short step (so that a cancel is seen soon) for the
// descriptor to be ready for poll's `events`; counts the time it stayed
// idle in idleMilliseconds and gives up once IdleSecondsAllowed have passed
// so, throwing Exception ("nothing could be <doing> it for 10 seconds").
// Throws ECancelled when the current work was cancelled.
void WaitForReady(int fd, short events, int &idleMilliseconds, const char *doing);

// Writes every byte at the descriptor's position, carrying on after a
// short write. Gives 0, or the error (ENOSPC for a write that takes none).
int WriteFully(int fd, const void *bytes, std::size_t size);

// Makes the folder's entries (a file just made or removed) last through a
// crash. Gives 0, or the error; a file system that cannot sync folders is
// no error.
int SyncFolder(int folder);
