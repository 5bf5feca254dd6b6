// A small tmpfs for a test: a full or read-only place to save into.
#pragma once

#include <QProcess>
#include <QString>

#include <unistd.h>

// Mounted only when running as root where mounting works; tests skip otherwise.
class TmpfsMount {
public:
    explicit TmpfsMount(const QString &dir) : dir_(dir)
    {
        mounted_ = geteuid() == 0
                   && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                                  QStringLiteral("size=64k"), QStringLiteral("tmpfs"), dir}) == 0;
    }
    ~TmpfsMount()
    {
        if (mounted_) QProcess::execute(QStringLiteral("umount"), {dir_});
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;
    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() const
    {
        return QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), dir_}) == 0;
    }

private:
    QString dir_;
    bool mounted_ = false;
};

