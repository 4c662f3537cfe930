#pragma once
// Message boxes as the console code asks for them: a text, a type made of a
// button set, an icon and a default button (MB_ flags), and the chosen button
// as the result (IDOK, IDYES...). The box is modal, titled with the
// application's name, over the main window.
//
// A hook can answer instead of a person: while one is installed, every message
// box calls it with the text and type and returns its answer without showing
// anything. Tests of dialogs and of code that asks questions install one.
// User-interface thread only.

#include <QString>
#include <functional>

#include "platform/core/Win32Types.h"

// Buttons.
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_OKCANCEL = 0x0001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x0002;
inline constexpr UINT MB_YESNOCANCEL = 0x0003;
inline constexpr UINT MB_YESNO = 0x0004;
inline constexpr UINT MB_RETRYCANCEL = 0x0005;
inline constexpr UINT MB_TYPEMASK = 0x000F;
// Icons.
inline constexpr UINT MB_ICONHAND = 0x0010;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x0020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x0030;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x0040;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0x00F0;
// Default button.
inline constexpr UINT MB_DEFBUTTON1 = 0x0000;
inline constexpr UINT MB_DEFBUTTON2 = 0x0100;
inline constexpr UINT MB_DEFBUTTON3 = 0x0200;
inline constexpr UINT MB_DEFMASK = 0x0F00;

// Results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

using MessageBoxHook = std::function<int(const QString& text, UINT nType)>;

// Installs hook (an empty one removes it) and returns the one it replaces.
MessageBoxHook AfxSetMessageBoxHook(MessageBoxHook hook);

// Shows text; returns the button chosen (IDCANCEL when the box is closed
// without a choice and has a Cancel button, else the only or first button).
// nIDHelp is accepted for the callers' sake; boxes have no help button.
int AfxMessageBox(const QString& text, UINT nType = MB_OK, UINT nIDHelp = 0);
// The same with the text of string resource nIDPrompt.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
