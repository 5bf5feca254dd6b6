// What the command line asks for.
#include "command_line.h"

#include <QUrl>

namespace {

TCommandLine Refused(const QString &mistake) { return {TCommandLine::TAction::Refuse, {}, mistake}; }

// The local path a file:// URI names, or a refusal. Only the whole path is
// taken: a "?" or "#" in a file's name is written %3F or %23 in its URI.
TCommandLine FromFileUri(const QString &argument)
{
    const QUrl uri(argument, QUrl::StrictMode);
    if (!uri.isValid()) return Refused(QStringLiteral("%1 is not a valid file URI").arg(argument));
    const QString host = uri.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return Refused(QStringLiteral("%1 names a file on another computer (%2)").arg(argument, host));
    const QString path = uri.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || uri.hasQuery() || uri.hasFragment())
        return Refused(QStringLiteral("%1 is not a file URI of a whole path").arg(argument));
    return {TCommandLine::TAction::Run, path, {}};
}

bool IsFileUri(const QString &argument) { return argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive); }

} // namespace

TCommandLine ReadCommandLine(const QStringList &arguments)
{
    QStringList files;
    bool options = true;
    for (const QString &argument : arguments) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            if (argument == QLatin1String("--help")) return {TCommandLine::TAction::PrintUsage, {}, {}};
            if (argument == QLatin1String("--version")) return {TCommandLine::TAction::PrintVersion, {}, {}};
            return Refused(QStringLiteral("unknown option %1").arg(argument));
        } else {
            files << argument;
        }
    }
    if (files.size() > 1) return Refused(QStringLiteral("one file at most, not %1").arg(files.size()));
    if (files.isEmpty()) return {};
    if (IsFileUri(files.front())) return FromFileUri(files.front());
    return {TCommandLine::TAction::Run, files.front(), {}};
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: picture-workbench [FILE]\n"
        "       picture-workbench --help | --version\n"
        "Shows a picture in a window, where it can be zoomed, changed and saved.\n"
        "\n"
        "FILE, a picture to open once the window is up, is a path or a file:// URI.\n"
        "A file whose name starts with \"-\" is given as ./-name, or after \"--\".\n"
        "\n"
        "  --help     print this help and exit\n"
        "  --version  print the version and exit\n");
}

QString VersionText() { return QStringLiteral("picture-workbench %1\n").arg(QStringLiteral(PW_VERSION)); }
