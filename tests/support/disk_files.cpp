// Files on disk as the tests set them up and read them back.
#include "support/disk_files.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PutFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList Listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TCacheFolderAt::TCacheFolderAt(const QString &path) : previous_(qgetenv("XDG_CACHE_HOME"))
{
    qputenv("XDG_CACHE_HOME", QFile::encodeName(path));
}

TCacheFolderAt::~TCacheFolderAt() { qputenv("XDG_CACHE_HOME", previous_); }
