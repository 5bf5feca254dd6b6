// Saves that write over a file in place keep a copy of its old bytes until
// the new ones are on disk (kept_copy.h), and record it in the user's cache
// folder while they run: when the program was killed in the middle of one,
// the next start finds the copy and tells the user where it is.
#pragma once

#include "platform/files/disk/system_calls.h"

#include <QString>

#include <cstdint>

// "picture-workbench/unfinished-saves" in the user's cache folder
// (XDG_CACHE_HOME, else ~/.cache): the records, and the copies that cannot
// lie beside their file.
QString UnfinishedSavesFolder();

// A new name in folder for a copy of the named file: hidden, the file's
// name with ".old-" and six random letters before its extension
// (".photo.old-Xq3b9Z.bmp"), shortened to fit the system's limit.
QString CopyNameFor(const QString &folder, const QString &fileName);

// The record of one save in progress, naming the file, its copy and the
// old bytes' count. Written and synced, with its folder, before the copy
// is made; removed once the copy is gone. While it stands the folder is
// held, so that another instance of the program starting meanwhile leaves
// the records of living saves alone.
class TSaveRecord {
public:
    // Throws Exception with the reason alone.
    TSaveRecord(const QString &fileName, const QString &copy, std::uint64_t oldSize);
    ~TSaveRecord();
    TSaveRecord(const TSaveRecord &) = delete;
    TSaveRecord &operator=(const TSaveRecord &) = delete;

private:
    TDescriptor folder_;
    QString path_;
};

// Tells of the saves a killed program left unfinished: throws Exception
// naming each file and the copy that keeps its old picture, once. A save
// killed before it touched its file is cleared away without a word, its
// copy with it. Does nothing while another instance is saving in place.
void CheckUnfinishedSaves();
