// Writing PBM, PGM and PPM pictures: Qt's writer's file, with the notes as comments.
#include "platform/files/pnm/pnm_codec.h"

#include "platform/files/qt/qt_codec.h"
#include "platform/metadata/file_metadata.h"

#include <QRegularExpression>

QByteArray EncodePnm(const TBitmap &bitmap, const TPictureFileFormatInfo &format)
{
    QByteArray file = EncodeWithQt(bitmap, format);
    const QList<TTextComment> &comments = bitmap.GetMetadata().comments;
    const qsizetype firstLineEnd = file.indexOf('\n');
    if (comments.isEmpty() || firstLineEnd < 0) return file;
    QByteArray lines;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const TTextComment &comment : comments)
        for (QString line : KeylessComment(comment).split(lineBreak)) lines += "# " + line.remove(QChar(0)).toUtf8() + '\n';
    return file.insert(firstLineEnd + 1, lines);
}
