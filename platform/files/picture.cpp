// TPicture: the picture an image control shows, with its file reading and writing.
#include "platform/files/picture.h"

#include "platform/files/picture_files.h"

TPicture::TPicture() = default;

void TPicture::LoadFromFile(const AnsiString &fileName)
{
    // Decode into a bitmap of its own so that a failure leaves ours as it was.
    TBitmap loaded;
    ReadPictureFile(fileName, loaded);
    bitmap_.TakeOver(loaded);
}

void TPicture::SaveToFile(const AnsiString &fileName) const
{
    WritePictureFile(fileName, bitmap_);
}

void TPicture::SetOnChange(std::function<void()> onChange)
{
    bitmap_.SetOnChange(std::move(onChange));
}
