// Owners of libass's objects, freed with the library's own calls.
#pragma once

#include <ass/ass.h>

#include <cstdarg>
#include <memory>

namespace zv::ass {

struct LibraryDeleter {
  void operator()(ASS_Library* p) const { ass_library_done(p); }
};
struct RendererDeleter {
  void operator()(ASS_Renderer* p) const { ass_renderer_done(p); }
};
struct TrackDeleter {
  void operator()(ASS_Track* p) const { ass_free_track(p); }
};
using Library = std::unique_ptr<ASS_Library, LibraryDeleter>;
using Renderer = std::unique_ptr<ASS_Renderer, RendererDeleter>;
using Track = std::unique_ptr<ASS_Track, TrackDeleter>;

// libass reports through its callback; our own checks say what the user
// needs to know, so its chatter is dropped.
inline void QuietMessages(int, const char*, va_list, void*) {}

}  // namespace zv::ass
