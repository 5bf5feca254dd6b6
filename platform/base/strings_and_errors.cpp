// Strings, errors and number formatting shared by every layer.
#include "platform/base/strings_and_errors.h"

#include <QDir>

Exception::Exception(const AnsiString &message)
    : message_(message), utf8_(message.toStdString()) {}

AnsiString NotEnoughMemoryTo(TMemoryUse use)
{
    const char *task = "read the file";
    switch (use) {
    case TMemoryUse::ReadingTheFile: break;
    case TMemoryUse::ReadingThePicture: task = "read the picture"; break;
    case TMemoryUse::EncodingThePicture: task = "encode the picture"; break;
    case TMemoryUse::ConvertingThePicture: task = "convert the picture"; break;
    }
    return QStringLiteral("there is not enough memory to %1").arg(QLatin1String(task));
}

AnsiString IntToStr(int value) { return QString::number(value); }

AnsiString Format(const char *format, int value) { return QString::asprintf(format, value); }

AnsiString QuotedPath(const AnsiString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

AnsiString SystemWording(const AnsiString &text)
{
    if (text.isEmpty()) return QStringLiteral("the system gave no reason");
    // An initial capital starts a sentence; a name in capitals ("EOF") stays.
    if (text.size() > 1 && text[0].isUpper() && !text[1].isUpper()) return text[0].toLower() + text.mid(1);
    return text;
}
