// Fuzz target: chapter files in every form the import reads (CSV, text,
// the simple CHAPTER01= form, Matroska XML, ffmpeg metadata). The first
// byte picks the list's frame-rate code.
#include <cstdint>
#include <string>

#include "chapters/chapters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  zv::CChapters list;
  list.m_nFpsCode = static_cast<uint8_t>(data[0] % 8);
  std::string message;
  zv::ParseTimedChapters(text, list, message);
  zv::ParseChapterCsv(text, list, message);
  zv::ParseChapterText(text, list, message);
  for (const zv::CChapterPoint& p : list.m_points) (void)zv::FormatTimecode(p.time, zv::FpsOfCode(list.m_nFpsCode));
  return 0;
}
