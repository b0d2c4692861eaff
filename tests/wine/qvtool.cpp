// Test tool run under Wine beside the installer: finds, inspects and drives its window, holds
// files open, and reads the resources of a program file.  Output is UTF-8 on stdout.
//
//   qvtool find                      exit 0 when the installer window exists; prints its state
//   qvtool wait SECONDS              waits until the window exists
//   qvtool close | minimize | restore
//   qvtool tree                      class, text, visibility and rectangle of every child window
//   qvtool msgbox                    the installer's open message box: caption, text, buttons
//                                    (id:caption) and the default button; exit 1 when none
//   qvtool msgbox-press ID           ends that message box as if button ID had been pressed
//   qvtool endsession                asks the installer window whether the session may end
//                                    (WM_QUERYENDSESSION, log-off); prints answer=0 or 1
//   qvtool ask COMMAND...            the installer's test channel (test builds): "controls",
//                                    "state", "dpi N"; prints its answer
//   qvtool ask-until S TEXT COMMAND...  asks over and over, for up to S seconds, until the answer
//                                    contains TEXT (exit 0) or not (exit 1); prints "watching"
//                                    once the first answer is in: catches what shows briefly
//   qvtool hold PATH SECONDS         opens PATH exclusively and keeps it open
//   qvtool resinfo EXE               version strings, manifest and icon group of EXE
//   qvtool setres EXE NAME FILE      replaces the RCDATA resource NAME of EXE with FILE's bytes
//   qvtool tamper PATH               tries to overwrite, rename and delete PATH; prints the
//                                    Windows error of each (0: it worked)
//   qvtool trust CERT.der            adds a CA certificate to the machine's Root store
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/uBrand.h"
#include "platform/win32.h"

using qv::win::Narrow;
using qv::win::Wide;

namespace {

void Out(const std::string& s) {
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

HWND FindInstaller() {
  return FindWindowW(Wide(qv::brand::kWindowClassName).c_str(), Wide(qv::brand::kWindowCaption).c_str());
}

std::string RectText(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right - r.left) +
         "x" + std::to_string(r.bottom - r.top);
}

std::string WindowText(HWND h) {
  wchar_t buf[1024] = {};
  GetWindowTextW(h, buf, 1024);
  return Narrow(buf);
}

std::string ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return Narrow(buf);
}

int State(HWND h) {
  RECT c{};
  GetClientRect(h, &c);
  Out("hwnd=" + std::to_string(reinterpret_cast<uintptr_t>(h)) + " iconic=" +
      std::to_string(IsIconic(h) ? 1 : 0) + " visible=" + std::to_string(IsWindowVisible(h) ? 1 : 0) +
      " foreground=" + std::to_string(GetForegroundWindow() == h ? 1 : 0) + " rect=" + RectText(h) +
      " client=" + std::to_string(c.right) + "x" + std::to_string(c.bottom) + " style=" +
      std::to_string(GetWindowLongW(h, GWL_STYLE)) + " pid=" + [h] {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        return std::to_string(pid);
      }() + "\n");
  return 0;
}

BOOL CALLBACK PrintChild(HWND h, LPARAM) {
  const HWND parent = GetParent(h);
  Out(ClassOf(h) + "\t" + WindowText(h) + "\t" + (IsWindowVisible(h) ? "visible" : "hidden") + "\t" +
      RectText(h) + "\tparent=" + std::to_string(reinterpret_cast<uintptr_t>(parent)) + "\tid=" +
      std::to_string(GetDlgCtrlID(h)) + "\thwnd=" + std::to_string(reinterpret_cast<uintptr_t>(h)) + "\n");
  return TRUE;
}

std::string VersionString(const std::vector<BYTE>& data, const wchar_t* name) {
  struct Lang { WORD lang, cp; }* langs = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&langs), &len) ||
      len < sizeof(Lang))
    return {};
  wchar_t path[128];
  swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", langs[0].lang, langs[0].cp, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &len)) return {};
  return Narrow(value);
}

int ResInfo(const std::wstring& exe) {
  DWORD dummy = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &dummy);
  if (size) {
    std::vector<BYTE> data(size);
    if (GetFileVersionInfoW(exe.c_str(), 0, size, data.data())) {
      for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                 L"OriginalFilename", L"ProductName", L"ProductVersion"})
        Out("version." + Narrow(key) + "=" + VersionString(data, key) + "\n");
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT len = 0;
      if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len)) {
        auto v = [](DWORD ms, DWORD ls) {
          return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
                 std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
        };
        Out("fixed.file=" + v(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + "\n");
        Out("fixed.product=" + v(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + "\n");
      }
    }
  }
  HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!m) {
    Out("error=cannot load " + Narrow(exe) + "\n");
    return 2;
  }
  if (HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    const char* p = static_cast<const char*>(LockResource(LoadResource(m, r)));
    Out("manifest.begin\n" + std::string(p, SizeofResource(m, r)) + "\nmanifest.end\n");
  }
  if (HRSRC r = FindResourceW(m, L"MAINICON", RT_GROUP_ICON)) {
#pragma pack(push, 2)
    struct Entry { BYTE w, h, colors, reserved; WORD planes, bits; DWORD bytes; WORD id; };
    struct Dir { WORD reserved, type, count; Entry e[1]; };
#pragma pack(pop)
    const Dir* d = static_cast<const Dir*>(LockResource(LoadResource(m, r)));
    for (int i = 0; i < d->count; ++i) {
      const Entry& e = d->e[i];
      HRSRC ir = FindResourceW(m, MAKEINTRESOURCEW(e.id), RT_ICON);
      const BYTE* img = ir ? static_cast<const BYTE*>(LockResource(LoadResource(m, ir))) : nullptr;
      const bool png = img && img[0] == 0x89 && img[1] == 'P' && img[2] == 'N' && img[3] == 'G';
      Out("icon size=" + std::to_string(e.w ? e.w : 256) + " bits=" + std::to_string(e.bits) +
          " format=" + (png ? "png" : "bmp") + "\n");
    }
  }
  for (const wchar_t* name : {L"TFRMMAIN", L"SLIDES", L"BRANDPNG", L"PRODUCTPNG", L"SLIDE1", L"SLIDE2",
                              L"SLIDE3", L"SLIDE4"}) {
    HRSRC r = FindResourceW(m, name, RT_RCDATA);
    Out("rcdata." + Narrow(name) + "=" + (r ? std::to_string(SizeofResource(m, r)) : "missing") + "\n");
  }
  FreeLibrary(m);
  return 0;
}

}  // namespace

// A visible dialog (message box, folder picker) of the installer's process.
HWND FindInstallerDialog() {
  HWND main = FindInstaller();
  if (!main) return nullptr;
  struct Search { DWORD pid; HWND found; } search{0, nullptr};
  GetWindowThreadProcessId(main, &search.pid);
  EnumWindows(
      [](HWND h, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == s->pid && IsWindowVisible(h) && ClassOf(h) == "#32770") {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int MessageBoxInfo() {
  HWND box = FindInstallerDialog();
  if (!box) return 1;
  std::string text, buttons;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    const std::string cls = ClassOf(c);
    if (cls == "Static" && GetDlgCtrlID(c) == 0xFFFF) text = WindowText(c);
    if (cls == "Button" && IsWindowVisible(c))
      buttons += (buttons.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(c)) + ":" + WindowText(c);
  }
  const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
  Out("caption=" + WindowText(box) + "\ntext=" + text + "\nbuttons=" + buttons + "\ndefault=" +
      std::to_string(HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0) + "\n");
  return 0;
}

// The bytes of a file; false when it cannot be read.
bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& bytes) {
  HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  bytes.resize(GetFileSize(f, nullptr));
  DWORD got = 0;
  const BOOL ok = ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(f);
  bytes.resize(got);
  return ok != FALSE;
}

// The installer's test channel: a command by WM_COPYDATA, the answer by WM_COPYDATA back.
constexpr ULONG_PTR kCommand = 0x51565443;
constexpr ULONG_PTR kAnswer = 0x51565452;
std::string g_answer;
bool g_answered = false;

LRESULT CALLBACK AnswerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    if (data && data->dwData == kAnswer) {
      g_answer.assign(static_cast<const char*>(data->lpData), data->cbData);
      g_answered = true;
      return TRUE;
    }
  }
  return DefWindowProcW(h, msg, wp, lp);
}

// The answer lands in g_answer; 0 when there is one.
int Query(const std::string& command) {
  HWND target = FindInstaller();
  if (!target) return 1;
  static HWND self = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = AnswerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QvToolAnswer";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }();
  COPYDATASTRUCT data{kCommand, static_cast<DWORD>(command.size()), const_cast<char*>(command.data())};
  DWORD_PTR ignored = 0;
  g_answered = false;
  if (!SendMessageTimeoutW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&data),
                           SMTO_NORMAL, 10000, &ignored))
    return 3;
  return g_answered ? 0 : 2;
}

int Ask(const std::string& command) {
  const int rc = Query(command);
  if (rc == 0) Out(g_answer);
  return rc;
}

int AskUntil(DWORD ms, const std::string& text, const std::string& command) {
  const DWORD start = GetTickCount();
  bool first = true;
  do {
    if (Query(command) == 0) {
      if (g_answer.find(text) != std::string::npos) return 0;
      if (first) Out("watching\n");
      first = false;
    }
    Sleep(2);
  } while (GetTickCount() - start < ms);
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 64;
  const std::wstring cmd = argv[1];
  if (cmd == L"find") {
    HWND h = FindInstaller();
    return h ? State(h) : 1;
  }
  if (cmd == L"wait" && argc > 2) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(_wtoi(argv[2]) * 1000);
    while (GetTickCount() < end) {
      if (HWND h = FindInstaller(); h && IsWindowVisible(h)) return State(h);
      Sleep(50);
    }
    return 1;
  }
  if (cmd == L"close" || cmd == L"minimize" || cmd == L"restore") {
    HWND h = FindInstaller();
    if (!h) return 1;
    if (cmd == L"close") PostMessageW(h, WM_CLOSE, 0, 0);
    else ShowWindow(h, cmd == L"minimize" ? SW_MINIMIZE : SW_RESTORE);
    return 0;
  }
  if (cmd == L"tree") {
    HWND h = FindInstaller();
    if (!h) return 1;
    State(h);
    EnumChildWindows(h, PrintChild, 0);
    return 0;
  }
  if (cmd == L"hold" && argc > 3) {
    HANDLE f = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 2;
    Out("holding\n");
    Sleep(static_cast<DWORD>(_wtoi(argv[3]) * 1000));
    CloseHandle(f);
    return 0;
  }
  if (cmd == L"resinfo" && argc > 2) return ResInfo(argv[2]);
  if (cmd == L"setres" && argc > 4) {
    std::vector<BYTE> bytes;
    if (!ReadWholeFile(argv[4], bytes)) return 2;
    HANDLE update = BeginUpdateResourceW(argv[2], FALSE);
    if (!update) return 3;
    const BOOL ok = UpdateResourceW(update, RT_RCDATA, argv[3], MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                    bytes.data(), static_cast<DWORD>(bytes.size()));
    return EndUpdateResourceW(update, !ok) && ok ? 0 : 4;
  }
  if (cmd == L"tamper" && argc > 2) {
    const std::wstring path = argv[2];
    DWORD write = 0, rename = 0, remove = 0;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      write = GetLastError();
    } else {
      DWORD n = 0;
      if (!WriteFile(f, "XX", 2, &n, nullptr)) write = GetLastError();
      CloseHandle(f);
    }
    const std::wstring moved = path + L".moved";
    if (MoveFileExW(path.c_str(), moved.c_str(), 0)) MoveFileExW(moved.c_str(), path.c_str(), 0);
    else rename = GetLastError();
    if (!DeleteFileW(path.c_str())) remove = GetLastError();
    Out("write=" + std::to_string(write) + " rename=" + std::to_string(rename) + " delete=" + std::to_string(remove) +
        "\n");
    return 0;
  }
  if (cmd == L"msgbox") return MessageBoxInfo();
  if (cmd == L"msgbox-press" && argc > 2) {
    HWND box = FindInstallerDialog();
    if (!box) return 1;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(_wtoi(argv[2]), BN_CLICKED), 0);
    return 0;
  }
  if (cmd == L"endsession") {
    HWND h = FindInstaller();
    if (!h) return 1;
    // Sent, as Windows sends it: the answer is the window's own.  An exit question the window
    // may show keeps it waiting, hence the time-out.
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(h, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 20000, &answer)) return 3;
    Out("answer=" + std::to_string(answer) + "\n");
    return 0;
  }
  if (cmd == L"ask-until" && argc > 4) {
    std::string command = Narrow(argv[4]);
    for (int i = 5; i < argc; ++i) command += " " + Narrow(argv[i]);
    return AskUntil(static_cast<DWORD>(_wtoi(argv[2]) * 1000), Narrow(argv[3]), command);
  }
  if (cmd == L"ask" && argc > 2) {
    std::string command = Narrow(argv[2]);
    for (int i = 3; i < argc; ++i) command += " " + Narrow(argv[i]);
    return Ask(command);
  }
  if (cmd == L"trust" && argc > 2) {
    // The local-machine store takes the certificate without the confirmation dialog that the
    // current user's Root store would show.
    std::vector<BYTE> der;
    if (!ReadWholeFile(argv[2], der)) return 2;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return 3;
    const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return ok ? 0 : 4;
  }
  return 64;
}
