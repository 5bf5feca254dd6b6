// Decoding test files held in memory, shared by the tests and the fuzz targets.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// The reason every reader gives for data it cannot decode, in the tests' own words.
inline const std::string Damaged = "the picture data is damaged or incomplete";

// A byte array's bytes as the decoders take them, without a copy.
std::span<const std::uint8_t> Bytes(const QByteArray &data);

// What a decoder (DecodePng, DecodeWithQt, ...) makes of a file; its
// exceptions pass through.
using TDecoder = TRowsMissing (*)(std::span<const std::uint8_t>, TBitmap &);
std::unique_ptr<TBitmap> DecodedBy(TDecoder decode, const QByteArray &file);
