// The entry points of libMAPI32.so over the address book (AddressBook.h).
//
// Sessions: MAPILogon takes any profile name and password; it fails with
// MAPI_E_LOGIN_FAILURE only when the address book file exists but cannot be
// read. A session is a number handed out by MAPILogon and valid until its
// MAPILogoff; the calls that take one also take 0 (no session). MAPISendMail
// answers MAPI_E_NOT_SUPPORTED: mail goes out from the reporting servers,
// never from the console.
//
// MAPIAddress shows CAddressDialog and so must be called on the thread of the
// process's QApplication; without one it fails with MAPI_E_FAILURE.

#include <QApplication>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "mapi/AddressBook.h"
#include "mapi/AddressDialog.h"
#include "mapi/SimpleMapi.h"
#include "platform/core/AsciiText.h"

#define MAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_lock;
std::set<LHANDLE> g_sessions;
LHANDLE g_nextSession = 1;

bool SessionOk(LHANDLE session) {
  if (session == 0) return true;
  const std::lock_guard lock(g_lock);
  return g_sessions.count(session) != 0;
}

// One block of `recipients` records followed by their texts; null when out of memory.
MapiRecipDesc* AllocateRecipients(const std::vector<vn::mapi::Recipient>& recipients) {
  std::size_t size = recipients.size() * sizeof(MapiRecipDesc);
  for (const auto& r : recipients) size += r.name.size() + 1 + (r.address.empty() ? 0 : r.address.size() + 6);
  auto* block = static_cast<MapiRecipDesc*>(std::calloc(1, size == 0 ? 1 : size));
  if (block == nullptr) return nullptr;
  char* text = reinterpret_cast<char*>(block + recipients.size());
  const auto put = [&text](const std::string& s) {
    char* start = text;
    std::memcpy(text, s.c_str(), s.size() + 1);
    text += s.size() + 1;
    return start;
  };
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    block[i].ulRecipClass = recipients[i].recipClass;
    block[i].lpszName = put(recipients[i].name);
    block[i].lpszAddress = recipients[i].address.empty() ? nullptr : put("SMTP:" + recipients[i].address);
  }
  return block;
}

}  // namespace

MAPI_EXPORT ULONG MAPILogon(ULONG_PTR /*ulUIParam*/, LPSTR /*lpszProfileName*/, LPSTR /*lpszPassword*/,
                            FLAGS /*flFlags*/, ULONG /*ulReserved*/, LHANDLE* lplhSession) {
  if (lplhSession == nullptr) return MAPI_E_FAILURE;
  *lplhSession = 0;
  std::vector<vn::mapi::AddressEntry> entries;
  if (vn::mapi::ReadAddressFile(vn::mapi::AddressBookPath(), &entries) != ERROR_SUCCESS) return MAPI_E_LOGIN_FAILURE;
  const std::lock_guard lock(g_lock);
  *lplhSession = g_nextSession++;
  g_sessions.insert(*lplhSession);
  return SUCCESS_SUCCESS;
}

MAPI_EXPORT ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR /*ulUIParam*/, FLAGS /*flFlags*/, ULONG /*ulReserved*/) {
  const std::lock_guard lock(g_lock);
  return g_sessions.erase(lhSession) == 1 ? SUCCESS_SUCCESS : MAPI_E_INVALID_SESSION;
}

MAPI_EXPORT ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR /*ulUIParam*/, MapiMessage* /*lpMessage*/,
                               FLAGS /*flFlags*/, ULONG /*ulReserved*/) {
  if (!SessionOk(lhSession)) return MAPI_E_INVALID_SESSION;
  return MAPI_E_NOT_SUPPORTED;
}

MAPI_EXPORT ULONG MAPIResolveName(LHANDLE lhSession, ULONG_PTR /*ulUIParam*/, LPSTR lpszName, FLAGS /*flFlags*/,
                                  ULONG /*ulReserved*/, MapiRecipDesc** lppRecip) {
  if (lppRecip == nullptr) return MAPI_E_FAILURE;
  *lppRecip = nullptr;
  if (!SessionOk(lhSession)) return MAPI_E_INVALID_SESSION;
  if (lpszName == nullptr || *lpszName == '\0') return MAPI_E_UNKNOWN_RECIPIENT;
  std::string wanted(lpszName);
  if (wanted.size() > 5 && vn::EqualsIgnoringCase(wanted.substr(0, 5), "SMTP:")) wanted.erase(0, 5);
  std::vector<vn::mapi::AddressEntry> entries;
  if (vn::mapi::ReadAddressBook(vn::mapi::AddressBookPath(), &entries) != ERROR_SUCCESS) return MAPI_E_FAILURE;
  std::vector<vn::mapi::Recipient> found;
  for (const auto& e : entries)
    if (vn::EqualsIgnoringCase(e.name, wanted) || vn::EqualsIgnoringCase(e.address, wanted))
      found.push_back({MAPI_TO, e.name, e.address});
  if (found.empty()) return MAPI_E_UNKNOWN_RECIPIENT;
  if (found.size() > 1) return MAPI_E_AMBIGUOUS_RECIPIENT;
  *lppRecip = AllocateRecipients(found);
  return *lppRecip ? SUCCESS_SUCCESS : MAPI_E_INSUFFICIENT_MEMORY;
}

MAPI_EXPORT ULONG MAPIAddress(LHANDLE lhSession, ULONG_PTR /*ulUIParam*/, LPSTR lpszCaption, ULONG nEditFields,
                              LPSTR /*lpszLabels*/, ULONG nRecips, MapiRecipDesc* lpRecips, FLAGS /*flFlags*/,
                              ULONG /*ulReserved*/, ULONG* lpnNewRecips, MapiRecipDesc** lppNewRecips) {
  if (lpnNewRecips == nullptr || lppNewRecips == nullptr) return MAPI_E_FAILURE;
  *lpnNewRecips = 0;
  *lppNewRecips = nullptr;
  if (!SessionOk(lhSession)) return MAPI_E_INVALID_SESSION;
  if (nEditFields > 4) return MAPI_E_INVALID_EDITFIELDS;
  if (nRecips > 0 && lpRecips == nullptr) return MAPI_E_INVALID_RECIPS;
  std::vector<vn::mapi::Recipient> given;
  for (ULONG i = 0; i < nRecips; ++i) {
    const MapiRecipDesc& r = lpRecips[i];
    if (r.ulRecipClass != MAPI_TO && r.ulRecipClass != MAPI_CC && r.ulRecipClass != MAPI_BCC)
      return MAPI_E_BAD_RECIPTYPE;
    std::string address = r.lpszAddress ? r.lpszAddress : "";
    if (address.size() > 5 && vn::EqualsIgnoringCase(address.substr(0, 5), "SMTP:")) address.erase(0, 5);
    given.push_back({r.ulRecipClass, r.lpszName ? r.lpszName : "", address});
  }
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return MAPI_E_FAILURE;

  // A book that cannot be read is the caller's to report: no window, no message of our own.
  const std::string path = vn::mapi::AddressBookPath();
  std::vector<vn::mapi::AddressEntry> entries;
  if (vn::mapi::ReadAddressBook(path, &entries) != ERROR_SUCCESS) return MAPI_E_FAILURE;
  vn::mapi::CAddressDialog dialog(path, lpszCaption ? QString::fromUtf8(lpszCaption) : QString(),
                                  static_cast<int>(nEditFields), QApplication::activeWindow());
  if (!dialog.Reload()) return MAPI_E_FAILURE;
  dialog.SetRecipients(given);
  if (dialog.exec() != QDialog::Accepted) return MAPI_USER_ABORT;
  const std::vector<vn::mapi::Recipient> chosen = dialog.Recipients();
  if (chosen.empty()) return SUCCESS_SUCCESS;
  *lppNewRecips = AllocateRecipients(chosen);
  if (*lppNewRecips == nullptr) return MAPI_E_INSUFFICIENT_MEMORY;
  *lpnNewRecips = static_cast<ULONG>(chosen.size());
  return SUCCESS_SUCCESS;
}

MAPI_EXPORT ULONG MAPIFreeBuffer(LPVOID pv) {
  std::free(pv);
  return SUCCESS_SUCCESS;
}
