// The base of every model object: a name, an id among its siblings, a parent
// that never owns it, run-time class information for dynamic creation, and
// the project-file archive with its class tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive_io.h"

namespace zv {

class CNamedObject;

// Class record: the name written in class tags, the schema number and a
// factory for objects created while loading.
struct CRuntimeClass {
  const char* m_lpszClassName;
  uint16_t m_wSchema;
  CNamedObject* (*m_pfnCreateObject)();

  std::unique_ptr<CNamedObject> CreateObject() const;
};

// Classes that can be created by name while loading.
class ClassRegistry {
 public:
  static void Add(const CRuntimeClass* cls);
  static const CRuntimeClass* Find(std::string_view name);
};

struct ClassRegistrar {
  explicit ClassRegistrar(const CRuntimeClass* cls) { ClassRegistry::Add(cls); }
};

// In the class body.
#define ZV_DECLARE_DYNCREATE(cls)                  \
 public:                                           \
  static const ::zv::CRuntimeClass classInfo;      \
  const ::zv::CRuntimeClass* GetRuntimeClass() const override;

// In the class's .cpp (inside namespace zv). The registration sits in the
// same object file as the class's code, so it is linked whenever the class is.
#define ZV_IMPLEMENT_DYNCREATE(cls, schema)                                              \
  static ::zv::CNamedObject* cls##_CreateObject() { return new cls; }                    \
  const ::zv::CRuntimeClass cls::classInfo{#cls, schema, &cls##_CreateObject};          \
  static const ::zv::ClassRegistrar cls##_registrar(&cls::classInfo);                   \
  const ::zv::CRuntimeClass* cls::GetRuntimeClass() const { return &cls::classInfo; }

// One archive for both directions: the same Serialize body stores or loads
// each field through these helpers. It also keeps the table of class tags
// and the project file's path, against which stored paths are relative.
class CArchive {
 public:
  CArchive(ArchiveOut& out, std::string projectPath = {});
  CArchive(ArchiveIn& in, std::string projectPath = {});
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  bool IsStoring() const { return out_ != nullptr; }
  bool IsLoading() const { return in_ != nullptr; }
  ArchiveOut& Out() { return *out_; }
  ArchiveIn& In() { return *in_; }
  const std::string& ProjectPath() const { return projectPath_; }

  void Byte(uint8_t& v);
  void Bool(bool& v);
  void Word(uint16_t& v);
  void Int(int32_t& v);
  void Dword(uint32_t& v);
  void Qword(uint64_t& v);
  void Str(std::string& s);
  void Bytes(void* p, size_t n);
  // Stores a zero byte, or skips one byte when loading.
  void ZeroByte();

  // Absolute path in memory; relative to the project file ("./..." inside
  // its folder) in the archive when one can be formed. Loading accepts '\'
  // and combines a relative path with the project's folder.
  void Path(std::string& path);

  void WriteClass(const CRuntimeClass* cls);
  // Throws ArchiveError for an unregistered name or an unknown index.
  const CRuntimeClass* ReadClass();

  // Loading only: a count of records that each take at least `minBytes`
  // must fit in what is left, so corrupt counts fail before any allocation.
  void CheckCount(uint32_t count, size_t minBytes);

  // Limits nesting (folders in folders) so crafted input cannot exhaust the
  // stack.
  class Nesting {
   public:
    explicit Nesting(CArchive& ar);
    ~Nesting() { --ar_.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    CArchive& ar_;
  };

 private:
  ArchiveOut* out_ = nullptr;
  ArchiveIn* in_ = nullptr;
  std::string projectPath_;
  std::vector<const CRuntimeClass*> classes_;  // index 1 is classes_[0]
  int depth_ = 0;
};

class CNamedObject {
 public:
  static const CRuntimeClass classInfo;

  CNamedObject() = default;
  explicit CNamedObject(std::string name) : m_strName(std::move(name)) {}
  CNamedObject(const CNamedObject&) = delete;
  CNamedObject& operator=(const CNamedObject&) = delete;

  virtual const CRuntimeClass* GetRuntimeClass() const { return &classInfo; }
  virtual ~CNamedObject() = default;
  // Stores or loads the name and the id.
  virtual void Serialize(CArchive& ar);
  virtual void Reset() {}
  // Parent, name, id, selection flag and user word.
  virtual void CopyFrom(const CNamedObject& src);
  // Objects with a stream syntax fill themselves from `src` and return the
  // bytes consumed; the base consumes nothing.
  virtual size_t ParseBytes(const uint8_t* src, size_t size, void* context);
  // Objects with a stream syntax write it and return the size; with a null
  // `dst` they return the size only. The base writes nothing.
  virtual size_t WriteBytes(uint8_t* dst, size_t capacity, void* context);

  // Assigns a non-empty name that differs from the current one other than
  // in letter case; returns whether the name changed.
  bool SetName(const std::string& name);
  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass() == cls; }

  CNamedObject* m_pParent = nullptr;
  std::string m_strName;
  int32_t m_nId = -1;
  bool m_bSelected = false;  // user-interface state, not stored
  uint32_t m_nUserData = 0;  // user-interface word, not stored
};

// A non-owning candidate list, used to resolve stored ids into pointers.
class CNamedPtrCollection {
 public:
  void Add(CNamedObject* obj) { items_.push_back(obj); }
  size_t GetCount() const { return items_.size(); }
  CNamedObject* GetAt(size_t i) const { return i < items_.size() ? items_[i] : nullptr; }
  void RemoveAll() { items_.clear(); }
  // -1 yields null; otherwise the first candidate with that id, or null.
  CNamedObject* FindById(int32_t id) const;

 private:
  std::vector<CNamedObject*> items_;
};

}  // namespace zv
