#pragma once
// Resource ids and types that the builder writes and the patcher reads. Included by the .rc files
// too, so it holds only preprocessor definitions outside the C++ part.

#define SV_RES_SKIN_PACKAGE 900  // RT_RCDATA (10): the skin package
#define SV_RES_PACKAGE_DIGEST 901  // RT_RCDATA (10): the package's digest, for the file's CRC only
#define SV_RES_RELEASE_KEY 902     // RT_RCDATA (10): the operator's release key, one line (absent: unsigned)
#define SV_RES_ICON_GROUP 1      // RT_GROUP_ICON (14); its images are RT_ICON 1..n
#define SV_RES_VERSION 1         // RT_VERSION (16)
#define SV_RES_MANIFEST 1        // RT_MANIFEST (24)

#ifndef RC_INVOKED
#include <cstdint>

namespace sv {

constexpr uint16_t kResTypeIcon = 3;        // RT_ICON
constexpr uint16_t kResTypeRcData = 10;     // RT_RCDATA
constexpr uint16_t kResTypeGroupIcon = 14;  // RT_GROUP_ICON
constexpr uint16_t kResTypeVersion = 16;    // RT_VERSION
constexpr uint16_t kResTypeManifest = 24;   // RT_MANIFEST

constexpr uint16_t kResSkinPackage = SV_RES_SKIN_PACKAGE;
constexpr uint16_t kResPackageDigest = SV_RES_PACKAGE_DIGEST;
constexpr uint16_t kResReleaseKey = SV_RES_RELEASE_KEY;
constexpr uint16_t kResIconGroup = SV_RES_ICON_GROUP;
constexpr uint16_t kResVersion = SV_RES_VERSION;
constexpr uint16_t kResManifest = SV_RES_MANIFEST;

// Everything is written in the neutral language.
constexpr uint16_t kResLanguage = 0;

}  // namespace sv
#endif
