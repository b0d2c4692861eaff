#include "l10n/uLangWin.h"

#include <string>

#include "app/uBrand.h"
#include "l10n/uLang.h"
#include "platform/win32.h"

namespace qv {

int DetectLanguageIndex() { return LanguageIndexForLangId(GetUserDefaultUILanguage()); }

void LoadSlideCaptionsFromModule(HMODULE module) {
  ClearSlideCaptions();
  bool found = false;
  const auto data = win::RcData(module, brand::kSlidesJsonResource, &found);
  if (!data) {
    const DWORD err = GetLastError();
    LogSlideLoadFailure(found ? "EReadError" : "EResNotFound",
                        "Resource " + std::string(brand::kSlidesJsonResource) +
                            (found ? " cannot be read: (" : " not found: (") + std::to_string(err) + ") " +
                            win::SystemErrorText(err));
    return;
  }
  // Resource memory belongs to the module and needs no freeing.
  LoadSlideCaptionsFromText(*data);
}

void LoadSlideCaptions() { LoadSlideCaptionsFromModule(nullptr); }

}  // namespace qv
