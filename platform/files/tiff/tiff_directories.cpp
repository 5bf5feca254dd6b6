// EXIF as a TIFF file's directories hold it: read out into a piece of its own, and written into a file.
#include "platform/files/tiff/tiff_directories.h"

#include "platform/files/tiff/tiff_file.h"

#include "platform/metadata/exif_xmp.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace {

constexpr std::uint16_t ExifPointer = 34665, GpsPointer = 34853, InteropPointer = 40965;

// The fields of a picture's first directory that EXIF's first directory
// holds too: what describes the picture, not how its pixels are stored
// (nor the colour profile and XMP, which travel as pieces of their own,
// nor the description, which is the picture's note).
constexpr std::uint16_t PictureFields[] = {
    269,   // DocumentName
    271,   // Make
    272,   // Model
    274,   // Orientation
    282,   // XResolution
    283,   // YResolution
    285,   // PageName
    296,   // ResolutionUnit
    305,   // Software
    306,   // DateTime
    315,   // Artist
    316,   // HostComputer
    18246, // Rating
    18249, // RatingPercent
    33432, // Copyright
    33723, // IPTC
    40091, 40092, 40093, 40094, 40095, // Windows' title, comment, author, keywords, subject
    50341, // PrintIM
};

enum class TKind { First, Exif, Gps, Interop };

std::uint64_t TypeBytes(std::uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1; // byte, ASCII, signed byte, undefined
    case 3: case 8: return 2;                 // short, signed short
    case 4: case 9: case 11: case 13: return 4; // long, signed long, float, directory
    case 5: case 10: case 12: return 8;       // rational, signed rational, double
    default: return 0;
    }
}

struct TField {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    // The value's bytes, in the structure's byte order; or, for a field
    // left where it is in the file written to, the entry's 4 bytes as they are.
    QByteArray value;
    bool asIs = false;
    // The directory the field points at (an index into the tree), or -1.
    int child = -1;
};

struct TDirectory {
    std::vector<TField> fields;
    std::uint32_t next = 0;
};

class TStructure {
public:
    TStructure(const TTiffFile &file, bool big) : file_(file), big_(big) {}
    bool Has(std::uint64_t at, std::uint64_t n) const { return at <= file_.Size() && n <= file_.Size() - at; }
    // A value of `size` bytes (0 where the file could not be read: the
    // reader learns why from the file).
    std::uint32_t Read(std::uint64_t at, int size) const
    {
        std::uint8_t bytes[4] = {};
        if (!file_.Read(at, std::span(bytes, static_cast<std::size_t>(size)))) return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < size; ++i) v |= std::uint32_t(bytes[big_ ? size - 1 - i : i]) << (8 * i);
        return v;
    }
    QByteArray Copy(std::uint64_t at, std::uint64_t n) const
    {
        QByteArray copy(static_cast<qsizetype>(n), '\0');
        file_.Read(at, std::span(reinterpret_cast<std::uint8_t *>(copy.data()), static_cast<std::size_t>(n)));
        return copy;
    }

private:
    const TTiffFile &file_;
    bool big_;
};

struct TTree {
    std::vector<TDirectory> directories;
    std::set<std::uint64_t> read;
    std::uint64_t budget = static_cast<std::uint64_t>(MaxExifBytes);
};

bool Kept(TKind kind, std::uint16_t tag)
{
    if (kind != TKind::First) return true;
    return tag == ExifPointer || tag == GpsPointer || std::find(std::begin(PictureFields), std::end(PictureFields), tag) != std::end(PictureFields);
}

std::optional<TKind> ChildKind(TKind kind, std::uint16_t tag)
{
    if (kind == TKind::First && tag == ExifPointer) return TKind::Exif;
    if (kind == TKind::First && tag == GpsPointer) return TKind::Gps;
    if (kind == TKind::Exif && tag == InteropPointer) return TKind::Interop;
    return std::nullopt;
}

// The directory at `at` into the tree, the fields of its kind kept: its
// index, or -1 where it lies outside or was read before.
int ReadDirectory(const TStructure &s, std::uint64_t at, TKind kind, TTree &tree)
{
    if (!s.Has(at, 2) || !tree.read.insert(at).second) return -1;
    const std::uint32_t count = s.Read(at, 2);
    if (!s.Has(at + 2, 12 * std::uint64_t(count))) return -1;
    const int index = static_cast<int>(tree.directories.size());
    tree.directories.emplace_back();
    if (s.Has(at + 2 + 12 * std::uint64_t(count), 4)) tree.directories[std::size_t(index)].next = s.Read(at + 2 + 12 * std::uint64_t(count), 4);
    for (std::uint32_t e = 0; e < count; ++e) {
        const std::uint64_t entry = at + 2 + 12 * std::uint64_t(e);
        TField field;
        field.tag = static_cast<std::uint16_t>(s.Read(entry, 2));
        field.type = static_cast<std::uint16_t>(s.Read(entry + 2, 2));
        field.count = s.Read(entry + 4, 4);
        const std::uint64_t bytes = TypeBytes(field.type) * field.count;
        if (!Kept(kind, field.tag) || bytes == 0 || bytes + 12 > tree.budget) continue;
        if (const std::optional<TKind> child = ChildKind(kind, field.tag)) {
            if (bytes != 4) continue;
            field.child = ReadDirectory(s, s.Read(entry + 8, 4), *child, tree);
            if (field.child < 0) continue;
            field.value = QByteArray(4, '\0');
        } else {
            const std::uint64_t valueAt = bytes <= 4 ? entry + 8 : s.Read(entry + 8, 4);
            if (!s.Has(valueAt, bytes)) continue;
            field.value = s.Copy(valueAt, bytes);
        }
        tree.budget -= bytes + 12;
        tree.directories[std::size_t(index)].fields.push_back(std::move(field));
    }
    return index;
}

void Put(QByteArray &out, qsizetype at, std::uint32_t value, int size, bool big)
{
    for (int i = 0; i < size; ++i) out[at + (big ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i));
}

void AlignToWord(QByteArray &out)
{
    if (out.size() & 1) out.append('\0');
}

// Appends the directory, its values and the directories it points at to
// `out`, whose first byte is the structure's first: where it starts.
std::uint32_t WriteDirectory(const TDirectory &directory, const TTree &tree, QByteArray &out, bool big)
{
    std::vector<TField> fields = directory.fields;
    std::stable_sort(fields.begin(), fields.end(), [](const TField &a, const TField &b) { return a.tag < b.tag; });
    AlignToWord(out);
    const qsizetype at = out.size();
    out.append(QByteArray(2 + 12 * qsizetype(fields.size()) + 4, '\0'));
    Put(out, at, static_cast<std::uint32_t>(fields.size()), 2, big);
    Put(out, at + 2 + 12 * qsizetype(fields.size()), directory.next, 4, big);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TField &field = fields[i];
        const qsizetype entry = at + 2 + 12 * qsizetype(i);
        Put(out, entry, field.tag, 2, big);
        Put(out, entry + 2, field.type, 2, big);
        Put(out, entry + 4, field.count, 4, big);
        if (field.asIs || (field.child < 0 && field.value.size() <= 4)) {
            out.replace(entry + 8, field.value.size(), field.value);
        } else if (field.child < 0) {
            AlignToWord(out);
            Put(out, entry + 8, static_cast<std::uint32_t>(out.size()), 4, big);
            out.append(field.value);
        }
    }
    // The directories pointed at follow their values.
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].child >= 0) {
            const std::uint32_t childAt = WriteDirectory(tree.directories[std::size_t(fields[i].child)], tree, out, big);
            Put(out, at + 2 + 12 * qsizetype(i) + 8, childAt, 4, big);
        }
    return static_cast<std::uint32_t>(at);
}

// The byte order of a classic TIFF structure's header, or none.
std::optional<bool> BigEndian(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 8) return std::nullopt;
    if (bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) return false;
    if (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42) return true;
    return std::nullopt;
}

std::span<const std::uint8_t> BytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

} // namespace

QByteArray ExifOfTiffDirectory(const TTiffFile &file, std::uint64_t directory)
{
    std::uint8_t header[8] = {};
    const std::optional<bool> big = file.Read(0, header) ? BigEndian(header) : std::nullopt;
    if (!big) return {};
    TTree tree;
    if (ReadDirectory(TStructure(file, *big), directory, TKind::First, tree) != 0 || tree.directories[0].fields.empty()) return {};
    // The piece's first directory has no next: a thumbnail's would follow.
    tree.directories[0].next = 0;
    QByteArray piece = *big ? QByteArray("MM\0*\0\0\0\0", 8) : QByteArray("II*\0\0\0\0\0", 8);
    const std::uint32_t first = WriteDirectory(tree.directories[0], tree, piece, *big);
    Put(piece, 4, first, 4, *big);
    return piece;
}

bool BigEndianExif(const QByteArray &exif) { return BigEndian(BytesOf(exif)).value_or(false); }

QByteArray WithExifDirectories(QByteArray file, const QByteArray &exif)
{
    const std::optional<bool> big = BigEndian(BytesOf(file)), pieceBig = BigEndian(BytesOf(exif));
    // What is added must lie where a classic file's 32-bit offsets reach.
    if (!big || pieceBig != big || file.size() > qsizetype(0xFFFFFFFFu) - 2 * MaxExifBytes) return file;
    TTree tree;
    const TTiffMemoryFile exifBytes(BytesOf(exif)), fileBytes(BytesOf(file));
    const TStructure piece(exifBytes, *big);
    if (ReadDirectory(piece, piece.Read(4, 4), TKind::First, tree) != 0 || tree.directories[0].fields.empty()) return file;
    // The file's own first directory, its fields left as they are: their
    // values stay where they lie.
    const TStructure written(fileBytes, *big);
    const std::uint32_t firstAt = written.Read(4, 4);
    if (!written.Has(firstAt, 2)) return file;
    const std::uint32_t count = written.Read(firstAt, 2);
    if (!written.Has(firstAt + 2, 12 * std::uint64_t(count) + 4)) return file;
    TDirectory merged;
    merged.next = written.Read(firstAt + 2 + 12 * std::uint64_t(count), 4);
    std::set<std::uint16_t> own;
    for (std::uint32_t e = 0; e < count; ++e) {
        const std::uint64_t entry = firstAt + 2 + 12 * std::uint64_t(e);
        TField field;
        field.tag = static_cast<std::uint16_t>(written.Read(entry, 2));
        field.type = static_cast<std::uint16_t>(written.Read(entry + 2, 2));
        field.count = written.Read(entry + 4, 4);
        field.value = written.Copy(entry + 8, 4);
        field.asIs = true;
        own.insert(field.tag);
        merged.fields.push_back(std::move(field));
    }
    for (const TField &field : tree.directories[0].fields)
        if (!own.count(field.tag)) merged.fields.push_back(field);
    const std::uint32_t mergedAt = WriteDirectory(merged, tree, file, *big);
    Put(file, 4, mergedAt, 4, *big);
    return file;
}
