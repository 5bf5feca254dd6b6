// Placeholder until the conversions land.
#include "bitmap.h"

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == format_) return;
    throw Exception(QStringLiteral("conversion not built yet"));
}
