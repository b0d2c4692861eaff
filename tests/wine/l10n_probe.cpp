// Test program for the localisation unit under Wine.
//   l10n_probe slides MODULE LOG   loads the slide captions from MODULE ("-": this program) with
//                                  the setup log at LOG and prints "lang<TAB>slide<TAB>caption"
//   l10n_probe lang                prints the UI language identifier and the chosen index
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/uLogger.h"
#include "l10n/uLang.h"
#include "l10n/uLangWin.h"
#include "platform/win32.h"

namespace {

void Out(const std::string& s) {
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring cmd = argc > 1 ? argv[1] : L"";
  if (cmd == L"lang") {
    char line[64];
    snprintf(line, sizeof line, "%04X %d\n", GetUserDefaultUILanguage(), qv::DetectLanguageIndex());
    Out(line);
    return 0;
  }
  if (cmd == L"slides" && argc > 3) {
    qv::LoggerStartupAt(qv::win::Narrow(argv[3]));
    if (std::wstring(argv[2]) == L"-") {
      qv::LoadSlideCaptions();
    } else {
      HMODULE module = LoadLibraryExW(argv[2], nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
      if (!module) return 2;
      qv::LoadSlideCaptionsFromModule(module);
      FreeLibrary(module);
    }
    for (int lang = 0; lang < qv::kLanguageCount; ++lang)
      for (int slide = 0; slide < qv::kSlideCount; ++slide)
        Out(std::to_string(lang) + "\t" + std::to_string(slide) + "\t" +
            qv::SlideCaption(lang, slide) + "\n");
    qv::LoggerFinalize();
    return 0;
  }
  return 64;
}
