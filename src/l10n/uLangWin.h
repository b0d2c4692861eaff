// Windows side of the localisation unit: the caption loader for an explicit module.
#pragma once

#include <windows.h>

namespace qv {

// Loads the slide captions from the "SLIDES" resource of `module` (nullptr: this program), with
// the same log lines as LoadSlideCaptions.
void LoadSlideCaptionsFromModule(HMODULE module);

}  // namespace qv
