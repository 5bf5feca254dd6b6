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
