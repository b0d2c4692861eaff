#include "l10n/uLangWin.h"

#include <string>

#include "app/uBrand.h"
#include "l10n/uLang.h"
#include "platform/win32.h"

namespace qv {

int DetectLanguageIndex() { return LanguageIndexForLangId(GetUserDefaultUILanguage()); }

void LoadSlideCaptionsFromModule(HMODULE module) {
  ClearSlideCaptions();
  const std::wstring name = win::Wide(brand::kSlidesJsonResource);
  HRSRC info = FindResourceW(module, name.c_str(), RT_RCDATA);
  if (!info) {
    const DWORD err = GetLastError();
    LogSlideLoadFailure("EResNotFound", "Resource " + std::string(brand::kSlidesJsonResource) +
                                            " not found: (" + std::to_string(err) + ") " +
                                            win::SystemErrorText(err));
    return;
  }
  HGLOBAL loaded = LoadResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, info);
  if (!data) {
    const DWORD err = GetLastError();
    LogSlideLoadFailure("EReadError", "Resource " + std::string(brand::kSlidesJsonResource) +
                                          " cannot be read: (" + std::to_string(err) + ") " +
                                          win::SystemErrorText(err));
    return;
  }
  // Resource memory belongs to the module and needs no freeing.
  LoadSlideCaptionsFromText(std::string_view(static_cast<const char*>(data), size));
}

void LoadSlideCaptions() { LoadSlideCaptionsFromModule(nullptr); }

}  // namespace qv
