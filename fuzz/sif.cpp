// Fuzz target: the stream-information file reader. The input's first byte
// chooses what the harness mends before the rest is written beside a fixed
// stream file: bit 0 puts the stream's modification time into the header,
// bit 1 appends a matching check trailer (bit 2: with the stream's
// identity). Without them nearly every input would stop at the time stamp
// or the checksum; with them the record and table readers see the fuzzed
// bytes. A file that is accepted is opened and
// every unit served.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_temp.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "streams/stream_context.h"

namespace {

struct Fixture {
  std::string folder, stream, sif;
  int64_t mtime = 0;
  Fixture() {
    folder = FuzzFolder();
    stream = folder + "/input.264";
    sif = stream + ".dsi";
    // Sparse: units anywhere in the first MiB can be served.
    const int fd = ::open(stream.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, 1 << 20) != 0) std::abort();
    ::close(fd);
    mtime = zv::FileTimeNs(stream);
  }
  ~Fixture() {
    ::unlink(sif.c_str());
    ::unlink(stream.c_str());
  }
};

void PutLe(std::vector<uint8_t>& v, size_t at, uint64_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fx;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> body(data + 1, data + size);
  constexpr size_t kSourceTimeAt = 49;  // last field of the 57-byte header
  if ((mode & 1) && body.size() >= zv::SSifHeader::kSize) PutLe(body, kSourceTimeAt, static_cast<uint64_t>(fx.mtime), 8);
  if (mode & 2) {
    // Bit 2: the current trailer, with the stream's identity before the
    // check; else the check alone, as earlier versions wrote it.
    const bool identity = (mode & 4) != 0;
    if (identity) {
      zv::SStreamIdentity id;
      if (!zv::SStreamIdentity::Of(fx.stream, id)) std::abort();
      const size_t at = body.size();
      body.resize(at + zv::SSifTrailer::kIdentitySize);
      body[at] = 'Z', body[at + 1] = 'V', body[at + 2] = 'I', body[at + 3] = 'D';
      PutLe(body, at + 4, id.size, 8);
      PutLe(body, at + 12, static_cast<uint64_t>(id.mtimeNs), 8);
      PutLe(body, at + 20, id.device, 8);
      PutLe(body, at + 28, id.inode, 8);
      PutLe(body, at + 36, id.pathHash, 8);
    }
    const size_t n = body.size();
    body.resize(n + zv::SSifTrailer::kCheckSize);
    body[n] = 'Z', body[n + 1] = 'V', body[n + 2] = 'C', body[n + 3] = identity ? 'I' : 'K';
    PutLe(body, n + 4, zv::SifCrc32(body.data(), n), 4);
    PutLe(body, n + 8, n, 8);
  }
  std::string error;
  if (!zv::WriteWholeFile(fx.sif, body.data(), body.size(), error)) std::abort();
  zv::SSifHeader header;
  std::unique_ptr<zv::CSifData> sif;
  if (zv::LoadStreamInfo(fx.sif, fx.stream, header, sif)) {
    // Accepted as current, so opening reuses it instead of analysing.
    zv::SStreamContext ctx;
    zv::SSourceParams src;
    src.path = fx.stream;
    if (zv::OpenStream(src, ctx, {}, nullptr) == zv::kOk) {
      while (zv::NextAu(ctx)) {
      }
    }
  }
  ::unlink(fx.sif.c_str());
  return 0;
}
