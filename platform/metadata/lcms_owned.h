// Little CMS's profiles, transforms and tone curves, each owned and freed
// by the call Little CMS gives it, and a made profile's bytes.
#pragma once

#include <QByteArray>

#include <lcms2.h>

#include <memory>

struct TLcmsProfileClose {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using TLcmsProfile = std::unique_ptr<void, TLcmsProfileClose>;

struct TLcmsTransformDelete {
    void operator()(void *transform) const { cmsDeleteTransform(transform); }
};
using TLcmsTransform = std::unique_ptr<void, TLcmsTransformDelete>;

struct TLcmsCurveFree {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};
using TLcmsCurve = std::unique_ptr<cmsToneCurve, TLcmsCurveFree>;

// The profile as a file carries it; empty where there is none or Little
// CMS cannot write it.
QByteArray SavedProfile(const TLcmsProfile &profile);
