// Files on disk as the tests set them up and read them back.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file's bytes, or none when it cannot be read.
QByteArray FileBytes(const QString &path);
// Writes the bytes as the whole file; a failure fails the test.
void PutFile(const QString &path, const QByteArray &bytes);
// Every entry of a folder, hidden and special ones too, by name.
QStringList Listing(const QString &dir);

// Points the user's cache folder (XDG_CACHE_HOME), where saves in place
// record themselves, at `path` for the object's lifetime.
class TCacheFolderAt {
public:
    explicit TCacheFolderAt(const QString &path);
    ~TCacheFolderAt();
    TCacheFolderAt(const TCacheFolderAt &) = delete;
    TCacheFolderAt &operator=(const TCacheFolderAt &) = delete;

private:
    QByteArray previous_;
};
