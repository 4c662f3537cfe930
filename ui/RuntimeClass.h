#pragma once
// A runtime-class record: a class's name, the factory that creates an object of
// it, and its base class's record. Document templates are made from three of
// them (document, frame, view) and create a window's objects through them.
//
// A class gets its record with DECLARE_DYNAMIC (no factory) or DECLARE_DYNCREATE
// (with factory; needs a default constructor) at the top of the class body and
// IMPLEMENT_DYNAMIC / IMPLEMENT_DYNCREATE in its source file; RUNTIME_CLASS(C)
// names the record. Records are static members of their classes, so a class
// exported from a module has exactly one record in the process and records may
// be compared by address. They are constant data: any thread may read them.
//
// The DECLARE_ macros end with "public:"-level members; restate the access
// level after them.

class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  CObject* (*m_pfnCreateObject)();    // null when the class cannot be created this way
  const CRuntimeClass* m_pBaseClass;  // null for CObject only

  // A new object of the class that the caller owns; null when the class has no
  // factory.
  CObject* CreateObject() const;
  // True when this is pBaseClass or derives from it.
  bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)               \
 public:                                          \
  static const CRuntimeClass class##class_name;   \
  const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* CreateObject();

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                   \
  const CRuntimeClass class_name::class##class_name = {#class_name, nullptr, RUNTIME_CLASS(base_class_name)}; \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                                   \
  CObject* class_name::CreateObject() { return new class_name; }                                          \
  const CRuntimeClass class_name::class##class_name = {#class_name, &class_name::CreateObject,           \
                                                       RUNTIME_CLASS(base_class_name)};                   \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }
