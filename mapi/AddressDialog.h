#pragma once
// The address book window MAPIAddress shows (object name "MapiAddressDialog"):
// the book's entries, and one recipient list per edit field ("To:" and, with
// two or more fields, "Cc:"). "To ->" / "Cc ->" add the chosen entries to a
// list (a name already there is not added twice), "Remove" takes the chosen
// recipients out of both lists, "New entry..." asks for a name and an address
// and appends them to the address book file, then lists the entry. OK gives
// the recipients, To first, then Cc.
//
// Runs in the calling process on its user-interface thread (it needs the
// QApplication the console has). Modal.

#include <QDialog>
#include <string>
#include <vector>

#include "mapi/AddressBook.h"

class QListWidget;

namespace vn::mapi {

struct Recipient {
  ULONG recipClass = 0;  // MAPI_TO, MAPI_CC
  std::string name;
  std::string address;
};

class CAddressDialog : public QDialog {
 public:
  CAddressDialog(std::string bookPath, const QString& caption, int nEditFields, QWidget* parent = nullptr);

  // Puts the starting recipients into their lists (a name the book lacks is
  // shown as given, without an address).
  void SetRecipients(const std::vector<Recipient>& recipients);
  std::vector<Recipient> Recipients() const;
  // Rereads the book; false (and a message) when it cannot be read.
  bool Reload();

  void OnNewEntry();

 private:
  void AddChosen(QListWidget* target);
  void RemoveChosen();

  std::string m_bookPath;
  std::vector<AddressEntry> m_entries;
  QListWidget* m_pEntries;
  QListWidget* m_pTo;
  QListWidget* m_pCc;
};

}  // namespace vn::mapi
