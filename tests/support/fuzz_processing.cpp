// What the picture fuzz target does with a picture that opens.
#include "support/fuzz_processing.h"

#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "platform/files/picture_files.h"
#include "platform/pictures/picture_view.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/pictures.h"

#include <algorithm>
#include <utility>

void ProcessOpenedPicture(const TBitmap &picture, const TPromiseCheck &check)
{
    TBitmap work;
    work.Assign(&picture);
    Complement(work);
    Complement(work);
    check(SameBitmap(work, picture), "complement twice gives the original");
    MirrorLeftRight(work);
    MirrorLeftRight(work);
    check(SameBitmap(work, picture), "mirror twice gives the original");
    EdgeDetection(work);
    check(work.GetWidth() == picture.GetWidth() && work.GetPixelFormat() == picture.GetPixelFormat(),
          "edge detection keeps size and format");

    work.Assign(&picture);
    CapturePixels(work);
    check(work.GetPixelFormat() == pf8bit, "capture converts to pf8bit");

    for (TPixelFormat format : AllPixelFormats) {
        work.Assign(&picture);
        work.SetPixelFormat(format);
        check(work.GetPixelFormat() == format && work.GetWidth() == picture.GetWidth() && work.GetHeight() == picture.GetHeight(),
              "conversion gives the format asked for at the same size");
        if (format == pf24bit || format == pf32bit) check(SameColours(work, picture), "conversion to 24 or 32 bits keeps every colour");
    }

    // The view at 25%, 75%, 100% and 200%, a corner and the middle exposed.
    const int width = picture.GetWidth(), height = picture.GetHeight();
    for (const auto &[num, den] : {std::pair{1, 4}, std::pair{4, 5}, std::pair{1, 1}, std::pair{2, 1}}) {
        const QSize shown(std::max(1, width * num / den), std::max(1, height * num / den));
        for (const QRect exposed : {QRect(0, 0, 64, 48), QRect(shown.width() / 2 - 7, shown.height() / 2 - 5, 50, 30)}) {
            const QImage view = RenderPictureView(picture, shown, exposed);
            const QRect area = exposed & QRect(QPoint(0, 0), shown);
            check(view.size() == area.size(), "the view renders the exposed part of the picture");
            if (num != den) continue;
            // A pixel that is not opaque is drawn over the checkerboard.
            const bool alpha = picture.GetPixelFormat() == pf32bit && picture.GetAlphaChannel() == TAlphaChannel::Used;
            bool exact = true;
            for (int y = 0; y < area.height(); ++y)
                for (int x = 0; x < area.width(); ++x) {
                    const int px = area.left() + x, py = area.top() + y;
                    if (alpha && picture.Row(py)[4 * std::size_t(px) + 3] != 255) continue;
                    const TColor colour = picture.GetPixel(px, py);
                    exact &= view.pixel(x, y) == qRgb(GetRValue(colour), GetGValue(colour), GetBValue(colour));
                }
            check(exact, "the view at the picture's own size shows every opaque colour exactly");
        }
    }

    for (TPictureFileFormat format : {TPictureFileFormat::Bmp, TPictureFileFormat::Png}) {
        TBitmap back;
        DecodePicture(Bytes(EncodePicture(picture, format)), back);
        check(SameColours(back, picture) && SameAlpha(back, picture),
              format == TPictureFileFormat::Bmp ? "BMP keeps every pixel" : "PNG keeps every pixel");
    }
}
