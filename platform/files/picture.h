// TPicture: the picture an image control shows, with its file reading and writing.
#pragma once

#include "platform/pictures/bitmap.h"

#include <functional>

class TPicture {
public:
    TPicture();

    // The picture's bitmap form: the same object on every call. An empty
    // picture is a 0 x 0 bitmap.
    TBitmap *GetBitmap() { return &bitmap_; }
    const TBitmap *GetBitmap() const { return &bitmap_; }
    int GetWidth() const { return bitmap_.GetWidth(); }
    int GetHeight() const { return bitmap_.GetHeight(); }

    // Replaces the picture with the one in the file, as long work (see
    // work_progress.h), read as ReadPictureFile reads (picture_files.h). On
    // any failure it throws Exception naming the file and the reason, and
    // when cancelled ECancelled, the picture then as the codecs leave it:
    // unchanged. A file that ends early replaces the picture with the part it
    // holds, then throws EPictureIncomplete.
    void LoadFromFile(const AnsiString &fileName);
    // Writes the picture in the format the file name's extension names
    // (BMP when there is none or it is unknown). The file is replaced only
    // once the whole picture is written, as long work (see work_progress.h);
    // on failure it throws Exception naming the file and the reason, and
    // when cancelled before that point ECancelled; either way any existing
    // file is untouched.
    void SaveToFile(const AnsiString &fileName) const;

    // Called whenever the picture's bitmap changes size, format or image.
    void SetOnChange(std::function<void()> onChange);

private:
    TBitmap bitmap_;
};
