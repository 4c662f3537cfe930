#pragma once
// What a frame is told when it builds its client area: which view class to
// create, for which document, on behalf of which template. Plain pointers to
// objects the caller keeps alive for the call.

class CDocTemplate;
class CDocument;
struct CRuntimeClass;

struct CCreateContext {
  const CRuntimeClass* m_pNewViewClass = nullptr;
  CDocument* m_pCurrentDoc = nullptr;
  CDocTemplate* m_pNewDocTemplate = nullptr;
};
