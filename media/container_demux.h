// The parts of reading a container's tracks that the probe, the index and
// the track sources share: a demuxer opened on the file, and the turning of
// one track's packets into the bytes of its elementary stream.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/av_handles.h"
#include "platform/byte_source.h"

struct AVBSFContext;

namespace zv {

struct BsfFreer {
  void operator()(AVBSFContext* c) const;
};
using Bsf = std::unique_ptr<AVBSFContext, BsfFreer>;

// Bytes of a track: a packet's buffer kept as it is where it can be (no
// copy), else bytes made here.
struct SBytes {
  av::Packet pkt;
  std::vector<uint8_t> made;
  const uint8_t* data = nullptr;
  size_t size = 0;

  static SBytes Made(std::vector<uint8_t>&& bytes);
  // Takes over the packet's contents (copied when its buffer is not shared).
  static SBytes Taken(AVPacket* p);
  SBytes Share() const;
  void SkipFront(size_t n) {
    data += n;
    size -= n;
  }
};

// Turns the packets of one track into the bytes of its elementary stream:
// H.264 stored with length prefixes gets start codes and its parameter sets
// (libavcodec's own filter); presentation-graphics segments get the
// 10-byte header of the .sup framing; everything else is its packets.
// The bytes depend only on the packets given since the start of the track.
class CTrackConverter {
 public:
  int Init(const AVFormatContext& fmt, const AVStream& st, std::string& error);
  // Appends the bytes of `pkt` (null: the end of the track), taking over
  // its contents.
  int Convert(AVPacket* pkt, std::vector<SBytes>& out, std::string& error);
  // How a table for reading the track straight from the file describes
  // it: the size of the length prefixes that become start codes, 0 when
  // the packets are the bytes, -1 when no table can (graphics get headers).
  int DirectLengthSize() const;

 private:
  const AVStream* st_ = nullptr;
  int64_t startTime_ = 0;
  bool pgs_ = false;
  Bsf bsf_;
  av::Packet out_;
};

// Opens the container to read the packets of the streams in `keep` (the
// others discarded), reading no more of the file first than reading them
// needs. Null with `error` set on failure.
av::Input OpenTrackDemuxer(const std::string& path, const std::map<int, int64_t>& keep, std::string& error);

// The elementary length of each carried track from the container's index
// (made when missing). kOk, or kFailed with `error` when the container
// changed since it was indexed.
int TrackLengths(const std::string& container, std::map<int, int64_t>& lengths, std::string& error);

// A track of an indexed container read straight from the file, or null
// when it has no table (media/container_direct.h) or direct reading is off.
std::unique_ptr<IByteSource> OpenDirectContainerTrack(const std::string& container, int stream, int64_t length);

// A container's track as a byte source; the tracks of one container open
// at the same time share one demuxer (media/container_source.cpp).
std::unique_ptr<IByteSource> OpenContainerTrack(const std::string& path, std::string& error);

// One reading of `container` that its tracks opened while the result is
// held share, even when they are opened and closed at different times (as
// an analysis probes a file, closes it and opens it again). Null with
// `error` when the container's index cannot be had.
std::shared_ptr<void> HoldContainerReading(const std::string& container, std::string& error);

// How much the track sources buffer: bytes kept behind a track's last read,
// unread bytes a track may hold before it leaves the shared demuxer, and
// bytes kept for the tracks of a container not opened yet.
struct SContainerBounds {
  int64_t keep = int64_t{1} << 20;
  int64_t ahead = int64_t{8} << 20;
  int64_t early = int64_t{2} << 20;
};
// Applies to demuxers made from now on (tests use small ones).
void SetContainerBounds(const SContainerBounds& bounds);
SContainerBounds ContainerBounds();

// What the track sources did since the last reset: container bytes read by
// their demuxers (counted when a demuxer closes), how many demuxers were
// opened, and the most bytes of tracks held at once by one container.
struct SContainerReadStats {
  int64_t fileBytesRead = 0;
  int64_t demuxers = 0;
  int64_t peakHeld = 0;
};
SContainerReadStats ContainerReadStats();
void ResetContainerReadStats();

}  // namespace zv
