// Inputs the fuzzers found faults with: each opens with defined pixels or is
// refused with its reason, and what opens goes through what the fuzz target
// does with it and keeps each promise it checks, every operation staying
// inside the picture (the sanitizer build checks that). And the seed
// corpus, every file of which opens.
#include "platform/files/picture_files.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/fuzz_processing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <map>

namespace {

QDir FuzzFolder(const char *name)
{
    return QDir(QStringLiteral(PW_SOURCE_DIR "/fuzz/") + QLatin1String(name));
}

// "opens W x H" or the reason it is refused.
std::string Outcome(const QByteArray &bytes, TBitmap &picture)
{
    try {
        DecodePicture(Bytes(bytes), picture);
    } catch (const Exception &error) {
        return error.Message().toStdString();
    }
    return "opens " + std::to_string(picture.GetWidth()) + " x " + std::to_string(picture.GetHeight());
}

// Each input the fuzzers kept, and what it must give.
const std::map<QString, std::string> Expected = {
    // Qt's JPEG reader leaves the format it reports unset when the header
    // is damaged; it was used to size Qt's allocation limit.
    {QStringLiteral("jpeg-damaged-header-leaves-format-unset.jpg"), Damaged},
    // 32 bits a pixel without an alpha mask, cut short: the rows read and the
    // rows missing differ in their unused 4th byte, which saving makes 255.
    {QStringLiteral("bmp-cut-short-unused-alpha.bmp"), "opens 13 x 5"},
    // An AVIF whose colour description names code points libheif does not
    // know: it hands over the description it made all the same, which was
    // left unfreed.
    {QStringLiteral("heif-unknown-code-points-nclx-kept.avif"), Damaged},
};

} // namespace

TEST(FuzzRegressions, EveryInputGivesItsOutcomeAndOperationsOnItStayInside)
{
    const QDir folder = FuzzFolder("regressions");
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty()) << "no inputs in " << folder.path().toStdString();
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const auto expected = Expected.find(name);
        EXPECT_NE(expected, Expected.end()) << "an input without its expected outcome";
        TBitmap picture;
        const std::string outcome = Outcome(FileBytes(folder.filePath(name)), picture);
        if (expected != Expected.end()) {
            EXPECT_EQ(outcome, expected->second);
        }
        if (!picture.Empty() && static_cast<long long>(picture.GetWidth()) * picture.GetHeight() <= 1 << 20)
            ProcessOpenedPicture(picture, [](bool kept, const char *promise) { EXPECT_TRUE(kept) << promise; });
    }
}

TEST(FuzzSeeds, EverySeedOpens)
{
    const QDir folder = FuzzFolder("seeds");
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 60) << "seeds missing from " << folder.path().toStdString();
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        TBitmap picture;
        const std::string outcome = Outcome(FileBytes(folder.filePath(name)), picture);
        EXPECT_EQ(outcome.rfind("opens ", 0), 0u) << outcome;
    }
}

// The seeds cut short or lying about themselves open with the rows they
// hold or are refused with a reason; none takes the program down.
TEST(FuzzSeeds, EveryHostileSeedOpensOrIsRefusedWithAReason)
{
    const QDir folder = FuzzFolder("seeds/hostile");
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 25) << "seeds missing from " << folder.path().toStdString();
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        TBitmap picture;
        const std::string outcome = Outcome(FileBytes(folder.filePath(name)), picture);
        EXPECT_FALSE(outcome.empty());
        if (!picture.Empty() && static_cast<long long>(picture.GetWidth()) * picture.GetHeight() <= 1 << 20)
            ProcessOpenedPicture(picture, [](bool kept, const char *promise) { EXPECT_TRUE(kept) << promise; });
    }
}
