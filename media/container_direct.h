// Tracks of a container read straight from the file, without a demuxer.
//
// While a container is indexed, libavformat reads every packet; the
// packet's bytes are then looked for in the file near the position
// libavformat reports, and the bytes its conversion made are matched
// against them: what lies between the NAL units (start codes, parameter
// sets) is kept, the units themselves are the file's bytes. A track all of
// whose packets match gets a table (beside the index) from which its
// elementary bytes are made by copying from the mapped file. A track with
// any packet that does not match (compressed or encrypted blocks, packets
// split over the file, presentation graphics) has no table and is read
// through libavformat as before.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "platform/file.h"
#include "platform/file_view.h"

struct AVPacket;
struct AVStream;

namespace zv {

struct SBytes;

class CDirectTableMaker {
 public:
  CDirectTableMaker();
  ~CDirectTableMaker();
  CDirectTableMaker(const CDirectTableMaker&) = delete;
  CDirectTableMaker& operator=(const CDirectTableMaker&) = delete;

  // False when the file cannot be read here (no tables are made then).
  bool Open(const std::string& container);
  // A carried track; `h264LengthSize` is the size of its NAL units' length
  // prefixes when its packets are converted to start codes, else 0.
  void AddTrack(int stream, int h264LengthSize);
  // Before the packet is converted (the conversion takes its bytes over).
  void Before(const AVPacket& pkt);
  // The bytes the conversion of that packet made.
  void After(int stream, const std::vector<SBytes>& made);
  // What the converter made at the end of the track.
  void AtEnd(int stream, const std::vector<SBytes>& made);
  // Writes the tables of the tracks that can be read directly, whose
  // lengths must be `lengths`. False with `error` when writing failed.
  bool Store(const std::string& path, const std::string& identity, const std::map<int, int64_t>& lengths,
             std::string& error) const;
  // The tracks that matched so far (for tests).
  std::vector<int> Direct() const;

 private:
  struct STable;
  STable* Fail(STable* t);
  // The file's bytes [pos, pos + n), mapped; null when they cannot be.
  const uint8_t* Bytes(int64_t pos, size_t n);
  bool Spill(STable& t);

  int fd_ = -1;
  int64_t fileSize_ = 0;
  CFileView view_;  // of the file around the packet being matched
  bool shortened_ = false;
  std::map<int, std::unique_ptr<STable>> tables_;
  STable* cur_ = nullptr;  // the track of that packet, when it matched
  const uint8_t* curBytes_ = nullptr;  // its bytes in the view
  size_t curSize_ = 0;
  uint64_t curFileOffset_ = 0;
  uint64_t block_ = 4096;
};

// The track read from the table at `table` (made for the container with
// `identity`), or null when the table is missing, stale or does not fit.
std::unique_ptr<IByteSource> OpenDirectTrack(const std::string& table, const std::string& identity,
                                             const std::string& container, int stream, int64_t length);

// On by default; tests of the demuxer path turn it off.
void SetDirectContainerReading(bool on);
bool DirectContainerReading();
// Records an index keeps in memory per track before it writes them out,
// and records per block of a table (tests use few; defaults 65536, 4096).
void SetDirectTableSizes(size_t spill, uint32_t block);

}  // namespace zv
