// User-interface texts in nine languages, the choice of the starting language, and the slide
// captions read from the embedded "SLIDES" resource.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// One language's texts; the field order is fixed.
struct TUIStrings {
  std::string_view LangName;
  std::string_view InnoId;
  std::string_view ReadAgreed;
  std::string_view Privacy;
  std::string_view AndWord;
  std::string_view License;
  std::string_view InstallSetting;
  std::string_view SelectLanguage;
  std::string_view InstallPath;
  std::string_view Browse;
  std::string_view BtnInstall;
  std::string_view BtnRetry;
  std::string_view BtnStartNow;
  std::string_view BtnHide;
  std::string_view InstallingWait;
  std::string_view Cancelling;
  std::string_view InstallInProgress;
  std::string_view ChooseLocation;
  std::string_view DownloadFailed;
  std::string_view DownloadFailedMsg;
  std::string_view OfflineLink;
  std::string_view InstallFailed;
  std::string_view ElevationCancelled;
  std::string_view CouldNotStart;
  std::string_view InstallerError;  // "%d": the installer's exit code, signed
  std::string_view ExitConfirm;     // "%s": the product name
  std::string_view SelectFolder;
};

inline constexpr int kLanguageCount = 9;
inline constexpr int kSlideCount = 4;

// Index order: 0 en, 1 de, 2 fr, 3 es, 4 pt, 5 it, 6 zh-Hans, 7 zh-Hant, 8 ja.
extern const std::array<TUIStrings, kLanguageCount> UIStringsTable;
extern const std::array<std::string_view, kLanguageCount> LanguageCodes;

// Language index (0 to 8) for a Windows language identifier.
int LanguageIndexForLangId(uint16_t langId);
// Language index for the user's Windows display language (GetUserDefaultUILanguage).
int DetectLanguageIndex();

// Fills the caption table from the "SLIDES" resource of the program's own module, logging
// what it found.  Called once at start-up, after the log and before the window.
void LoadSlideCaptions();
// The same from a JSON text (the resource's bytes); the portable heart of the loader.
void LoadSlideCaptionsFromText(std::string_view utf8Json);
// Writes the loader's failure line "L10N: failed to load slides: <kind>: <message>".
void LogSlideLoadFailure(std::string_view kind, std::string_view message);
// Empties the table again (tests load several documents in one process).
void ClearSlideCaptions();
// The caption of a slide, or "" when either index is out of range.
std::string SlideCaption(int langIndex, int slideIndex);

}  // namespace qv
