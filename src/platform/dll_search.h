// Where the program's DLLs come from.
#pragma once

namespace qv::win {

// The program's own folder (the user's Downloads) is writable by every program of the user, so
// no DLL may ever be loaded from it.  Call first thing in the entry point: from then on only the
// system folder is searched.  The DLLs that are not known system DLLs are imported lazily (see
// cmake/DelayImport.cmake), so none has been loaded before.  Where the system cannot restrict
// the search, the lazily imported DLLs are loaded by their full system-folder path instead.
void RestrictDllSearch();

}  // namespace qv::win
