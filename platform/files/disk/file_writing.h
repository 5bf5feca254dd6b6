// Picture files written over where they are, with plain system calls: a
// pipe or device never waited on for good, and a regular file that must
// keep its identity written in place with its old bytes kept aside until
// the new ones are on disk.
#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes over the named existing file that is not a regular file (a
// pipe, a device), without ever waiting for good: a pipe without a reader
// is refused. Past its checks, before the first byte goes out, the work can
// no longer be cancelled (BeginFinishing). Throws Exception with the reason
// alone.
void WriteToSpecialFile(const QString &fileName, const QByteArray &bytes);

// Whether saving over this existing regular file must write into it rather
// than rename a new file over it: when the file has other names (hard
// links), another owner or group, mode bits a new file would not get, or
// lies in a folder the user cannot write.
bool MustWriteInPlace(const QString &fileName);

// Gives the open file `to` every extended attribute of the named file (user
// attributes such as tags, access lists), if it has any. False when one
// cannot be read or given.
bool CopyExtendedAttributes(const QString &fromFile, int to);

// Overwrites the named regular file with bytes, keeping its identity
// (inode, links, owner, group, mode). Its old bytes are copied aside first
// (TKeptCopy) and stay there until the new ones are synced, so that a kill
// at any moment leaves the old picture or the new one; the work can be
// cancelled until then (BeginFinishing). The space for the new bytes is
// reserved before the first old byte is replaced, and a failure after that
// puts the old bytes back. Throws Exception with the reason alone.
void WriteInPlace(const QString &fileName, const QByteArray &bytes);
