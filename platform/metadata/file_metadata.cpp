// What the codecs call to keep what a file carries: checking the pieces, the orientation, the pieces to save.
#include "platform/metadata/file_metadata.h"

#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/exif_xmp.h"

#include <QStringDecoder>

#include <cstring>

QByteArray ExifPayload(std::span<const std::uint8_t> chunk)
{
    constexpr char Marker[] = "Exif\0\0";
    constexpr std::size_t MarkerBytes = sizeof Marker - 1;
    if (chunk.size() >= MarkerBytes && std::memcmp(chunk.data(), Marker, MarkerBytes) == 0) chunk = chunk.subspan(MarkerBytes);
    return QByteArray(reinterpret_cast<const char *>(chunk.data()), static_cast<qsizetype>(chunk.size()));
}

namespace {

// The pieces checked without Exiv2, which a save reads anyway.
void DropUnusableProfileAndResolution(TPictureMetadata &metadata)
{
    if (!metadata.colourProfile.isEmpty() && !PictureProfileSpace(metadata.colourProfile)) metadata.colourProfile.clear();
    if (metadata.resolution && !metadata.resolution->Usable()) metadata.resolution.reset();
}

} // namespace

void DropUnusablePieces(TPictureMetadata &metadata)
{
    DropUnusableProfileAndResolution(metadata);
    if (!metadata.exif.isEmpty() && !ExifReadable(metadata.exif)) metadata.exif.clear();
    if (!metadata.xmp.isEmpty() && !XmpReadable(metadata.xmp)) metadata.xmp.clear();
}

TOrientation StatedOrientation(const TPictureMetadata &metadata)
{
    std::optional<int> stated = ExifOrientation(metadata.exif);
    if (!stated) stated = XmpOrientation(metadata.xmp);
    return static_cast<TOrientation>(stated.value_or(1));
}

bool TCommentRoom::Keep(TPictureMetadata &metadata, const QString &key, const QString &text)
{
    const qsizetype takes = 2 * (key.size() + text.size()) + qsizetype(sizeof(TTextComment));
    if (takes > left_) {
        left_ = 0;
        return false;
    }
    left_ -= takes;
    metadata.comments.append({key, text});
    return true;
}

QString NoteText(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty() && bytes.back() == 0) bytes = bytes.first(bytes.size() - 1);
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(view);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(view);
}

QString KeylessComment(const TTextComment &comment)
{
    if (comment.key.isEmpty() || comment.key == QLatin1String("Comment") || comment.key == QLatin1String("Description")) return comment.text;
    return comment.key + QStringLiteral(": ") + comment.text;
}

TPictureMetadata MetadataToSave(const TBitmap &picture)
{
    TPictureMetadata saved = picture.GetMetadata();
    // An unreadable EXIF or XMP comes back empty from being made true.
    DropUnusableProfileAndResolution(saved);
    const TSavedPicture described{picture.GetWidth(), picture.GetHeight(), saved.resolution};
    if (!saved.exif.isEmpty()) saved.exif = ExifForSaving(saved.exif, described);
    if (!saved.xmp.isEmpty()) saved.xmp = XmpForSaving(saved.xmp, described);
    return saved;
}
