// Plain system calls on files and folders, shared by the code that reads
// and writes whole files: descriptors closed on every way out, the
// system's reasons in this program's wording, folders synced.
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

// Writes every byte at the descriptor's position, carrying on after a
// short write. Gives 0, or the error (ENOSPC for a write that takes none).
int WriteFully(int fd, const void *bytes, std::size_t size);

// Makes the folder's entries (a file just made or removed) last through a
// crash. Gives 0, or the error; a file system that cannot sync folders is
// no error.
int SyncFolder(int folder);
