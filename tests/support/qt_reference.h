// Our readers held to Qt's reading of the same file, where they take over
// files that Qt's readers read before.
#pragma once

#include "support/decoding.h"

// Expects `decode` to give the same form, palette and bytes as Qt's reader.
void ExpectReadsAsQt(TDecoder decode, const QByteArray &file);
// The file as `decode` reads it, after expecting Qt's reading of the same
// file to be refused for the memory it would take.
std::unique_ptr<TBitmap> DecodedWhereQtIsRefused(TDecoder decode, const QByteArray &file);
