#include "named/named_object.h"

#include <map>

#include "platform/paths.h"

namespace zv {

namespace {

std::map<std::string, const CRuntimeClass*, std::less<>>& Classes() {
  static std::map<std::string, const CRuntimeClass*, std::less<>> classes;
  return classes;
}

// Deep enough for any real folder tree, far below what exhausts the stack.
constexpr int kMaxNesting = 64;

}  // namespace

std::unique_ptr<CNamedObject> CRuntimeClass::CreateObject() const {
  return std::unique_ptr<CNamedObject>(m_pfnCreateObject ? m_pfnCreateObject() : nullptr);
}

void ClassRegistry::Add(const CRuntimeClass* cls) { Classes()[cls->m_lpszClassName] = cls; }

const CRuntimeClass* ClassRegistry::Find(std::string_view name) {
  auto it = Classes().find(name);
  return it == Classes().end() ? nullptr : it->second;
}

static CNamedObject* CNamedObject_CreateObject() { return new CNamedObject; }
const CRuntimeClass CNamedObject::classInfo{"CNamedObject", 1, &CNamedObject_CreateObject};
static const ClassRegistrar CNamedObject_registrar(&CNamedObject::classInfo);

// ---------------------------------------------------------------------------

CArchive::CArchive(ArchiveOut& out, std::string projectPath) : out_(&out), projectPath_(std::move(projectPath)) {}
CArchive::CArchive(ArchiveIn& in, std::string projectPath) : in_(&in), projectPath_(std::move(projectPath)) {}

void CArchive::Byte(uint8_t& v) {
  if (out_) out_->U8(v);
  else v = in_->U8();
}

void CArchive::Bool(bool& v) {
  if (out_) out_->Bool(v);
  else v = in_->Bool();
}

void CArchive::Word(uint16_t& v) {
  if (out_) out_->U16(v);
  else v = in_->U16();
}

void CArchive::Int(int32_t& v) {
  if (out_) out_->I32(v);
  else v = in_->I32();
}

void CArchive::Dword(uint32_t& v) {
  if (out_) out_->U32(v);
  else v = in_->U32();
}

void CArchive::Qword(uint64_t& v) {
  uint32_t lo = static_cast<uint32_t>(v), hi = static_cast<uint32_t>(v >> 32);
  Dword(lo);
  Dword(hi);
  v = (static_cast<uint64_t>(hi) << 32) | lo;
}

void CArchive::Str(std::string& s) {
  if (out_) out_->String(s);
  else s = in_->String();
}

void CArchive::Bytes(void* p, size_t n) {
  if (out_) out_->Raw(p, n);
  else in_->Raw(p, n);
}

void CArchive::ZeroByte() {
  if (out_) out_->U8(0);
  else in_->U8();
}

void CArchive::Path(std::string& path) {
  std::string folder = projectPath_.empty() ? std::string() : FolderOf(projectPath_);
  if (out_) {
    std::string stored = path;
    if (!path.empty() && !folder.empty()) {
      std::string rel = RelativePathFrom(folder, path);
      if (!rel.empty()) stored = rel;
    }
    out_->String(stored);
    return;
  }
  std::string s = NormalizeSeparators(in_->String());
  if (!s.empty() && !folder.empty() && IsRelativePath(s)) s = CombinePath(folder, s);
  // A path past the length limit (a project moved into a deep folder) is
  // kept as it is: reopening refuses it by name, and the user can remove or
  // replace that one source instead of losing the whole project.
  path = std::move(s);
}

void CArchive::WriteClass(const CRuntimeClass* cls) {
  for (size_t i = 0; i < classes_.size(); ++i) {
    if (classes_[i] != cls) continue;
    uint32_t index = static_cast<uint32_t>(i + 1);
    if (index < 0x7FFF) {
      out_->U16(static_cast<uint16_t>(0x8000 + index));
    } else {
      out_->U16(0x7FFF);
      out_->U32(0x80000000u + index);
    }
    return;
  }
  std::string name = cls->m_lpszClassName;
  out_->U16(0xFFFF);
  out_->U16(cls->m_wSchema);
  out_->U16(static_cast<uint16_t>(name.size()));
  out_->Raw(name.data(), name.size());
  classes_.push_back(cls);
}

const CRuntimeClass* CArchive::ReadClass() {
  uint16_t tag = in_->U16();
  if (tag == 0xFFFF) {
    in_->U16();  // a different schema number is accepted
    uint16_t len = in_->U16();
    std::string name(len, '\0');
    in_->Raw(name.data(), len);
    const CRuntimeClass* cls = ClassRegistry::Find(name);
    if (!cls) throw ArchiveError("the project file names an unknown class \"" + name + "\"");
    classes_.push_back(cls);
    return cls;
  }
  uint32_t index;
  if (tag == 0x7FFF) {
    uint32_t big = in_->U32();
    if (!(big & 0x80000000u)) throw ArchiveError("the project file holds a bad class tag");
    index = big & 0x7FFFFFFFu;
  } else if (tag & 0x8000) {
    index = tag & 0x7FFFu;
  } else {
    throw ArchiveError("the project file holds a bad class tag");
  }
  if (index == 0 || index > classes_.size())
    throw ArchiveError("the project file refers to class index " + std::to_string(index) +
                       ", which it has not defined");
  return classes_[index - 1];
}

void CArchive::CheckCount(uint32_t count, size_t minBytes) {
  if (in_ && minBytes && count > in_->Remaining() / minBytes)
    throw ArchiveError("the project file is truncated or corrupt");
}

CArchive::Nesting::Nesting(CArchive& ar) : ar_(ar) {
  if (++ar_.depth_ > kMaxNesting) {
    --ar_.depth_;
    throw ArchiveError("the project file nests folders too deeply");
  }
}

// ---------------------------------------------------------------------------

void CNamedObject::Serialize(CArchive& ar) {
  ar.Str(m_strName);
  ar.Int(m_nId);
}

void CNamedObject::CopyFrom(const CNamedObject& src) {
  m_pParent = src.m_pParent;
  m_strName = src.m_strName;
  m_nId = src.m_nId;
  m_bSelected = src.m_bSelected;
  m_nUserData = src.m_nUserData;
}

size_t CNamedObject::ParseBytes(const uint8_t*, size_t, void*) { return 0; }
size_t CNamedObject::WriteBytes(uint8_t*, size_t, void*) { return 0; }

bool CNamedObject::SetName(const std::string& name) {
  if (name.empty() || EqualsNoCase(name, m_strName)) return false;
  m_strName = name;
  return true;
}

CNamedObject* CNamedPtrCollection::FindById(int32_t id) const {
  if (id == -1) return nullptr;
  for (CNamedObject* obj : items_)
    if (obj && obj->m_nId == id) return obj;
  return nullptr;
}

}  // namespace zv
