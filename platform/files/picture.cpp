// TPicture: the picture an image control shows, with its file reading and writing.
#include "platform/files/picture.h"

#include "platform/base/work_progress.h"
#include "platform/files/picture_files.h"

#include <QFileInfo>

TPicture::TPicture() = default;

void TPicture::LoadFromFile(const AnsiString &fileName)
{
    // The work opens the file on another thread while the window draws
    // ours: it reads into a bitmap of its own, which replaces ours here,
    // on the window's thread, once it ends.
    TBitmap loaded;
    try {
        RunLongWork(TLongWork::Opening, QStringLiteral("Opening %1").arg(QFileInfo(fileName).fileName()),
                    [&] { ReadPictureFile(fileName, loaded); });
    } catch (const EPictureIncomplete &) {
        // The part the file holds is shown, and the message tells the rest.
        bitmap_.TakeOver(loaded);
        throw;
    }
    bitmap_.TakeOver(loaded);
}

void TPicture::SaveToFile(const AnsiString &fileName) const
{
    // The work only reads the bitmap, as the window does when it draws it.
    RunLongWork(TLongWork::Saving, QStringLiteral("Saving %1").arg(QFileInfo(fileName).fileName()),
                [&] { WritePictureFile(fileName, bitmap_); });
}

void TPicture::SetOnChange(std::function<void()> onChange)
{
    bitmap_.SetOnChange(std::move(onChange));
}
