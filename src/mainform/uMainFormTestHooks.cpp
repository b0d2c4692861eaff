// Test builds only: a channel through which the tests under Wine read what the window shows
// (also the drawn controls, which have no window of their own) and trigger what another
// process cannot send with its data intact (a move to a monitor of another DPI).  The release
// program is built without this file.
//
// A test program sends WM_COPYDATA with kCommand and a UTF-8 command, its own window in
// wParam; the answer comes back to that window as WM_COPYDATA with kAnswer.
//   controls   one line per control: name, kind, class, showing, enabled, x,y,w,h (in the
//              window's client area), text
//   state      key=value lines: the flow's fields and timers
//   dpi N      as if the window had moved to a monitor of N DPI
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <sstream>

#include "mainform/uMainForm.h"
#include "platform/win32.h"

namespace qv {
namespace {

constexpr ULONG_PTR kCommand = 0x51565443;  // "QVTC"
constexpr ULONG_PTR kAnswer = 0x51565452;   // "QVTR"

const char* KindName(layout::Kind k) {
  switch (k) {
    case layout::Kind::Label: return "label";
    case layout::Kind::Image: return "image";
    case layout::Kind::PaintBox: return "paintbox";
    case layout::Kind::Shape: return "shape";
    case layout::Kind::Panel: return "panel";
    case layout::Kind::CheckBox: return "checkbox";
    case layout::Kind::Edit: return "edit";
    case layout::Kind::Combo: return "combo";
    case layout::Kind::Button: return "button";
    case layout::Kind::Progress: return "progress";
    case layout::Kind::PaintButton: return "paintbutton";
    case layout::Kind::Link: return "link";
  }
  return "?";
}

std::string ClassOf(HWND h) {
  if (!h) return "-";
  wchar_t buf[128] = {};
  GetClassNameW(h, buf, 128);
  return win::Narrow(buf);
}

}  // namespace

bool TfrmMain::HandleTestMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  if (msg != WM_COPYDATA) return false;
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
  if (!data || data->dwData != kCommand || !FControls) return false;
  const std::string command(static_cast<const char*>(data->lpData), data->cbData);
  std::ostringstream out;
  if (command == "controls") {
    for (const auto& c : FControls->All()) {
      const RECT r = c->BoundsInWindow();
      std::string text = c->Text();
      if (c->Kind() == layout::Kind::Edit || c->Kind() == layout::Kind::Combo) {
        wchar_t buf[1024] = {};
        GetWindowTextW(c->Hwnd(), buf, 1024);
        text = win::Narrow(buf);
      }
      for (char& ch : text)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
      const bool enabled = c.get() == pbInstall ? FInstallEnabled : c->Enabled();
      out << c->Name() << '\t' << KindName(c->Kind()) << '\t' << ClassOf(c->Hwnd()) << '\t' << (c->Showing() ? 1 : 0)
          << '\t' << (enabled ? 1 : 0) << '\t' << r.left << ',' << r.top << ',' << (r.right - r.left) << ','
          << (r.bottom - r.top) << '\t' << text << '\n';
    }
  } else if (command == "state") {
    RECT client{};
    GetClientRect(FHandle, &client);
    const HWND bar = pbInstProgress->Hwnd();
    std::string focus = "-";
    for (const auto& c : FControls->All())
      if (c->Hwnd() && c->Hwnd() == GetFocus()) focus = c->Name();
    out << "dpi=" << FDpi << "\nclient=" << client.right << 'x' << client.bottom
        << "\ncollapsed=" << FCollapsedHeight << "\ninstallEnabled=" << FInstallEnabled
        << "\ninstallHover=" << FInstallHover << "\ninstallCaption=" << FInstallCaption
        << "\nstartHover=" << FStartHover << "\ndone=" << FDone << "\nclosing=" << FClosing
        << "\nlang=" << FLangIndex << "\nslide=" << FSlideIndex << "\ntmrSlides=" << tmrSlides->Enabled()
        << "\ntmrInstall=" << tmrInstall->Enabled() << "\nretryTimer=" << FRetryTimer->Enabled()
        << "\nretryInterval=" << FRetryTimer->Interval() << "\nretryCount=" << FRetryCount
        << "\ndownloading=" << (FDownloader != nullptr) << "\nprogress=" << SendMessageW(bar, PBM_GETPOS, 0, 0)
        << "\nmarquee=" << ((GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0)
        << "\nactivityHeld=" << FActivityHeld << "\nfocus=" << focus
        << "\nglyphColor=" << (lblClose->TextColor() & 0xFFFFFF) << "\n";
  } else if (command.rfind("dpi ", 0) == 0) {
    const int dpi = std::atoi(command.c_str() + 4);
    if (dpi >= 48 && dpi <= 480) {
      RECT now{};
      GetWindowRect(FHandle, &now);
      FormDpiChanged(dpi, &now);
      out << "ok\n";
    }
  } else {
    out << "unknown command\n";
  }
  const std::string answer = out.str();
  COPYDATASTRUCT reply{kAnswer, static_cast<DWORD>(answer.size()), const_cast<char*>(answer.data())};
  SendMessageW(reinterpret_cast<HWND>(wp), WM_COPYDATA, reinterpret_cast<WPARAM>(FHandle),
               reinterpret_cast<LPARAM>(&reply));
  *result = TRUE;
  return true;
}

}  // namespace qv
