// ExifTool: the independent writer and reader of EXIF and XMP that the
// tests judge ours by (scripts/install-dependencies.sh test installs it).
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

bool ExiftoolFound();

// Skips the current test, with a message, when ExifTool is absent.
#define SKIP_WITHOUT_EXIFTOOL()                                                            \
    if (!ExiftoolFound()) GTEST_SKIP() << "exiftool is not installed (scripts/install-dependencies.sh test)"

// A piece ExifTool makes from nothing with the given arguments
// ("-Make=Cam", "-Orientation#=6", "-ThumbnailImage<=path"), in the form
// the extension names ("exif": a TIFF structure, "xmp": a packet); empty
// when ExifTool fails.
QByteArray ExiftoolMade(const QString &extension, const QStringList &arguments);

// A file of the form the extension names, with ExifTool's changes made
// (the same arguments; "-icc_profile<=made.icc" reads `files`, put beside
// the file under their names first); empty when ExifTool fails.
QByteArray ExiftoolEdited(const QByteArray &file, const QString &extension, const QStringList &arguments,
                          const QList<QPair<QString, QByteArray>> &files = {});

// The colour profile ExifTool finds in a file of the form the extension
// names, as its bytes; empty when it finds none.
QByteArray ExiftoolProfile(const QByteArray &file, const QString &extension);

// What ExifTool reads of a piece in the form the extension names: its tags
// as "group:name" (by location: "IFD0:Orientation", "ExifIFD:
// ExifImageWidth", "XMP-tiff:Orientation"), numbers as numbers.
QJsonObject ExiftoolRead(const QByteArray &piece, const QString &extension);
