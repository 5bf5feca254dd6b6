// CMYK to sRGB through a picture's profile.
#include "platform/metadata/cmyk_conversion.h"

#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/lcms_owned.h"

std::unique_ptr<TCmykConversion> TCmykConversion::From(const QByteArray &profile)
{
    if (profile.isEmpty() || profile.size() > MaxProfileBytes) return nullptr;
    const TLcmsProfile cmyk(cmsOpenProfileFromMem(profile.constData(), static_cast<cmsUInt32Number>(profile.size())));
    if (!cmyk) return nullptr;
    const TLcmsProfile srgb(cmsCreate_sRGBProfile());
    cmsHTRANSFORM transform = cmsGetColorSpace(cmyk.get()) == cmsSigCmykData && srgb
                                  ? cmsCreateTransform(cmyk.get(), TYPE_CMYK_16, srgb.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, 0)
                                  : nullptr;
    if (!transform) return nullptr;
    return std::unique_ptr<TCmykConversion>(new TCmykConversion(transform));
}

TCmykConversion::~TCmykConversion() { cmsDeleteTransform(transform_); }

void TCmykConversion::Convert(const std::uint16_t *cmyk, std::uint8_t *bgr, std::size_t pixels) const
{
    cmsDoTransform(transform_, cmyk, bgr, static_cast<cmsUInt32Number>(pixels));
}
