// Loads a project from arbitrary bytes: it must fail cleanly or load, and a
// loaded project must store and load again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  zv::CZvObject project;
  std::string message;
  if (zv::LoadProject(bytes, "/fuzz/p.zvpj", project, message) != zv::kOk) return 0;
  // Re-link playlists only: reopening sources would analyse files at paths
  // taken from the fuzzed input and write stream-information files there.
  for (zv::CFilmObject* film : project.Films()) film->m_playlists.ReloadSources(film->m_stories, film->m_menus);
  std::vector<uint8_t> stored = zv::StoreProject(project, "/fuzz/p.zvpj");
  zv::CZvObject again;
  if (zv::LoadProject(stored, "/fuzz/p.zvpj", again, message) != zv::kOk) __builtin_trap();
  return 0;
}
