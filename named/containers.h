// Owning containers of named objects and of plain records, and the group
// objects that hand out ids and numbered names to new children.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "named/named_object.h"

namespace zv {

// Children of exactly class T, stored without class information.
template <class T>
class CNamedPtrArray : public CNamedObject {
 public:
  using CNamedObject::CNamedObject;

  size_t GetCount() const { return m_items.size(); }
  // Null outside 0..count-1.
  T* GetAt(size_t i) const { return i < m_items.size() ? m_items[i].get() : nullptr; }
  T* operator[](size_t i) const { return GetAt(i); }
  // Takes ownership; the child's parent becomes this array.
  T* Add(std::unique_ptr<T> child) {
    child->m_pParent = this;
    m_items.push_back(std::move(child));
    return m_items.back().get();
  }
  // Takes ownership and puts the child at position i (at the end when i is
  // past it).
  T* InsertAt(size_t i, std::unique_ptr<T> child) {
    child->m_pParent = this;
    if (i > m_items.size()) i = m_items.size();
    auto at = m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(i), std::move(child));
    return at->get();
  }
  // Hands the child back to the caller (throws for an index out of range).
  std::unique_ptr<T> RemoveAt(size_t i) {
    if (i >= m_items.size()) throw std::invalid_argument("CNamedPtrArray::RemoveAt: index out of range");
    std::unique_ptr<T> child = std::move(m_items[i]);
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    child->m_pParent = nullptr;
    return child;
  }
  // -1 when absent.
  int IndexOf(const CNamedObject* child) const {
    for (size_t i = 0; i < m_items.size(); ++i)
      if (m_items[i].get() == child) return static_cast<int>(i);
    return -1;
  }
  void Gather(CNamedPtrCollection& out) const {
    for (const auto& c : m_items) out.Add(c.get());
  }

  void Serialize(CArchive& ar) override { SerializeArray(ar); }
  void Reset() override { m_items.clear(); }
  void CopyFrom(const CNamedObject& src) override {
    if (auto* a = dynamic_cast<const CNamedPtrArray<T>*>(&src)) Copy(*a);
    else CNamedObject::CopyFrom(src);
  }
  virtual void Copy(const CNamedPtrArray<T>& src) {
    Reset();
    CNamedObject::CopyFrom(src);
    for (const auto& c : src.m_items) {
      auto child = std::make_unique<T>();
      child->CopyFrom(*c);
      Add(std::move(child));
    }
  }

  // Name, id, then the children.
  void SerializeArray(CArchive& ar) {
    CNamedObject::Serialize(ar);
    SerializeChildren(ar);
  }
  // The 32-bit count and each child's own record. Loading replaces the
  // children.
  void SerializeChildren(CArchive& ar) {
    if (ar.IsStoring()) {
      ar.Out().U32(static_cast<uint32_t>(m_items.size()));
      for (const auto& c : m_items) c->Serialize(ar);
      return;
    }
    m_items.clear();
    uint32_t n = ar.In().U32();
    ar.CheckCount(n, 5);  // every named object stores at least a name byte and an id
    for (uint32_t i = 0; i < n; ++i) {
      auto child = std::make_unique<T>();
      child->Serialize(ar);
      Add(std::move(child));
    }
  }

 protected:
  std::vector<std::unique_ptr<T>> m_items;
};

// Items of class T or a subclass, and sub-folders of class Folder; one class
// tag per list, and every item of a list is created with that class.
template <class T, class Folder>
class CNamedFolder : public CNamedObject {
 public:
  using CNamedObject::CNamedObject;

  size_t GetCount() const { return m_items.size(); }
  T* GetAt(size_t i) const { return i < m_items.size() ? m_items[i].get() : nullptr; }
  T* Add(std::unique_ptr<T> item) {
    item->m_pParent = this;
    m_items.push_back(std::move(item));
    return m_items.back().get();
  }
  std::unique_ptr<T> RemoveAt(size_t i) {
    if (i >= m_items.size()) throw std::invalid_argument("CNamedFolder::RemoveAt: index out of range");
    std::unique_ptr<T> item = std::move(m_items[i]);
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    item->m_pParent = nullptr;
    return item;
  }
  int IndexOf(const CNamedObject* item) const {
    for (size_t i = 0; i < m_items.size(); ++i)
      if (m_items[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  size_t GetFolderCount() const { return m_folders.size(); }
  Folder* GetFolderAt(size_t i) const { return i < m_folders.size() ? m_folders[i].get() : nullptr; }
  Folder* AddFolder(std::unique_ptr<Folder> f) {
    f->m_pParent = this;
    m_folders.push_back(std::move(f));
    return m_folders.back().get();
  }
  // Items of this folder and of every sub-folder, depth first.
  size_t TotalCount() const {
    size_t n = m_items.size();
    for (const auto& f : m_folders) n += f->TotalCount();
    return n;
  }

  void Serialize(CArchive& ar) override {
    CArchive::Nesting nest(ar);
    CNamedObject::Serialize(ar);
    if (ar.IsStoring()) {
      StoreList(ar, m_items);
      StoreList(ar, m_folders);
    } else {
      m_items.clear();
      m_folders.clear();
      LoadList(ar, m_items);
      LoadList(ar, m_folders);
    }
  }
  void Reset() override {
    m_items.clear();
    m_folders.clear();
  }
  void CopyFrom(const CNamedObject& src) override {
    if (auto* f = dynamic_cast<const CNamedFolder<T, Folder>*>(&src)) Copy(*f);
    else CNamedObject::CopyFrom(src);
  }
  // Items are copied with the class of each source item; sub-folders become
  // new empty folders of the same class.
  virtual void Copy(const CNamedFolder<T, Folder>& src) {
    Reset();
    CNamedObject::CopyFrom(src);
    for (const auto& it : src.m_items) Add(Clone<T>(*it));
    for (const auto& f : src.m_folders) {
      std::unique_ptr<Folder> copy = Create<Folder>(f->GetRuntimeClass());
      AddFolder(std::move(copy));
    }
  }

 protected:
  template <class U>
  static std::unique_ptr<U> Create(const CRuntimeClass* cls) {
    std::unique_ptr<CNamedObject> obj = cls->CreateObject();
    U* typed = dynamic_cast<U*>(obj.get());
    if (!typed)
      throw ArchiveError(std::string("the project file holds a \"") + cls->m_lpszClassName +
                         "\" where another kind of object belongs");
    obj.release();
    return std::unique_ptr<U>(typed);
  }
  template <class U>
  static std::unique_ptr<U> Clone(const U& src) {
    std::unique_ptr<U> copy = Create<U>(src.GetRuntimeClass());
    copy->CopyFrom(src);
    return copy;
  }
  template <class U>
  static void StoreList(CArchive& ar, const std::vector<std::unique_ptr<U>>& list) {
    ar.Out().U32(static_cast<uint32_t>(list.size()));
    if (list.empty()) return;
    ar.WriteClass(list.front()->GetRuntimeClass());
    for (const auto& x : list) x->Serialize(ar);
  }
  template <class U>
  void LoadList(CArchive& ar, std::vector<std::unique_ptr<U>>& list) {
    uint32_t n = ar.In().U32();
    ar.CheckCount(n, 5);
    if (n == 0) return;
    const CRuntimeClass* cls = ar.ReadClass();
    for (uint32_t i = 0; i < n; ++i) {
      std::unique_ptr<U> x = Create<U>(cls);
      x->Serialize(ar);
      x->m_pParent = this;
      list.push_back(std::move(x));
    }
  }

  std::vector<std::unique_ptr<T>> m_items;
  std::vector<std::unique_ptr<Folder>> m_folders;
};

// Plain fixed-size records. T provides `static constexpr size_t kSize` and
// `void Serialize(CArchive&)` reading or writing exactly kSize bytes.
template <class T>
class CTypeArray : public CNamedObject {
 public:
  using CNamedObject::CNamedObject;

  size_t GetCount() const { return m_records.size(); }
  T* GetAt(size_t i) { return i < m_records.size() ? &m_records[i] : nullptr; }
  const T* GetAt(size_t i) const { return i < m_records.size() ? &m_records[i] : nullptr; }
  void Add(const T& rec) { m_records.push_back(rec); }
  void RemoveAt(size_t i) {
    if (i >= m_records.size()) throw std::invalid_argument("CTypeArray::RemoveAt: index out of range");
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(i));
  }

  void Serialize(CArchive& ar) override {
    CNamedObject::Serialize(ar);
    if (ar.IsStoring()) {
      ar.Out().U32(static_cast<uint32_t>(m_records.size()));
      for (auto& r : m_records) r.Serialize(ar);
      return;
    }
    m_records.clear();
    uint32_t n = ar.In().U32();
    ar.CheckCount(n, T::kSize);
    m_records.resize(n);
    for (auto& r : m_records) r.Serialize(ar);
  }
  void Reset() override { m_records.clear(); }
  void CopyFrom(const CNamedObject& src) override {
    if (auto* a = dynamic_cast<const CTypeArray<T>*>(&src)) Copy(*a);
    else CNamedObject::CopyFrom(src);
  }
  virtual void Copy(const CTypeArray<T>& src) {
    CNamedObject::CopyFrom(src);
    m_records = src.m_records;
  }

 protected:
  std::vector<T> m_records;
};

// A group object: an array whose children get ids from m_nNextId, which
// only grows, and default names "%s#%d" numbered from the id.
template <class T>
class CGroupObject : public CNamedPtrArray<T> {
 public:
  using CNamedPtrArray<T>::CNamedPtrArray;

  int32_t m_nNextId = 0;

  virtual const char* DefaultBaseName() const = 0;

  T* CreateChild(const std::string& baseName = {}) {
    if (m_nNextId == INT32_MAX) throw std::length_error("no id is left for a new child of \"" + this->m_strName + "\"");
    auto child = std::make_unique<T>();
    child->m_nId = m_nNextId;
    char name[512];
    std::snprintf(name, sizeof name, "%s#%d", baseName.empty() ? DefaultBaseName() : baseName.c_str(),
                  m_nNextId + 1);
    child->SetName(name);
    ++m_nNextId;
    return this->Add(std::move(child));
  }

  // Byte 0 and m_nNextId come before the array.
  void Serialize(CArchive& ar) override {
    ar.ZeroByte();
    int32_t next = m_nNextId;
    ar.Int(next);
    this->SerializeArray(ar);
    if (ar.IsLoading()) {
      m_nNextId = next;
      // A damaged counter must not hand out an id that a child already has.
      for (const auto& c : this->m_items)
        if (c->m_nId >= m_nNextId && c->m_nId < INT32_MAX) m_nNextId = c->m_nId + 1;
    }
  }
  void Reset() override {
    CNamedPtrArray<T>::Reset();
    m_nNextId = 0;
  }
  void Copy(const CNamedPtrArray<T>& src) override {
    CNamedPtrArray<T>::Copy(src);
    if (auto* g = dynamic_cast<const CGroupObject<T>*>(&src)) m_nNextId = g->m_nNextId;
  }
};

}  // namespace zv
