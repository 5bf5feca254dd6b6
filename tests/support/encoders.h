// The command-line encoders and decoders of the formats' own libraries
// (heif-enc and heif-convert of libheif, avifenc of libavif, cjxl and djxl
// of libjxl; scripts/install-dependencies.sh test installs them): files
// made by them, and their reading of files, that our readers are judged by.
#pragma once

#include "platform/pictures/bitmap.h"
#include "support/tools.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>

// A picture as PNG (written by Qt), for the encoders' input.
QByteArray PngOf(const QImage &image);

// The program's reading of a file into PNG (heif-convert IN OUT, djxl IN
// OUT; `options` go between them, as convert IN -auto-orient OUT) as a
// bitmap in the smallest form (qt_image_bridge.h), 16-bit samples rounded
// to 8; null when it fails.
std::unique_ptr<TBitmap> ReadByTool(const QString &program, const QByteArray &file, const QString &fileName,
                                    const QStringList &options = {});

// The largest difference of a channel, alpha included, between the
// colours of two pictures of one size (every pixel's colour as GetPixel
// gives it, alpha from the 4th byte of pf32bit with alpha used, else
// 255); -1 when their sizes differ.
int LargestDifference(const TBitmap &a, const TBitmap &b);

// A photograph-like picture: smooth gradients with fine detail, each
// channel apart, and (ARGB32) alpha that varies across it.
QImage PhotoLike(int width, int height, QImage::Format format = QImage::Format_RGB32);
