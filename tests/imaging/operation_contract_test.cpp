// Every operation announces its change the same way: views of the bitmap
// learn of it through Changed(), in every pixel format and for an empty
// picture, without the caller's help; and every one keeps what the
// picture's file carried.
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

int ChangesDuring(TBitmap &bitmap, const std::function<void(TBitmap &)> &operation)
{
    int changes = 0;
    bitmap.SetOnChange([&] { ++changes; });
    operation(bitmap);
    bitmap.SetOnChange({});
    return changes;
}

const struct {
    const char *name;
    std::function<void(TBitmap &)> run;
} Operations[] = {
    {"Complement", Complement},
    {"EdgeDetection", EdgeDetection},
    {"MirrorLeftRight", MirrorLeftRight},
    {"CapturePixels", CapturePixels},
};

} // namespace

TEST(Operations, EveryOperationAnnouncesItsChange)
{
    for (const auto &operation : Operations) {
        for (TPixelFormat format : AllPixelFormats) {
            SCOPED_TRACE(std::string(operation.name) + ", " + std::to_string(BitsPerPixel(format)) + " bits");
            const auto picture = MakeBitmap(5, 3, format);
            EXPECT_GE(ChangesDuring(*picture, operation.run), 1);
        }
        SCOPED_TRACE(std::string(operation.name) + ", empty");
        TBitmap empty;
        EXPECT_GE(ChangesDuring(empty, operation.run), 1);
    }
}

TEST(Operations, EveryOperationKeepsWhatTheFileCarried)
{
    const TPictureMetadata metadata = EveryKindOfMetadata();
    for (const auto &operation : Operations)
        for (TPixelFormat format : AllPixelFormats) {
            SCOPED_TRACE(std::string(operation.name) + ", " + std::to_string(BitsPerPixel(format)) + " bits");
            const auto picture = MakeBitmap(9, 4, format);
            FillRandomBytes(*picture, 9);
            picture->SetMetadata(metadata);
            operation.run(*picture);
            EXPECT_EQ(picture->GetMetadata(), metadata);
        }
}
