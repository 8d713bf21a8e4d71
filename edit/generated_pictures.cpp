#include "edit/generated_pictures.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "graphics/graphic_object.h"
#include "model/object_path.h"
#include "platform/file.h"

namespace zvedit {

namespace {

namespace fs = std::filesystem;

void GatherPaths(zv::CZvObject& project, zv::CNamedObject* obj, std::set<const zv::CNamedObject*>& seen,
                 std::set<std::string>& out) {
  if (!seen.insert(obj).second) return;
  if (auto* g = dynamic_cast<zv::CGraphicObject*>(obj)) {
    if (!g->m_strPath.empty()) out.insert(fs::path(g->m_strPath).lexically_normal().string());
    return;
  }
  for (const auto& [name, child] : zv::ChildrenOf(project, obj)) GatherPaths(project, child, seen, out);
}

}  // namespace

bool RemoveStalePictures(zv::CZvObject& project, const std::string& folder, const std::vector<std::string>& written,
                         std::string& error) {
  const fs::path dir = (fs::path(folder) / "x").lexically_normal().parent_path();
  const std::string list = (dir / kGeneratedList).string();
  std::set<std::string> now;
  for (const std::string& f : written) now.insert(fs::path(f).lexically_normal().string());
  std::set<std::string> listed;
  std::error_code ec;
  if (fs::exists(list, ec)) {
    std::vector<uint8_t> bytes;
    if (!zv::ReadWholeFile(list, bytes, error)) return false;
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = std::min(text.find('\n', at), text.size());
      const std::string name = text.substr(at, end - at);
      // Only plain names: a list edited by hand cannot reach outside.
      if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
        listed.insert((dir / name).string());
      at = end + 1;
    }
  }
  std::set<std::string> used;
  std::set<const zv::CNamedObject*> seen;
  GatherPaths(project, &project, seen, used);
  std::string kept;
  for (const std::string& f : listed) {
    if (now.count(f)) continue;
    if (used.count(f)) {
      kept += fs::path(f).filename().string() + "\n";
      continue;
    }
    if (!fs::remove(f, ec) && ec) return error = "\"" + f + "\" cannot be removed: " + ec.message(), false;
  }
  for (const std::string& f : now)
    if (fs::path(f).parent_path() == dir) kept += fs::path(f).filename().string() + "\n";
  return zv::WriteWholeFile(list, kept.data(), kept.size(), error);
}

}  // namespace zvedit
