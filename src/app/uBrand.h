// Product constants: every name, file name, endpoint, colour and resource name that ties the
// installer to Quorvel, in one place.  Hosts and analytics credentials are fixed at build time
// (CMake cache variables); a test build points the hosts at loopback servers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#ifndef QV_DOWNLOAD_HOST
#error "QV_DOWNLOAD_HOST must be defined by the build"
#endif

namespace qv::brand {

inline constexpr std::string_view kProductName = "Quorvel";
inline constexpr std::string_view kWindowCaption = "Quorvel Setup";
inline constexpr std::string_view kApplicationTitle = "Quorvel Online Installer";
inline constexpr std::string_view kWindowClassName = "TfrmMain";
inline constexpr std::string_view kSingleInstanceMutex = "QuorvelOnlineInstaller_SingleInstance";

inline constexpr std::string_view kLogFileName = "quorvel-setup.log";
inline constexpr std::string_view kLogStartBanner = "======== Quorvel Setup started ========";
inline constexpr std::string_view kLogExitBanner = "======== Setup exited ========";

inline constexpr std::string_view kDownloadedInstallerName = "quorvel_setup.exe";  // underscore
inline constexpr std::string_view kApplicationExeName = "Quorvel.exe";
inline constexpr std::string_view kDefaultInstallFolderName = "Quorvel";
inline constexpr std::string_view kUserAgent = "OnlineInstaller/1.0";

// Colours as 0xRRGGBB.
inline constexpr uint32_t kAccentColor = 0xFF9C1B;
inline constexpr uint32_t kAccentHoverColor = 0xFF9000;

// Endpoints: hosts from the build, fixed paths.
inline constexpr std::string_view kDownloadHost = QV_DOWNLOAD_HOST;
inline constexpr std::string_view kWebHost = QV_WEB_HOST;
inline constexpr std::string_view kAnalyticsHost = QV_ANALYTICS_HOST;
inline constexpr std::string_view kDownloadPath = "/quorvel.exe";
inline constexpr std::string_view kPrivacyPath = "/privacy-policy/";
inline constexpr std::string_view kLicensePath = "/user-license-agreement/";
inline constexpr std::string_view kAnalyticsCollectPath = "/mp/collect?measurement_id=%s&api_secret=%s";
inline constexpr std::string_view kAnalyticsDebugPath =
    "/debug/mp/collect?measurement_id=%s&api_secret=%s";
inline constexpr std::string_view kMeasurementId = QV_GA_MEASUREMENT_ID;
inline constexpr std::string_view kApiSecret = QV_GA_API_SECRET;

inline std::string DownloadUrl() { return "https://" + std::string(kDownloadHost) + std::string(kDownloadPath); }
inline std::string PrivacyUrl() { return "https://" + std::string(kWebHost) + std::string(kPrivacyPath); }
inline std::string LicenseUrl() { return "https://" + std::string(kWebHost) + std::string(kLicensePath); }

// Embedded RCDATA resources.
inline constexpr std::string_view kLayoutResource = "TFRMMAIN";
inline constexpr std::string_view kBrandPngResource = "BRANDPNG";
inline constexpr std::string_view kProductPngResource = "PRODUCTPNG";
inline constexpr std::string_view kSlideResourceFormat = "SLIDE%d";  // 1 to 4
inline constexpr std::string_view kSlidesJsonResource = "SLIDES";

// Texts given to Windows.
inline constexpr std::string_view kShellVerbOpen = "open";
inline constexpr std::string_view kExplorerExe = "explorer.exe";

}  // namespace qv::brand
