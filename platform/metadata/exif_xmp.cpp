// EXIF and XMP through Exiv2: reading a piece safely, and making its fields true for a saved picture.
#include "platform/metadata/exif_xmp.h"

#include "platform/base/byte_order.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <span>
#include <stdexcept>

namespace {

// Exiv2 prints its warnings to the standard error unless told otherwise,
// and its XMP toolkit needs a lock to be used from several threads (files
// are read and written on work threads).
std::mutex xmpToolkitLock;

void XmpLock(void *, bool lock)
{
    if (lock)
        xmpToolkitLock.lock();
    else
        xmpToolkitLock.unlock();
}

void PrepareExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        Exiv2::XmpParser::initialize(XmpLock, nullptr);
    });
}

std::span<const std::uint8_t> BytesOf(const QByteArray &piece)
{
    return {reinterpret_cast<const std::uint8_t *>(piece.constData()), static_cast<std::size_t>(piece.size())};
}

// Bytes a value of the TIFF type takes; Exiv2 counts 1 for a type it
// does not know.
std::uint64_t TypeBytes(std::uint32_t type)
{
    switch (type) {
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 1;
    }
}

// Exiv2 copies the value of every field it reads, and nothing stops many
// fields, in one directory or in directories that overlap, from naming
// the same bytes: a piece of 64 KiB made that way has it take over a
// hundred MiB. Any 12 bytes, at any offset and in either byte order,
// could be read as a field (Exiv2 refuses a value that runs past the
// piece's end, and reads a directory at most once), so the values all
// of them could name are added up, and a piece whose fields could name
// much more than it holds is not read. Real pieces name each byte once;
// arrays of small numbers in maker notes read as a few small fields.
bool ValuesBounded(std::span<const std::uint8_t> tiff)
{
    const std::size_t size = tiff.size();
    const std::uint64_t budget = 8 * std::uint64_t(size) + (std::uint64_t(256) << 10);
    for (const TByteOrder order : {TByteOrder::LittleEndian, TByteOrder::BigEndian}) {
        std::uint64_t named = 0;
        for (std::size_t at = 0; at + 12 <= size; ++at) {
            const std::uint8_t *field = tiff.data() + at;
            const std::uint64_t bytes = std::uint64_t(ReadUInt32(field + 4, order)) * TypeBytes(ReadUInt16(field + 2, order));
            const std::uint32_t offset = ReadUInt32(field + 8, order);
            if (bytes <= 4 || offset >= size || bytes > size - offset) continue;
            named += bytes;
            if (named > budget) return false;
        }
    }
    return true;
}

struct TDecodedExif {
    Exiv2::ExifData data;
    Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
};

// Runs work with Exiv2; what it throws on damaged data (its own errors,
// and those of its checked arithmetic and bounds-checked reads) gives an
// empty result.
template <typename Work>
auto Refused(Work work) -> decltype(work())
{
    try {
        return work();
    } catch (const Exiv2::AnyError &) {
    } catch (const std::overflow_error &) {
    } catch (const std::out_of_range &) {
    }
    return {};
}

std::optional<TDecodedExif> DecodeExif(const QByteArray &exif)
{
    if (exif.size() < 8 || exif.size() > MaxExifBytes || !ValuesBounded(BytesOf(exif))) return std::nullopt;
    PrepareExiv2();
    return Refused([&]() -> std::optional<TDecodedExif> {
        TDecodedExif decoded;
        decoded.order = Exiv2::ExifParser::decode(decoded.data, reinterpret_cast<const Exiv2::byte *>(exif.constData()),
                                                  static_cast<std::uint32_t>(exif.size()));
        if (decoded.order == Exiv2::invalidByteOrder || decoded.data.empty()) return std::nullopt;
        return decoded;
    });
}

std::optional<Exiv2::XmpData> DecodeXmp(const QByteArray &xmp)
{
    if (xmp.isEmpty() || xmp.size() > MaxXmpBytes) return std::nullopt;
    PrepareExiv2();
    return Refused([&]() -> std::optional<Exiv2::XmpData> {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmp.toStdString()) != 0 || data.empty()) return std::nullopt;
        return data;
    });
}

std::optional<int> Orientation(long value)
{
    if (value < 1 || value > 8) return std::nullopt;
    return static_cast<int>(value);
}

// EXIF's and TIFF's numbers for a resolution unit, and the values in it:
// a metre is stated in inches or centimetres, which both can say.
struct TStatedResolution {
    double horizontal;
    double vertical;
    std::uint16_t unit; // 1 none (a ratio), 2 inch, 3 centimetre
};

TStatedResolution Stated(const TResolution &resolution)
{
    const TResolution stated = resolution.InInchesOrCentimetres();
    switch (stated.unit) {
    case TResolutionUnit::Inch: return {stated.horizontal, stated.vertical, 2};
    case TResolutionUnit::Centimetre: return {stated.horizontal, stated.vertical, 3};
    default: return {stated.horizontal, stated.vertical, 1};
    }
}

// A value as an unsigned fraction: whole numbers exactly, others to a
// ten-thousandth, within what 32 bits hold.
Exiv2::URational Fraction(double value)
{
    const double bounded = std::clamp(value, 0.0, 4294967295.0);
    if (bounded == std::floor(bounded)) return {static_cast<std::uint32_t>(bounded), 1};
    if (bounded >= 429496.0) return {static_cast<std::uint32_t>(std::lround(bounded)), 1};
    return {static_cast<std::uint32_t>(std::lround(bounded * 10000)), 10000};
}

void EraseWhere(Exiv2::ExifData &data, const auto &condition)
{
    for (auto field = data.begin(); field != data.end();)
        field = condition(*field) ? data.erase(field) : std::next(field);
}

void EraseWhere(Exiv2::XmpData &data, const auto &condition)
{
    for (auto property = data.begin(); property != data.end();)
        property = condition(*property) ? data.erase(property) : std::next(property);
}

// Sets a property the packet has; leaves one it lacks out.
void SetWherePresent(Exiv2::XmpData &data, const char *key, const std::string &value)
{
    const auto property = data.findKey(Exiv2::XmpKey(key));
    if (property != data.end()) property->setValue(value);
}

// The fields that describe the saved picture's pixels made true for it:
// the pixel dimensions, and the resolution where it has one.
Exiv2::ExifData &Described(Exiv2::ExifData &data, const TSavedPicture &picture)
{
    data["Exif.Photo.PixelXDimension"] = std::uint32_t(picture.width);
    data["Exif.Photo.PixelYDimension"] = std::uint32_t(picture.height);
    if (picture.resolution) {
        const TStatedResolution stated = Stated(*picture.resolution);
        data["Exif.Image.XResolution"] = Fraction(stated.horizontal);
        data["Exif.Image.YResolution"] = Fraction(stated.vertical);
        data["Exif.Image.ResolutionUnit"] = stated.unit;
    }
    return data;
}

QByteArray Encoded(Exiv2::ExifData &data, Exiv2::ByteOrder order)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, data);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), static_cast<qsizetype>(blob.size()));
}

} // namespace

bool ExifReadable(const QByteArray &exif) { return DecodeExif(exif).has_value(); }

bool XmpReadable(const QByteArray &xmp) { return DecodeXmp(xmp).has_value(); }

std::optional<int> ExifOrientation(const QByteArray &exif)
{
    const std::optional<TDecodedExif> decoded = DecodeExif(exif);
    if (!decoded) return std::nullopt;
    const auto field = decoded->data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (field == decoded->data.end() || field->count() == 0) return std::nullopt;
    return Orientation(field->toLong());
}

std::optional<int> XmpOrientation(const QByteArray &xmp)
{
    const std::optional<Exiv2::XmpData> decoded = DecodeXmp(xmp);
    if (!decoded) return std::nullopt;
    const auto property = decoded->findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (property == decoded->end() || property->count() == 0) return std::nullopt;
    return Orientation(property->toLong());
}

std::optional<TResolution> ExifResolution(const QByteArray &exif)
{
    const std::optional<TDecodedExif> decoded = DecodeExif(exif);
    if (!decoded) return std::nullopt;
    return Refused([&]() -> std::optional<TResolution> {
        const auto value = [&](const char *key) -> std::optional<double> {
            const auto field = decoded->data.findKey(Exiv2::ExifKey(key));
            if (field == decoded->data.end() || field->count() == 0) return std::nullopt;
            const Exiv2::Rational r = field->toRational();
            if (r.second == 0) return std::nullopt;
            return double(r.first) / double(r.second);
        };
        const std::optional<double> horizontal = value("Exif.Image.XResolution"), vertical = value("Exif.Image.YResolution");
        if (!horizontal || !vertical) return std::nullopt;
        TResolutionUnit unit = TResolutionUnit::Inch;
        const auto stated = decoded->data.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
        if (stated != decoded->data.end() && stated->count() > 0) {
            switch (stated->toLong()) {
            case 1: unit = TResolutionUnit::None; break;
            case 2: unit = TResolutionUnit::Inch; break;
            case 3: unit = TResolutionUnit::Centimetre; break;
            default: return std::nullopt;
            }
        }
        const TResolution resolution{*horizontal, *vertical, unit};
        if (!resolution.Usable()) return std::nullopt;
        return resolution;
    });
}

QByteArray ExifForSaving(const QByteArray &exif, const TSavedPicture &picture)
{
    std::optional<TDecodedExif> decoded = DecodeExif(exif);
    if (!decoded) return {};
    Exiv2::ExifData &data = decoded->data;
    return Refused([&] {
        // The second directory holds the thumbnail and what describes it.
        EraseWhere(data, [](const Exiv2::Exifdatum &field) {
            return field.groupName() == "Thumbnail" || field.key() == "Exif.Image.InterColorProfile" ||
                   field.key() == "Exif.Image.XMLPacket";
        });
        const auto orientation = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (orientation != data.end()) *orientation = std::uint16_t(1);
        return Encoded(Described(data, picture), decoded->order);
    });
}

QByteArray ExifStatingResolution(const TSavedPicture &picture)
{
    if (!picture.resolution) return {};
    PrepareExiv2();
    return Refused([&] {
        Exiv2::ExifData data;
        data["Exif.Image.Orientation"] = std::uint16_t(1);
        return Encoded(Described(data, picture), Exiv2::littleEndian);
    });
}

QByteArray XmpForSaving(const QByteArray &xmp, const TSavedPicture &picture)
{
    std::optional<Exiv2::XmpData> decoded = DecodeXmp(xmp);
    if (!decoded) return {};
    Exiv2::XmpData &data = *decoded;
    return Refused([&] {
        EraseWhere(data, [](const Exiv2::Xmpdatum &property) { return property.key().starts_with("Xmp.xmp.Thumbnails"); });
        SetWherePresent(data, "Xmp.tiff.Orientation", "1");
        SetWherePresent(data, "Xmp.exif.PixelXDimension", std::to_string(picture.width));
        SetWherePresent(data, "Xmp.exif.PixelYDimension", std::to_string(picture.height));
        SetWherePresent(data, "Xmp.tiff.ImageWidth", std::to_string(picture.width));
        SetWherePresent(data, "Xmp.tiff.ImageLength", std::to_string(picture.height));
        if (picture.resolution) {
            const TStatedResolution stated = Stated(*picture.resolution);
            const auto text = [](Exiv2::URational r) { return std::to_string(r.first) + "/" + std::to_string(r.second); };
            SetWherePresent(data, "Xmp.tiff.XResolution", text(Fraction(stated.horizontal)));
            SetWherePresent(data, "Xmp.tiff.YResolution", text(Fraction(stated.vertical)));
            SetWherePresent(data, "Xmp.tiff.ResolutionUnit", std::to_string(stated.unit));
        }
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) != 0) return QByteArray();
        return QByteArray::fromStdString(packet);
    });
}
