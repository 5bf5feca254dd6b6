// Profiles made from the code points HEIF and AVIF describe colours by hold
// the primaries those name: their red colorants are the published ones of
// Display P3 and BT.2020 profiles; sRGB's and what a profile cannot say
// (PQ, HLG, unknown numbers) give none.
#include "platform/metadata/cicp_profiles.h"
#include "platform/metadata/colour_profiles.h"
#include "support/profiles.h"

#include <gtest/gtest.h>

TEST(ProfileForCodePoints, NamedPrimariesBecomeProfilesAndSrgbNone)
{
    const struct {
        int primaries, transfer;
        TColorant red;
    } made[] = {
        {12, 13, {0.5151, 0.2412, -0.0011}}, // Display P3
        {9, 1, {0.6734, 0.2790, -0.0019}},   // BT.2020
        {1, 8, {0.4361, 0.2225, 0.0139}},    // sRGB's primaries, linear
    };
    for (const auto &m : made) {
        SCOPED_TRACE(testing::Message() << m.primaries << "/" << m.transfer);
        const QByteArray profile = ProfileForCodePoints(m.primaries, m.transfer);
        EXPECT_EQ(PictureProfileSpace(profile), TProfileSpace::Rgb);
        const TColorant red = RedColorant(profile);
        EXPECT_NEAR(red.x, m.red.x, 0.003);
        EXPECT_NEAR(red.y, m.red.y, 0.003);
        EXPECT_NEAR(red.z, m.red.z, 0.003);
    }
    for (const auto &[primaries, transfer] : {std::pair{1, 13}, std::pair{2, 2}, std::pair{1, 2}, std::pair{9, 16}, std::pair{9, 18}, std::pair{3, 13}, std::pair{12, 99}})
        EXPECT_TRUE(ProfileForCodePoints(primaries, transfer).isEmpty()) << primaries << "/" << transfer;
}
