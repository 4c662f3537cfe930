#pragma once
// Report sets, custom report options and user filters in the registry of a
// machine, and the registry primitives the console's other registry users share.
//
// Everything lives in HKEY_LOCAL_MACHINE of the machine it belongs to:
//   - a report set is the key "Software\Halvard\Vornal\4.0\VNReportSet\<set>"
//     with one subkey per selected report, named by the report's catalogue
//     name, holding the report's values;
//   - a custom report is the key "Software\Halvard\Vornal\4.0\Custom Reports\<name>";
//     it holds the report definition (written by the report definition
//     library) and the option values written here;
//   - user filters are the values of "Software\Halvard\Vornal\4.0\User Filter".
// Value names, types, sizes and write order are a stored format: what older
// versions wrote must keep loading, and what this one writes must load there.
//
// Every operation takes the machine first: empty means the local machine, and
// so does the local computer's own name in any letter case, with or without two
// leading backslashes; any other name is reached through a remote registry
// connection. Set and custom report names are single key names: an empty name,
// or one with a backslash, gives ERROR_INVALID_NAME. Results are Win32 error
// codes, 0 for success, of the first call that failed; work done before a
// failure stays done. Every key opened is
// closed again on every path. Safe from any thread.

#include <string_view>

#include "console/core/reports/ReportSet.h"
#include "platform/core/Win32Types.h"

namespace vn::console {

// Which kind of stored report CopyStoredReport copies.
enum class StoredReportKind { CustomReport, ReportSet };

// HKEY_LOCAL_MACHINE of `machine`: the local predefined key itself for the
// local machine, else a key from RegConnectRegistryA, which the caller hands
// back to CloseMachineRegistry. On failure *key is unchanged.
[[nodiscard]] LONG ConnectMachineRegistry(std::string_view machine, HKEY* key);
// Closes a key from ConnectMachineRegistry; the local predefined key stays open.
void CloseMachineRegistry(HKEY key);

// HKEY_LOCAL_MACHINE of one machine from ConnectMachineRegistry, handed back
// to CloseMachineRegistry however the scope ends.
class MachineRoot {
 public:
  MachineRoot() = default;
  explicit MachineRoot(std::string_view machine) { (void)Connect(machine); }
  ~MachineRoot() { Close(); }
  MachineRoot(const MachineRoot&) = delete;
  MachineRoot& operator=(const MachineRoot&) = delete;

  // Connects anew (a root held before is handed back first).
  LONG Connect(std::string_view machine) {
    Close();
    m_code = ConnectMachineRegistry(machine, &m_key);
    if (m_code != ERROR_SUCCESS) m_key = nullptr;
    return m_code;
  }
  void Close() {
    if (m_key) CloseMachineRegistry(m_key);
    m_key = nullptr;
  }
  // The last Connect's result.
  LONG Code() const { return m_code; }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
  LONG m_code = ERROR_INVALID_HANDLE;
};

// Marks each report stored in the set selected and fills its options; values
// missing from the store leave the fields as they were, so `set` should come
// from ReportSet's constructor. Subkeys that are no catalogue name are ignored.
[[nodiscard]] LONG LoadReportSet(std::string_view machine, std::string_view setName, ReportSet& set);

// Replaces the stored set (creating it if needed) by the selected entries of
// `set`. With nothing selected the set remains as an empty key. A subkey that
// cannot be deleted (because it has subkeys of its own) ends the save with the
// delete's code before anything is written.
[[nodiscard]] LONG SaveReportSet(std::string_view machine, std::string_view setName, const ReportSet& set);

// Deletes the set with its report subkeys. A report subkey that cannot be
// deleted ends it with that code; the set key then stays.
[[nodiscard]] LONG DeleteReportSet(std::string_view machine, std::string_view setName);

// Fills the option fields a custom report stores (filters, output options,
// record count, mail, batch command); the others are left as they are.
// CustomReport becomes "\\<machine>\<name>", with this computer's name for
// the local machine (the servers of other machines read the definition there).
[[nodiscard]] LONG LoadCustomReportOptions(std::string_view machine, std::string_view reportName,
                                           ReportOptions& options);

// Creates the custom report's key if needed and writes its option values.
[[nodiscard]] LONG SaveCustomReportOptions(std::string_view machine, std::string_view reportName,
                                           const ReportOptions& options);

// Deletes the custom report's key (definition and options).
[[nodiscard]] LONG DeleteCustomReport(std::string_view machine, std::string_view reportName);

// True when the key named by string `formatId` (IDS_REPORT_SET_KEY_FMT or
// IDS_CUSTOM_REPORT_KEY_FMT) with `name` put in for its "%s" can be opened for
// reading on `machine`.
bool RegistryKeyExists(std::string_view machine, std::string_view name, UINT formatId);

// Copies a report set or a custom report to another machine and/or name (an
// empty destination name keeps the source name). The destination key is
// created if needed; what it already holds and the source lacks stays.
[[nodiscard]] LONG CopyStoredReport(std::string_view sourceMachine, std::string_view sourceName,
                                    std::string_view destinationMachine, std::string_view destinationName,
                                    StoredReportKind kind);

// Copies as CopyStoredReport, then removes what the destination held and the
// source lacks, so that the destination ends equal to the source. Nothing of
// the destination is removed before the whole copy has succeeded: a copy that
// fails midway (a machine gone) leaves the old report with some of its
// entries overwritten, never without it.
[[nodiscard]] LONG ReplaceStoredReport(std::string_view sourceMachine, std::string_view sourceName,
                                       std::string_view destinationMachine, std::string_view destinationName,
                                       StoredReportKind kind);

// Copies every value of `source` into `destination` with its name, type and
// data. Names longer than 1024 characters or data longer than 1025 bytes end
// the copy with ERROR_MORE_DATA.
[[nodiscard]] LONG CopyRegistryValues(HKEY source, HKEY destination);

// Deletes the user filter `filterName` of `machine`.
[[nodiscard]] LONG DeleteUserFilter(std::string_view machine, std::string_view filterName);

}  // namespace vn::console
