// A copy of a file's old bytes, kept while the file is written over in
// place: a save that fails half-way puts them back, and after one killed
// half-way the next start tells where they are (unfinished_saves.h).
#pragma once

#include "platform/files/disk/unfinished_saves.h"

#include <QString>

#include <cstdint>
#include <memory>

class TKeptCopy {
public:
    // Copies the `size` bytes of the open file `from`, named fileName:
    // beside it where its folder may be written, else in
    // UnfinishedSavesFolder(). The copy is recorded before it is made, and
    // it and its folder are synced before this returns. Throws Exception
    // with the reason alone, or ECancelled; either way nothing is left.
    TKeptCopy(const QString &fileName, int from, std::uint64_t size);
    // Removes the copy, then its record, unless the copy is kept.
    ~TKeptCopy();
    TKeptCopy(const TKeptCopy &) = delete;
    TKeptCopy &operator=(const TKeptCopy &) = delete;

    // Writes the old bytes back over the open file `to` and cuts it to
    // their size, synced. False when that fails.
    bool PutBack(int to) const;
    // Leaves the copy for the user, who is told its name now; its record
    // goes. Gives the copy's name.
    const QString &Keep();

private:
    // Makes the copy at path_; throws Exception with the reason alone.
    void Make(int from) const;

    QString path_;
    std::uint64_t size_;
    std::unique_ptr<TSaveRecord> record_;
    bool kept_ = false;
};
