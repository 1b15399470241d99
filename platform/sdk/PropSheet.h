#pragma once
// The platform's common property sheet: a modal window that shows property pages as tabs
// with OK, Cancel and Apply, as the service's property pages expect to be shown.

#include "ComBase.h"
#include "tvMSTask.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

class QIcon;

using UINT = std::uint32_t;
using INT_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Header flags
constexpr DWORD PSH_PROPTITLE = 0x1;          ///< title the sheet "<caption> Properties"
constexpr DWORD PSH_USEHICON = 0x2;           ///< show hIcon as the sheet's icon
constexpr DWORD PSH_NOAPPLYNOW = 0x80;        ///< no Apply button
constexpr DWORD PSH_USECALLBACK = 0x100;      ///< call pfnCallback
constexpr DWORD PSH_HASHELP = 0x200;          ///< the pages may offer help
constexpr DWORD PSH_NOCONTEXTHELP = 0x2000000; ///< no context-help button in the title bar

/// The sheet callback's notification that the sheet window exists, before it is shown.
constexpr UINT PSCB_INITIALIZED = 1;

/// The message a sheet procedure receives for a button: the low word of wParam is its id.
constexpr UINT WM_COMMAND = 0x0111;
constexpr WORD IDOK = 1;
constexpr WORD IDCANCEL = 2;
/// The sheet's Apply button.
constexpr WORD ID_APPLY_NOW = 0x3021;

constexpr WORD LOWORD(WPARAM w) { return WORD(w & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) { return WPARAM(low) | (WPARAM(high) << 16); }

/// Called with the sheet window and a notification (PSCB_INITIALIZED); the result is ignored.
using PFNPROPSHEETCALLBACK = std::function<int(HWND hwndDlg, UINT uMsg, LPARAM lParam)>;
/// A sheet's procedure: receives every command of the sheet and returns its result. The
/// sheet's own procedure carries the command out (Apply applies the pages, OK applies and
/// closes, Cancel closes).
using SHEETPROC = std::function<LRESULT(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)>;

/// What the sheet shows.
struct PROPSHEETHEADERW {
    DWORD dwSize = 52;
    DWORD dwFlags = 0;
    /// The window the sheet belongs to; null for none.
    HWND hwndParent = nullptr;
    /// The icon shown with PSH_USEHICON.
    const QIcon* hIcon = nullptr;
    /// The title, or with PSH_PROPTITLE the name whose properties these are.
    QString pszCaption;
    /// The page shown first (0-based).
    UINT nStartPage = 0;
    /// The pages, in tab order; the sheet takes them over and frees them when it closes.
    QList<HPROPSHEETPAGE> phpage;
    /// Called with PSH_USECALLBACK.
    PFNPROPSHEETCALLBACK pfnCallback;
};

/// Shows the sheet modally and returns when it closes: a positive value when the pages'
/// changes were applied (OK, or Apply before closing), 0 when none were, -1 when the sheet
/// could not be shown (no pages, or a program without the sheet).
INT_PTR PropertySheetW(const PROPSHEETHEADERW* ppsh);
/// Frees a page that was never handed to a sheet.
void DestroyPropertySheetPage(HPROPSHEETPAGE page);
/// Replaces the procedure of the sheet `hwnd` while it is shown and returns the previous
/// one (empty when `hwnd` is no sheet). A replacement passes the commands on to the
/// previous procedure for the sheet to carry them out.
SHEETPROC SetSheetProc(HWND hwnd, SHEETPROC proc);
