// A reference from one menu-model object to another: the pointer used at
// run time and the id the project file and the stream syntax carry.
#pragma once

#include <cstdint>

#include "named/named_object.h"

namespace zv {

template <class T>
struct CModelRef {
  T* p = nullptr;
  int32_t id = -1;  // -1: no reference

  void Set(T* obj) {
    p = obj;
    id = obj ? obj->m_nId : -1;
  }
  void Clear() { Set(nullptr); }
  // Before saving or compiling.
  void Refresh() { id = p ? p->m_nId : -1; }
  // After loading: a dangling id resolves to no reference (the id is kept
  // so that the file's value survives until the next refresh).
  void Resolve(const CNamedPtrCollection& candidates) {
    p = dynamic_cast<T*>(candidates.FindById(id));
  }
  explicit operator bool() const { return p != nullptr; }
};

}  // namespace zv
