// One opened stream file: its stream information, the selected range of
// access units and the unit being served.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/sif_data.h"
#include "streams/unit_reader.h"

namespace zv {

class CLiveAnalysis;

// The fields of a track source that opening a stream needs.
struct SSourceParams {
  std::string path;
  std::string secondPath;
  int timeMode = 0;  // 0: in/out are unit indices; 1: milliseconds
  int64_t in = 0;
  int64_t out = 0;  // 0 = to the end
  int64_t graphicsOffset = 0;
};

struct SPacketizerState {
  bool initialised = false;
  uint8_t syncByte = 0x47;
  uint16_t pid = 0x1FFF;
  uint8_t adaptationFieldControl = 0;
  uint8_t continuityCounter = 0;
  uint8_t pesStreamId = 0;
  uint8_t pesStreamIdExtension = 0;
  uint8_t lpcmHeader[4] = {0, 0, 0, 0};
};

struct SStreamContext {
  SSifHeader header;
  File sifFile;
  std::string sifPath;
  std::unique_ptr<CSifData> sif;
  File streamFile;
  // Video streams read their units ahead; declared after the file, whose
  // background reads it must end before the file closes.
  std::unique_ptr<CUnitReader> unitReader;
  std::string path;

  std::vector<uint8_t> payload;      // bytes of the current unit, unless read ahead
  uint8_t* unitBytes = nullptr;      // the current unit's bytes (in payload or the read-ahead)
  size_t payloadPos = 0;
  SPacketizerState packetizer;

  int64_t first = 0;
  int64_t last = -1;  // inclusive
  int64_t next = 0;
  std::unique_ptr<AUI> current;
  uint32_t bytesLeft = 0;

  // Length of the stream file when it was opened; no unit may reach past it.
  int64_t streamLength = -1;
  // A window of the stored unit table, so that serving units in order costs
  // one read per block of records rather than one per unit.
  std::vector<uint8_t> auTable;
  int64_t auTableFirst = 0;
  int64_t auTableCount = 0;
  int64_t auTableBlock = 4096;  // records per read

  int64_t timeOffset = 0;  // added to every non-zero PTS and DTS served
  // Where in the stream file the analysis met a syntax error; -1 unknown.
  int64_t errorOffset = -1;
  // What the analysis can say about a refusal beyond its result's message.
  std::string errorDetail;
  uint16_t compositionNumber = 0;
  uint32_t lastKeyPts = 0;
  std::vector<uint8_t> sequenceHeader;  // MPEG-2: the first sequence-header block

  // Analysis side: where the parser announces the units it has written.
  CLiveAnalysis* publishTo = nullptr;
  // Reading side: the units come from an analysis still running; until its
  // end `last` lies beyond every unit and the header counts the units
  // published. `served` folds in every record served, to be checked
  // against the finished table.
  CLiveAnalysis* live = nullptr;
  uint64_t served = 0;

  // Bytes already served came from a file shortened while it was read.
  bool ReadShortened() const { return unitReader && unitReader->Shortened(); }
  // Records the parser has written: a live analysis may serve them.
  void Publish(int64_t units, double auDuration) const;
  // Every selected unit was served, and served whole.
  bool Exhausted() const { return next > last && !ReadShortened(); }
  // Releases files and buffers; the context can be opened again.
  void Close();
  // Units in the selected range.
  int64_t SelectedCount() const { return last >= first ? last - first + 1 : 0; }
};

// Path of the stream-information file beside the stream and in the
// temporary folder.
std::string SifPathBeside(const std::string& streamPath);
std::string SifPathInTemp(const std::string& streamPath);

// Reads and checks the stream-information file `sifPath` of `streamPath`:
// its trailer, header, record and tables, its time stamp against the stream
// file, and that its unit table fits the stream. False means it must be made
// again.
bool LoadStreamInfo(const std::string& sifPath, const std::string& streamPath, SSifHeader& header,
                    std::unique_ptr<CSifData>& sif);

// Makes sure current stream information exists (analysing when needed),
// opens the stream and selects the range. 0 ok, 1 cancelled, 2 failed after
// the failure was shown through `prompt` (may be null).
int OpenStream(const SSourceParams& src, SStreamContext& ctx, const Progress& progress, IPrompt* prompt);

// The record of unit n, or null when n is out of range or unreadable.
std::unique_ptr<AUI> GetAu(int64_t n, SStreamContext& ctx);
// The key unit nearest to n (ties go forward); count when none follows and
// none precedes nearer; -1 when the stream has no units.
int64_t FindKeyAu(SStreamContext& ctx, int64_t n);
// Loads the next selected unit (ctx.unitBytes) and returns its record
// (also kept as ctx.current), with the time offset applied; null at the end
// or when its bytes cannot be read.
const AUI* NextAu(SStreamContext& ctx);

// 16-bit samples swap byte pairs, others swap the outer bytes of 3-byte
// samples, turning little-endian WAV data into the disc's big-endian form.
void SwapLpcmBytes(uint8_t* data, size_t size, unsigned bitsPerSample);

}  // namespace zv
