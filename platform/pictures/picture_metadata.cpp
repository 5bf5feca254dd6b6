// TPictureMetadata: the resolution's units, and whether anything is carried.
#include "platform/pictures/picture_metadata.h"

#include <cmath>

namespace {

// How many of the unit a metre holds.
double UnitsPerMetre(TResolutionUnit unit)
{
    switch (unit) {
    case TResolutionUnit::Inch: return 1 / 0.0254;
    case TResolutionUnit::Centimetre: return 100;
    case TResolutionUnit::Metre: return 1;
    case TResolutionUnit::None: break;
    }
    return 0;
}

} // namespace

std::optional<TResolution> TResolution::In(TResolutionUnit target) const
{
    if (target == unit) return *this;
    if (target == TResolutionUnit::None) return TResolution{horizontal, vertical, TResolutionUnit::None};
    if (unit == TResolutionUnit::None) return std::nullopt;
    const double scale = UnitsPerMetre(unit) / UnitsPerMetre(target);
    return TResolution{horizontal * scale, vertical * scale, target};
}

TResolution TResolution::InInchesOrCentimetres() const
{
    if (unit != TResolutionUnit::Metre) return *this;
    const auto whole = [](double v) { return std::abs(v - std::round(v)) < 0.01; };
    const TResolution inches = *In(TResolutionUnit::Inch);
    if (whole(inches.horizontal) && whole(inches.vertical)) return {std::round(inches.horizontal), std::round(inches.vertical), TResolutionUnit::Inch};
    return *In(TResolutionUnit::Centimetre);
}

bool TResolution::Usable() const
{
    return std::isfinite(horizontal) && std::isfinite(vertical) && horizontal > 0 && vertical > 0;
}

bool TPictureMetadata::Empty() const
{
    return colourProfile.isEmpty() && exif.isEmpty() && xmp.isEmpty() && !resolution && comments.isEmpty();
}
