#pragma once
// The schedule window's document (template 402): the name of the machine
// whose jobs it lists. Opening it with a path takes the path as the machine
// name and reads nothing, so it always opens; its title is always "Vornal
// Schedules on <machine>". User-interface thread only.

#include <QString>

#include "console/widgets/support/KSExport.h"
#include "ui/Document.h"

class KS_EXPORT CKSScheDoc : public CDocument {
  DECLARE_DYNCREATE(CKSScheDoc)

 public:
  CKSScheDoc();
  ~CKSScheDoc() override;

  [[nodiscard]] BOOL OnOpenDocument(const QString& path) override;
  // Ignores the title given.
  void SetTitle(const QString& title) override;
  // Never asks: there is nothing to save.
  [[nodiscard]] BOOL SaveModified() override;

  const QString& GetMachineName() const { return m_strMachine; }

 private:
  QString m_strMachine;
};
