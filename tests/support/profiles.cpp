// Colour profiles made for the tests by Little CMS.
#include "support/profiles.h"

#include "platform/metadata/lcms_owned.h"

#include <cstdint>

namespace {

// sRGB's tone curve: IEC 61966-2-1's parameters.
TLcmsCurve SrgbCurve()
{
    const cmsFloat64Number parameters[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return TLcmsCurve(cmsBuildParametricToneCurve(nullptr, 4, parameters));
}

constexpr cmsCIExyY D65 = {0.3127, 0.3290, 1.0};
constexpr cmsCIExyY SrgbRed = {0.64, 0.33, 1.0}, SrgbGreen = {0.30, 0.60, 1.0}, SrgbBlue = {0.15, 0.06, 1.0};

QByteArray RgbProfile(const cmsCIExyYTRIPLE &primaries)
{
    const auto curve = SrgbCurve();
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    return SavedProfile(TLcmsProfile(cmsCreateRGBProfile(&D65, &primaries, curves)));
}

} // namespace

QByteArray SwappedRedGreenProfile() { return RgbProfile({SrgbGreen, SrgbRed, SrgbBlue}); }

QByteArray WideGamutProfile() { return RgbProfile({{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}}); }

QByteArray UnevenCurvesProfile()
{
    const TLcmsCurve red(cmsBuildGamma(nullptr, 1.0)), green(cmsBuildGamma(nullptr, 1.8)), blue(cmsBuildGamma(nullptr, 2.2));
    cmsToneCurve *curves[3] = {red.get(), green.get(), blue.get()};
    const cmsCIExyYTRIPLE primaries = {SrgbRed, SrgbGreen, SrgbBlue};
    return SavedProfile(TLcmsProfile(cmsCreateRGBProfile(&D65, &primaries, curves)));
}

QByteArray PowerCurveProfile(double gamma)
{
    const TLcmsCurve curve(cmsBuildGamma(nullptr, gamma));
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    const cmsCIExyYTRIPLE primaries = {SrgbRed, SrgbGreen, SrgbBlue};
    return SavedProfile(TLcmsProfile(cmsCreateRGBProfile(&D65, &primaries, curves)));
}

QByteArray OverbrightRedProfile()
{
    TLcmsProfile profile(cmsCreate_sRGBProfile());
    cmsCIEXYZ red = *static_cast<const cmsCIEXYZ *>(cmsReadTag(profile.get(), cmsSigRedColorantTag));
    red.X *= 60, red.Y *= 60, red.Z *= 60;
    cmsWriteTag(profile.get(), cmsSigRedColorantTag, &red);
    return SavedProfile(profile);
}

QByteArray LinearGreyProfile()
{
    const TLcmsCurve linear(cmsBuildGamma(nullptr, 1.0));
    return SavedProfile(TLcmsProfile(cmsCreateGrayProfile(cmsD50_xyY(), linear.get())));
}

namespace {

enum class TTableInput { AsIs, RedAndGreenSwapped };

// A table of `points` a side that maps RGB through sRGB's colours into
// Lab (or, for a link, back into RGB), taking its input as is or with red
// and green swapped.
cmsPipeline *SrgbTable(int points, bool link, TTableInput input)
{
    const TLcmsProfile srgb(cmsCreate_sRGBProfile()), lab(cmsCreateLab2Profile(nullptr));
    cmsHTRANSFORM through = cmsCreateTransform(srgb.get(), TYPE_RGB_16, link ? srgb.get() : lab.get(),
                                               link ? TYPE_RGB_16 : TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsStage *grid = cmsStageAllocCLut16bit(nullptr, static_cast<cmsUInt32Number>(points), 3, 3, nullptr);
    const auto asIs = [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) -> cmsInt32Number {
        cmsDoTransform(transform, in, out, 1);
        return 1;
    };
    const auto swapped = [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) -> cmsInt32Number {
        const cmsUInt16Number reordered[3] = {in[1], in[0], in[2]};
        cmsDoTransform(transform, reordered, out, 1);
        return 1;
    };
    if (input == TTableInput::AsIs)
        cmsStageSampleCLut16bit(grid, asIs, through, 0);
    else
        cmsStageSampleCLut16bit(grid, swapped, through, 0);
    cmsDeleteTransform(through);
    cmsPipeline *table = cmsPipelineAlloc(nullptr, 3, 3);
    cmsPipelineInsertStage(table, cmsAT_END, grid);
    return table;
}

// A profile of the class whose one table, of `points` a side, maps RGB
// through sRGB's colours into Lab (or, for a link, back into RGB).
QByteArray Tabled(int points, cmsProfileClassSignature profileClass)
{
    TLcmsProfile profile(cmsCreateProfilePlaceholder(nullptr));
    // Version 2's table form holds a grid alone.
    cmsSetProfileVersion(profile.get(), 2.1);
    cmsSetDeviceClass(profile.get(), profileClass);
    cmsSetColorSpace(profile.get(), cmsSigRgbData);
    const bool link = profileClass == cmsSigLinkClass;
    cmsSetPCS(profile.get(), link ? cmsSigRgbData : cmsSigLabData);
    cmsPipeline *table = SrgbTable(points, link, TTableInput::AsIs);
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, table);
    if (!link) cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(table);
    return SavedProfile(profile);
}

} // namespace

QByteArray TableProfile(int points) { return Tabled(points, cmsSigDisplayClass); }

QByteArray LargeDeviceLinkProfile() { return Tabled(33, cmsSigLinkClass); }

QByteArray SrgbWithSwappingTable()
{
    TLcmsProfile profile(cmsCreate_sRGBProfile());
    // The table's colours are Lab, in version 2's table form.
    cmsSetProfileVersion(profile.get(), 2.1);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsPipeline *table = SrgbTable(9, false, TTableInput::RedAndGreenSwapped);
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, table);
    cmsPipelineFree(table);
    return SavedProfile(profile);
}

QByteArray LabProfile() { return SavedProfile(TLcmsProfile(cmsCreateLab4Profile(nullptr))); }

QByteArray DeviceLinkProfile()
{
    const auto curve = SrgbCurve();
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    return SavedProfile(TLcmsProfile(cmsCreateLinearizationDeviceLink(cmsSigRgbData, curves)));
}

QByteArray DamagedCurveProfile()
{
    QByteArray bytes = SwappedRedGreenProfile();
    // The tag directory after the 128-byte header: a count, then
    // signature, offset and size of each tag, big-endian.
    const auto read32 = [&](qsizetype at) {
        return std::uint32_t(std::uint8_t(bytes[at])) << 24 | std::uint32_t(std::uint8_t(bytes[at + 1])) << 16 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 8 | std::uint8_t(bytes[at + 3]);
    };
    for (std::uint32_t tag = 0, count = read32(128); tag < count; ++tag) {
        const qsizetype entry = 132 + 12 * qsizetype(tag);
        if (bytes.mid(entry, 4) == "rTRC") bytes.replace(qsizetype(read32(entry + 4)), 4, "zzzz");
    }
    return bytes;
}

QByteArray GarbageProfile()
{
    QByteArray bytes(300, '\x5A');
    // A size that matches, and the signature, so that only what follows is wrong.
    bytes[0] = 0, bytes[1] = 0, bytes[2] = 0x01, bytes[3] = 0x2C;
    bytes.replace(36, 4, "acsp");
    return bytes;
}

TColorant RedColorant(const QByteArray &profile)
{
    const TLcmsProfile opened(cmsOpenProfileFromMem(profile.constData(), static_cast<cmsUInt32Number>(profile.size())));
    const auto *red = opened ? static_cast<const cmsCIEXYZ *>(cmsReadTag(opened.get(), cmsSigRedColorantTag)) : nullptr;
    return red ? TColorant{red->X, red->Y, red->Z} : TColorant{};
}
