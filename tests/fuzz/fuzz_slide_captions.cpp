// The slide-caption resource (JSON) of the program file; a damaged file may hold any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/strings.h"
#include "fuzz_check.h"
#include "l10n/uLang.h"

using qv::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::LoadSlideCaptionsFromText(qv::fuzz::AsText(data, size));
  for (int lang = 0; lang < qv::kLanguageCount; ++lang) {
    for (int slide = 0; slide < qv::kSlideCount; ++slide) {
      // A caption goes to the screen through the UTF-16 conversion: it must be valid UTF-8.
      const std::string caption = qv::SlideCaption(lang, slide);
      Require(qv::Utf16ToUtf8(qv::Utf8ToUtf16(caption)) == caption, "a caption is valid UTF-8");
    }
  }
  return 0;
}
