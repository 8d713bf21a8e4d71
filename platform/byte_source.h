// Files that are not on disc as such: a track of a container (a movie.mkv
// holding video and audio) is read as the elementary stream it carries,
// demuxed while it is read, so that no extracted copy is ever written. Its
// path is the container's with "#N.EXT" behind it (N the container's stream
// number, EXT the elementary kind, e.g. "movie.mkv#0.264"); a File opened
// for reading on such a path reads through the opener set here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zv {

class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual int64_t Length() const = 0;
  // Reads exactly n bytes at pos: 0, -1 at the end of the stream, or an
  // errno with `why` set. Safe to call from more than one thread.
  virtual int ReadAt(int64_t pos, void* buf, size_t n, std::string& why) = 0;
};

// Null with `error` set when the track cannot be opened.
using ByteSourceOpener = std::unique_ptr<IByteSource> (*)(const std::string& path, std::string& error);
void SetByteSourceOpener(ByteSourceOpener opener);
ByteSourceOpener GetByteSourceOpener();

// Splits "DIR/movie.mkv#2.ac3" into the container path, the stream number
// and the extension (".ac3"); false for a path of any other form.
bool SplitTrackPath(const std::string& path, std::string& container, int& stream, std::string& ext);
std::string TrackPath(const std::string& container, int stream, const std::string& ext);
// True for a track path whose container exists while the path itself does
// not (a real file of that name is read as the file it is).
bool IsTrackPath(const std::string& path);

}  // namespace zv
