#include "console/widgets/schedule/KSScheDoc.h"

#include "console/core/schedule/ScheduleModel.h"

IMPLEMENT_DYNCREATE(CKSScheDoc, CDocument)

CKSScheDoc::CKSScheDoc() = default;

CKSScheDoc::~CKSScheDoc() = default;

BOOL CKSScheDoc::OnOpenDocument(const QString& path) {
  m_strMachine = path;
  SetTitle(QString());
  return TRUE;
}

void CKSScheDoc::SetTitle(const QString&) {
  CDocument::SetTitle(QString::fromStdString(vn::console::ScheduleListTitle(m_strMachine.toStdString())));
}

BOOL CKSScheDoc::SaveModified() { return TRUE; }
