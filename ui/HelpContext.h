#pragma once
// Help by window: each window, dialog or pane names the help context of its
// topic, and F1 shows the topic of the one the user is in. A widget without a
// context of its own takes its nearest ancestor's; a window with none in its
// chain shows the help file's contents page. The help file is the one the
// application's help path names at that moment (each module frame points it
// at its module's file while active), so the numbers are the module's.
//
// The application object (CWinApp) catches F1 for the whole program while it
// exists, ahead of any F1 shortcut. User-interface thread only.

#include "platform/core/Win32Types.h"

class QWidget;

// Help contexts of the framework: a window or dialog of resource id n has
// HID_BASE_RESOURCE + n, a command of id n HID_BASE_COMMAND + n. A module
// frame names its resource's context when it is made.
inline constexpr DWORD HID_BASE_COMMAND = 0x10000;
inline constexpr DWORD HID_BASE_RESOURCE = 0x20000;

// Stores dwContext on pWnd (0 takes its context away).
void AfxSetHelpContext(QWidget* pWnd, DWORD dwContext);
// The context pWnd or its nearest ancestor names; 0 when none does.
DWORD AfxGetHelpContext(const QWidget* pWnd);
// What F1 does in pWnd: the application's WinHelp with that context, or the
// contents page when there is none. Nothing without an application object.
void AfxShowContextHelp(const QWidget* pWnd);

// The application object's F1, for the whole program: installed on the Qt
// application when the application object is made, taken away when it goes.
void AfxInstallHelpKey();
void AfxRemoveHelpKey();
