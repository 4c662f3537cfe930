#pragma once
// Command ids of the commands every console window shares (File, View, Window
// and Help menus). The numbers are the ones the console's menus and help
// contexts were numbered with, so they must not change; the console's own
// commands (0x8000 and up) are in its resources.

#include "platform/core/Win32Types.h"

enum : UINT {
  ID_FILE_NEW = 0xE100,
  ID_FILE_OPEN = 0xE101,
  ID_FILE_CLOSE = 0xE102,
  ID_FILE_SAVE = 0xE103,
  ID_FILE_SAVE_AS = 0xE104,
  ID_FILE_PAGE_SETUP = 0xE105,
  ID_FILE_PRINT_SETUP = 0xE106,
  ID_FILE_PRINT = 0xE107,
  ID_WINDOW_NEW = 0xE130,
  ID_WINDOW_ARRANGE = 0xE131,
  ID_WINDOW_CASCADE = 0xE132,
  ID_WINDOW_TILE_HORZ = 0xE133,
  ID_WINDOW_TILE_VERT = 0xE134,
  ID_APP_ABOUT = 0xE140,
  ID_APP_EXIT = 0xE141,
  ID_HELP_INDEX = 0xE142,
  ID_HELP_FINDER = 0xE143,
  ID_HELP_USING = 0xE144,
  ID_HELP = 0xE146,
  ID_VIEW_TOOLBAR = 0xE800,
  ID_VIEW_STATUS_BAR = 0xE801,
};
