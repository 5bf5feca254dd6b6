// The zoom box's presets: the exact text of each and the divisor it selects.
#pragma once

#include "platform/base/strings_and_errors.h"

#include <optional>

// The divisor divides the picture's size. For "75%" and "150%" it is 1.25
// and 0.75, not the reciprocals of the percentages: a 100-pixel side shows
// as 80 and 133. Texts match exactly, case included; any other text has no
// divisor.
inline std::optional<float> ZoomDivisorFor(const AnsiString &text)
{
    struct Preset {
        const char *text;
        float divisor;
    };
    static constexpr Preset presets[] = {
        {"25%", 4.0f}, {"50%", 2.0f}, {"75%", 1.25f}, {"100%", 1.0f}, {"150%", 0.75f}, {"200%", 0.5f},
    };
    for (const Preset &preset : presets)
        if (text == QLatin1String(preset.text)) return preset.divisor;
    return std::nullopt;
}

// Qt's limit on a widget's side (QWIDGETSIZE_MAX).
inline constexpr int MaxShownSide = 16777215;

// A picture side divided by a zoom divisor, as the control's side: the
// quotient as it falls in float, cut to whole pixels, and at most
// MaxShownSide, so that a side near INT_MAX enlarged still gives a
// defined int.
inline int ZoomedSide(int side, float divisor)
{
    const float shown = static_cast<float>(side) / divisor;
    if (!(shown < static_cast<float>(MaxShownSide))) return MaxShownSide;
    return shown > 0.0f ? static_cast<int>(shown) : 0;
}
