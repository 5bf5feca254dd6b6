// Walking the boxes of HEIF and AVIF files (ISO/IEC 14496-12 and 23008-12).
#include "platform/files/heif/heif_boxes.h"

#include <cstring>
#include <optional>
#include <vector>

namespace {

struct TBox {
    char type[4];
    std::span<const std::uint8_t> body;
};

std::uint64_t BigEndian(std::span<const std::uint8_t> bytes, std::size_t at, int size)
{
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | bytes[at + std::size_t(i)];
    return value;
}

// The boxes one after another in `bytes`; stops at the first that does not fit.
std::vector<TBox> Boxes(std::span<const std::uint8_t> bytes)
{
    std::vector<TBox> boxes;
    std::size_t at = 0;
    while (bytes.size() - at >= 8) {
        std::uint64_t size = BigEndian(bytes, at, 4);
        std::size_t header = 8;
        if (size == 1) {
            if (bytes.size() - at < 16) break;
            size = BigEndian(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = bytes.size() - at;
        }
        if (size < header || size > bytes.size() - at) break;
        TBox box;
        std::memcpy(box.type, bytes.data() + at + 4, 4);
        box.body = bytes.subspan(at + header, static_cast<std::size_t>(size) - header);
        boxes.push_back(box);
        at += static_cast<std::size_t>(size);
    }
    return boxes;
}

std::optional<TBox> Find(const std::vector<TBox> &boxes, const char *type)
{
    for (const TBox &box : boxes)
        if (std::memcmp(box.type, type, 4) == 0) return box;
    return std::nullopt;
}

// A cursor over a full box's fields that turns false once one runs past it.
class TFields {
public:
    explicit TFields(std::span<const std::uint8_t> body) : body_(body) {}
    std::uint64_t Read(int size)
    {
        if (!ok_ || body_.size() - at_ < std::size_t(size)) {
            ok_ = false;
            return 0;
        }
        const std::uint64_t value = BigEndian(body_, at_, size);
        at_ += std::size_t(size);
        return value;
    }
    bool Ok() const { return ok_; }

private:
    std::span<const std::uint8_t> body_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// The 1-based property indexes ipma associates with an item.
std::vector<std::uint32_t> PropertiesOf(const TBox &ipma, std::uint32_t item)
{
    TFields fields(ipma.body);
    const auto version = fields.Read(1);
    const auto flags = fields.Read(3);
    const auto entries = fields.Read(4);
    for (std::uint64_t e = 0; e < entries && fields.Ok(); ++e) {
        const auto id = fields.Read(version < 1 ? 2 : 4);
        const auto count = fields.Read(1);
        std::vector<std::uint32_t> indexes;
        for (std::uint64_t a = 0; a < count && fields.Ok(); ++a)
            indexes.push_back(flags & 1 ? static_cast<std::uint32_t>(fields.Read(2) & 0x7FFF) : static_cast<std::uint32_t>(fields.Read(1) & 0x7F));
        if (fields.Ok() && id == item) return indexes;
    }
    return {};
}

// The first item an item refers to by a reference of this type (a grid's
// first tile by 'dimg').
std::optional<std::uint32_t> FirstReferenced(const TBox &iref, std::uint32_t item, const char *type)
{
    TFields head(iref.body);
    const auto version = head.Read(4) >> 24;
    if (!head.Ok()) return std::nullopt;
    const int idSize = version == 0 ? 2 : 4;
    for (const TBox &reference : Boxes(iref.body.subspan(4))) {
        TFields fields(reference.body);
        const auto from = fields.Read(idSize);
        const auto count = fields.Read(2);
        const auto first = fields.Read(idSize);
        if (fields.Ok() && count > 0 && from == item && std::memcmp(reference.type, type, 4) == 0) return static_cast<std::uint32_t>(first);
    }
    return std::nullopt;
}

THeifChroma ChromaOf(const TBox &config)
{
    if (std::memcmp(config.type, "hvcC", 4) == 0 && config.body.size() > 16) {
        static constexpr THeifChroma ByIdc[] = {THeifChroma::Grey, THeifChroma::Quarter, THeifChroma::Half, THeifChroma::Full};
        return ByIdc[config.body[16] & 3];
    }
    if (std::memcmp(config.type, "av1C", 4) == 0 && config.body.size() > 2) {
        const std::uint8_t flags = config.body[2];
        if (flags & 0x10) return THeifChroma::Grey;
        const bool acrossHalved = flags & 0x08, downHalved = flags & 0x04;
        return acrossHalved && downHalved ? THeifChroma::Quarter : acrossHalved ? THeifChroma::Half : THeifChroma::Full;
    }
    return THeifChroma::Unknown;
}

} // namespace

THeifOutline OutlineOfHeif(std::span<const std::uint8_t> bytes)
{
    THeifOutline outline;
    const auto meta = Find(Boxes(bytes), "meta");
    if (!meta || meta->body.size() < 4) return outline;
    const std::vector<TBox> inMeta = Boxes(meta->body.subspan(4));
    const auto pitm = Find(inMeta, "pitm"), iprp = Find(inMeta, "iprp"), iref = Find(inMeta, "iref");
    if (!pitm || !iprp) return outline;
    TFields primaryFields(pitm->body);
    const auto pitmVersion = primaryFields.Read(4) >> 24;
    const auto primary = static_cast<std::uint32_t>(primaryFields.Read(pitmVersion == 0 ? 2 : 4));
    if (!primaryFields.Ok()) return outline;
    const std::vector<TBox> inIprp = Boxes(iprp->body);
    const auto ipco = Find(inIprp, "ipco"), ipma = Find(inIprp, "ipma");
    if (!ipco || !ipma) return outline;
    const std::vector<TBox> properties = Boxes(ipco->body);
    const auto property = [&](std::uint32_t index) -> const TBox * { return index >= 1 && index <= properties.size() ? &properties[index - 1] : nullptr; };

    for (const std::uint32_t index : PropertiesOf(*ipma, primary)) {
        const TBox *box = property(index);
        if (!box) continue;
        if (std::memcmp(box->type, "irot", 4) == 0 || std::memcmp(box->type, "imir", 4) == 0) outline.transformed = true;
        if (outline.chroma == THeifChroma::Unknown) outline.chroma = ChromaOf(*box);
    }
    // A grid has no decoder configuration of its own: its tiles have.
    if (outline.chroma == THeifChroma::Unknown && iref)
        if (const auto tile = FirstReferenced(*iref, primary, "dimg"))
            for (const std::uint32_t index : PropertiesOf(*ipma, *tile))
                if (const TBox *box = property(index); box && outline.chroma == THeifChroma::Unknown) outline.chroma = ChromaOf(*box);
    return outline;
}
