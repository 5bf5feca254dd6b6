// The command-line encoders and decoders of the formats' own libraries
// (heif-enc and heif-convert of libheif, avifenc of libavif, cjxl and djxl
// of libjxl; scripts/install-dependencies.sh test installs them): files
// made by them, and their reading of files, that our readers are judged by.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>

bool ToolFound(const QString &program);

// Skips the current test, with a message, when the program is absent.
#define SKIP_WITHOUT_TOOL(program)                                                                              \
    if (!ToolFound(QStringLiteral(program)))                                                                    \
    GTEST_SKIP() << program << " is not installed (scripts/install-dependencies.sh test)"

// Runs the program with `arguments`, where "IN" stands for a file holding
// `input` named `inputName` and "OUT" for a file named `outputName` it
// writes: what it wrote, or empty when it fails.
QByteArray MadeBy(const QString &program, const QStringList &arguments, const QByteArray &input, const QString &inputName,
                  const QString &outputName);

// A picture as PNG (written by Qt), for the encoders' input.
QByteArray PngOf(const QImage &image);

// The program's reading of a file into PNG (heif-convert IN OUT, djxl IN
// OUT) as a bitmap in the smallest form (qt_image_bridge.h), 16-bit
// samples rounded to 8; null when it fails.
std::unique_ptr<TBitmap> ReadByTool(const QString &program, const QByteArray &file, const QString &fileName);

// The largest difference of a channel, alpha included, between the
// colours of two pictures of one size (every pixel's colour as GetPixel
// gives it, alpha from the 4th byte of pf32bit with alpha used, else
// 255); -1 when their sizes differ.
int LargestDifference(const TBitmap &a, const TBitmap &b);

// A photograph-like picture: smooth gradients with fine detail, each
// channel apart, and (ARGB32) alpha that varies across it.
QImage PhotoLike(int width, int height, QImage::Format format = QImage::Format_RGB32);
