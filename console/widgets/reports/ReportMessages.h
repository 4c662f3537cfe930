#pragma once
// Window messages of the report tree's dialogs.
//
// WM_KS_USER_FILTER_ADDED: "Add..." of "Select a User Filter" (dialog 506)
// made a new user filter; the report tree adds it under the machine's "User
// Filters" folder. Posted to the dialog's notification window. wParam 0;
// lParam a text "MACHINE\filter name" (format "%s\%s", the machine as the
// dialog's computer list names it) allocated with new char[] by the poster
// and owned by the receiver from the moment the post succeeds: the handler
// takes it with TakeUserFilterText, which frees it. When the post fails (no
// such window) the poster frees it. A window destroyed while the message is
// still queued never gets it, and those few bytes are lost with it.

#include <string>

#include "ui/WindowMessages.h"

inline constexpr UINT WM_KS_USER_FILTER_ADDED = WM_APP + 125;

// The text of a WM_KS_USER_FILTER_ADDED, freed.
inline std::string TakeUserFilterText(LPARAM lParam) {
  char* text = reinterpret_cast<char*>(lParam);
  std::string copy = text ? std::string(text) : std::string();
  delete[] text;
  return copy;
}
