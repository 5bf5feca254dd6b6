// The zoom box's presets: the exact text of each and the divisor it selects.
#pragma once

#include "platform/pictures/system.h"

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
