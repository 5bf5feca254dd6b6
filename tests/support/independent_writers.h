// Pillow and ImageMagick: writers of picture files other than ours, which
// the tests judge our readers by (scripts/install-dependencies.sh test
// installs them: Debian's python3-pil and imagemagick).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

bool PillowFound();
bool ImageMagickFound();

// Skips the current test, with a message, when the writer is absent.
#define SKIP_WITHOUT_PILLOW()                                                                                       \
    if (!PillowFound()) GTEST_SKIP() << "Pillow is not installed for /usr/bin/python3 (scripts/install-dependencies.sh test)"
#define SKIP_WITHOUT_IMAGEMAGICK()                                                                                   \
    if (!ImageMagickFound()) GTEST_SKIP() << "ImageMagick is not installed (scripts/install-dependencies.sh test)"

// A picture of width x height whose every pixel differs from its
// neighbours (red rising across, green down, blue by both), saved by
// Pillow in the form the extension names, with the keyword arguments of
// its save, as Python writes them ("dpi=(300, 300)"; empty for none); the
// form it is made in first ("RGB", "L"). Empty when Pillow fails.
QByteArray PillowWritten(int width, int height, const QString &extension, const QString &options = {}, const QString &mode = QStringLiteral("RGB"));

// The picture of a file in the form the extension names, turned upright
// by Pillow as its EXIF says (ImageOps.exif_transpose), as a PNG without
// EXIF. Empty when Pillow fails.
QByteArray PillowUpright(const QByteArray &file, const QString &extension);

// The picture in a file of the first extension converted by ImageMagick
// into the form the second names, with the arguments between (options
// for the output: "-density", "300"); `files` are put beside the input
// under their names first (a profile "-profile", "made.icc" reads). Empty
// when it fails.
QByteArray ImageMagickConverted(const QByteArray &input, const QString &inputExtension, const QStringList &arguments,
                                const QString &outputForm, const QList<QPair<QString, QByteArray>> &files = {});
