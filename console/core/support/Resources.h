#pragma once
// The console module's string resources: every text the module loads by id
// (registry key names, report names, document strings of the window templates,
// message formats). One table, looked up as LoadString does.

#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn::console {

// The text of resource string `id`, or an empty view when the module has none.
// The text lives as long as the program.
std::string_view KSLoadString(UINT id);

// True when the module has a string with this id (an empty text is a string too).
bool KSHasString(UINT id);

// LoadString's shape: copies at most nBufferMax - 1 characters and a terminator,
// returns the number of characters copied (0 when the id is unknown).
int KSLoadString(UINT id, char* buffer, int nBufferMax);

// Resource ids the module's own code names.
enum : UINT {
  IDR_KSMGRTYPE = 400,     // manager document
  IDR_KSRPTTYPE = 401,     // report result document
  IDR_KSSCHETYPE = 402,    // schedule document
  IDR_GRAPHTYPE = 404,     // graph document
  IDS_MACHINE_INFO_COLUMNS = 64300,
  IDS_DETAIL_COLUMNS = 64304,
  IDS_USER_FILTER_KEY = 64305,
  IDS_PRODUCT_NAME = 64306,
  IDS_REPORT_SET_KEY = 64307,
  IDS_NOT_ENOUGH_MEMORY = 64308,
  IDS_REPORT_SET_KEY_FMT = 64309,
  IDS_USER_FILTERS = 64320,
  IDS_NETWORK_ROOT = 64383,
  IDS_MY_COMPUTER = 64384,
  IDS_PREFERRED_MACHINES = 64386,
  IDS_PROFILE_SECTION_VNMGR = 64387,
  IDS_DOMAIN = 64388,
  IDS_NOT_NT_MACHINE = 64389,
  IDS_PREFERRED_MACHINES_VALUE = 64390,
  IDS_CUSTOM_REPORTS = 64391,
  IDS_CONFIRM_DELETE = 64394,
  IDS_INFORMATION = 64395,      // the report list's column
  IDS_CUSTOM_REPORT_ROOT_KEY = 64396,
  IDS_REPORT_SETS = 64397,
  IDS_FIRST_REPORT_NAME = 64398,  // 64398 + catalogue index, 20 names
  IDS_CUSTOM_REPORT_KEY_FMT = 64418,
  IDS_REPLACE_REPORT_SET = 64419,
  IDS_REPORTSET_CLIPFORMAT = 64420,
  IDS_REPORT_EXISTS = 64421,
  IDS_CUSTOM_CLIPFORMAT = 64422,
  IDS_CURRENT_REPORT_SET = 64423,
};

// Command ids the module's menus carry; help contexts are 65536 + the id.
enum : UINT {
  ID_OBJECT_NEW = 32792,         // "&New...": a preferred machine
  ID_OBJECT_REFRESH = 32799,     // "&Refresh\tF5"
  ID_REPORT_RUN = 33325,         // "Run...": the object tree's report run
  ID_HELP_GETTING_STARTED = 33331,
  ID_CLEAR_SELECTIONS = 33339,   // "C&lear Selections"
  ID_REPORT_WIZARD = 33340,      // "&Report Wizard\tCtrl+W"
  ID_VIEW_SCHEDULES = 33350,     // the host's "&Schedules...": a machine's schedule list
  ID_OBJECT_DELETE = 57632,      // "&Delete\tDel": the framework's Edit Clear id
  ID_REPORT_PROPERTIES = 32800,  // "&Properties": a user filter, report set or custom report
  ID_REPORT_COPY = 57634,        // "&Copy\tCtrl+C": the framework's Edit Copy id
  ID_REPORT_PASTE = 57637,       // "&Paste\tCtrl+V": the framework's Edit Paste id
  ID_KSINSTALL_SERVER = 33343,   // "&Install Server..." or "&Update Server...": on a machine of the object tree
  ID_KSDEINSTALL_SERVER = 33344, // "&Deinstall Server..."
  ID_PROPERTY = 33345,           // "Pr&operties...": the machine's server property sheet
};
// Context menus of the "Reports" tab.
enum : UINT {
  IDR_REPORT_TREE_MENU = 484,
  IDR_REPORT_LIST_MENU = 486,
};
// Dialogs, whose help contexts are 0x20000 + the id.
enum : UINT {
  IDD_ADD_PREFERRED_MACHINE = 411,
  IDD_CHOOSE_SERVER = 412,
  IDD_SELECT_USERS = 430,        // "Select Users"
  IDD_MAIL_REPORT = 432,         // "Mail Report To:"
  IDD_USER_FILTER = 433,         // "User Filter"
  IDD_REPORT_EXISTS = 505,       // "Report Set Exists"
  IDD_SELECT_REPORT = 506,       // "Select template, report set, user filter"
  IDD_REPORT_INFO = 508,         // "Report": which report set is current
  IDD_REPORT_WIZARD_START = 509, // the report wizard's four pages
  IDD_REPORT_WIZARD_OBJ = 510,
  IDD_REPORT_WIZARD_RS = 511,
  IDD_REPORT_WIZARD_FINISH = 512,
};
inline constexpr DWORD kHelpDialogBase = 0x20000;
inline constexpr DWORD kHelpCommandBase = 0x10000;

}  // namespace vn::console
