#include "console/widgets/support/KSMgrDoc.h"

#include "console/core/support/Resources.h"
#include "ui/CmdUI.h"
#include "ui/CommandIds.h"

IMPLEMENT_DYNCREATE(CKSMgrDoc, CDocument)

CKSMgrDoc::CKSMgrDoc() {
  MapUpdateCommand(ID_FILE_SAVE, &CKSMgrDoc::OnUpdateFileSave);
  SetTitle(QString());
}

CKSMgrDoc::~CKSMgrDoc() = default;

int CKSMgrDoc::CanRunReport() const {
  return HasObjects() && m_pReportTreeView && !m_strReportName.isEmpty() ? 1 : 0;
}

void CKSMgrDoc::SetTitle(const QString&) {
  CDocument::SetTitle(QString::fromUtf8(vn::console::KSLoadString(vn::console::IDS_PRODUCT_NAME)));
}

void CKSMgrDoc::OnCloseDocument() {
  RemoveAllObject();
  CDocument::OnCloseDocument();
}

void CKSMgrDoc::OnUpdateFileSave(CCmdUI* pCmdUI) { pCmdUI->Enable(FALSE); }
