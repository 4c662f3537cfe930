#pragma once
// The root of the console's document/view classes: every document, view, frame,
// template and command target is a CObject, so it can say which runtime class
// it is (see RuntimeClass.h) and be made from its class record.

#include "ui/RuntimeClass.h"

class CObject {
 public:
  virtual ~CObject();

  virtual const CRuntimeClass* GetRuntimeClass() const;
  // True when the object's class is pClass or derives from it.
  bool IsKindOf(const CRuntimeClass* pClass) const;

  static const CRuntimeClass classCObject;

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};
