// Strings, errors and number formatting shared by every layer.
#include "platform/pictures/system.h"

#include <QDir>

Exception::Exception(const AnsiString &message)
    : message_(message), utf8_(message.toStdString()) {}

AnsiString IntToStr(int value) { return QString::number(value); }

AnsiString Format(const char *format, int value) { return QString::asprintf(format, value); }

AnsiString QuotedPath(const AnsiString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}
