#include "platform/dll_search.h"

#include <windows.h>

#include <delayimp.h>

#include <cwchar>
#include <string>

namespace qv::win {
namespace {

bool g_searchRestricted = false;

}  // namespace

// Before a lazily imported DLL is loaded: on a system that could not restrict the search, load
// it from the system folder by its full path.  The common controls are the exception: the
// manifest redirects them to the side-by-side version 6, which a full path would bypass.
static FARPROC WINAPI BeforeDelayLoad(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || g_searchRestricted || !info || !info->szDll) return nullptr;
  if (_stricmp(info->szDll, "comctl32.dll") == 0) return nullptr;
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring path(system);
  path += L'\\';
  for (const char* c = info->szDll; *c; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return reinterpret_cast<FARPROC>(LoadLibraryW(path.c_str()));
}

// System DLLs that the lazily imported ones and the shell load in turn.  Windows applies the
// restriction to those dependencies too; Wine 8 does not, so they are loaded from the system
// folder here, before anything asks for them by name (a DLL already loaded is used as it is).
constexpr const wchar_t* kDependencies[] = {L"crypt32.dll", L"secur32.dll", L"bcrypt.dll", L"msimg32.dll",
                                            L"windowscodecs.dll", L"propsys.dll"};

void RestrictDllSearch() {
  using SetDirs = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDirs =
      kernel ? reinterpret_cast<SetDirs>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
             : nullptr;
  g_searchRestricted = setDirs && setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // At least the current folder leaves the search where the system cannot restrict it.
  if (!g_searchRestricted) SetDllDirectoryW(L"");
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  for (const wchar_t* dll : kDependencies) LoadLibraryW((std::wstring(system) + L"\\" + dll).c_str());
}

}  // namespace qv::win

// The delay-load helper's notification hook (replaces the runtime's empty default).
PfnDliHook __pfnDliNotifyHook2 = qv::win::BeforeDelayLoad;
