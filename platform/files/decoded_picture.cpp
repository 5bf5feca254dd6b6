// The picture a reader decodes, from its start to its hand-over.
#include "platform/files/decoded_picture.h"

#include "platform/base/work_progress.h"
#include "platform/files/opening_limits.h"

#include <utility>

TDecodedPicture::TDecodedPicture(TBitmap &into, TPictureFileFormat format)
    : TDecodedPicture(into, QLatin1String(PictureFileFormatInfo(format).name))
{
}

TDecodedPicture::TDecodedPicture(TBitmap &into, QString formatName) : into_(into), formatName_(std::move(formatName)) {}

TBitmap &TDecodedPicture::Start(int width, int height, TPixelFormat format, std::uint64_t besidesBytes, const QString &why)
{
    CheckPictureFits(width, height, format);
    const std::uint64_t pictureBytes = PictureBytes(width, height, format);
    CheckOpeningMemory(width, height, formatName_, besidesBytes + pictureBytes, pictureBytes, why);
    AllocateDecoded(picture_, width, height, format);
    return picture_;
}

TBitmap &TDecodedPicture::StartCounted(int width, int height, TPixelFormat format)
{
    CheckPictureFits(width, height, format);
    AllocateDecoded(picture_, width, height, format);
    return picture_;
}

TRowsMissing TDecodedPicture::HandOver(TRowsMissing missing)
{
    CheckCancelled();
    into_.TakeOver(picture_);
    return missing;
}
