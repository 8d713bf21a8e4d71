// T-STD buffer models: for each elementary stream, the earliest 27 MHz tick
// at which its next transport packet may arrive without overflowing the
// decoder's transport (TB), multiplexing (MB) or elementary (EB) buffer.
//
// Times are 64-bit 27 MHz ticks, access-unit time stamps 32-bit 90 kHz
// values (one unit = 300 ticks), rates bits per second, sizes bytes. A
// next permitted time of 0 means "no constraint".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zv {

inline constexpr int64_t kTicksPerSecond = 27000000;
inline constexpr int64_t kTicksPer90k = 300;

// Access unit as the multiplexer's tracks and the EB see it. `size` is the
// unit's size in the tracks; in the EB it counts the bytes received so far.
struct SAuBase {
  SAuBase() = default;
  SAuBase(uint32_t dtsIn, uint32_t ptsIn, int32_t sizeIn = 0) : dts(dtsIn), pts(ptsIn), size(sizeIn) {}
  SAuBase(const SAuBase&) = default;
  SAuBase& operator=(const SAuBase&) = default;
  virtual ~SAuBase() = default;  // tracks derive their own unit records

  uint32_t type = 0;  // type/flags
  uint32_t dts = 0;
  uint32_t pts = 0;
  int32_t size = 0;
};

// One transport packet handed to the models after it was written.
struct SPacketArrival {
  int64_t time = 0;    // arrival time, ticks
  int32_t payload = 0; // elementary-stream bytes carried (PES header excluded)
};

// Leaky bucket fed whole 188-byte packets: the TB, and the video MB. Its
// content is kept exactly, in bits x ticks per second (one byte is
// 8 * 27,000,000 of them), so that draining for `dt` ticks removes exactly
// leak rate * dt and no rounding accumulates; waits are rounded up to the
// next whole tick.
class CTransBuffer {
 public:
  static constexpr int64_t kPeriodicEmptyTicks = 26460000;  // 0.98 s
  static constexpr int64_t kUnitsPerByte = 8 * kTicksPerSecond;

  void Configure(int32_t size, uint32_t leakRate);
  void SetPeriodicEmpty(bool on) { periodicEmpty_ = on; }
  void Update(int64_t t);

  bool PeriodicEmpty() const { return periodicEmpty_; }
  int32_t Size() const { return size_; }
  uint32_t LeakRate() const { return leakRate_; }
  int64_t NextTime() const { return nextTime_; }
  int64_t LastEmptyTime() const { return lastEmpty_; }
  // Bytes held, a partly drained byte counting whole.
  int64_t Fullness() const { return (content_ + kUnitsPerByte - 1) / kUnitsPerByte; }
  // Bytes held in bits x ticks per second.
  int64_t Content() const { return content_; }

 private:
  // Whole ticks until `units` have drained.
  int64_t DrainTicks(int64_t units) const { return (units + leakRate_ - 1) / leakRate_; }

  bool periodicEmpty_ = false;
  int32_t size_ = 512;
  uint32_t leakRate_ = 48000000;
  int64_t nextTime_ = 0;
  int64_t lastEmpty_ = 0;
  int64_t lastUpdate_ = 0;
  // Unbounded above so that a caller ignoring NextTime() cannot wrap it.
  int64_t content_ = 0;
};

// Decoder buffer emptied by decoding whole access units at their DTS.
class CElementaryBuffer {
 public:
  void SetSize(int32_t size) {
    size_ = size;
    scanIndex_ = 0;
    scanPrefix_ = 0;
  }
  void SetMaxAccessUnits(int32_t n) { maxAccessUnits_ = n; }
  void AddAccessUnit(uint32_t dts, uint32_t pts);
  // Credits the bytes to the newest access unit; throws std::logic_error
  // when no access unit was added first.
  void Update(int64_t t, int32_t bytes);

  int32_t Size() const { return size_; }
  int32_t MaxAccessUnits() const { return maxAccessUnits_; }
  int64_t NextTime() const { return nextTime_; }
  int64_t LastEmptyTime() const { return lastEmpty_; }
  const std::vector<SAuBase>& Units() const { return units_; }

 private:
  int32_t size_ = 0;
  std::vector<SAuBase> units_;
  // Kept with units_ so that a packet costs no walk over the held units:
  // their byte total, and the earliest decoding time (ticks) among all but
  // the newest, the only ones that can leave.
  int64_t held_ = 0;
  int64_t earliestOlder_ = INT64_MAX;
  // While nothing leaves, the bytes a full buffer must free only grow, so
  // the search for the unit whose decoding frees them resumes where it
  // stopped: units_[0, scanIndex_) are passed, scanPrefix_ their bytes.
  // Only units before the newest (whose size no longer changes) are passed.
  size_t scanIndex_ = 0;
  int64_t scanPrefix_ = 0;
  int64_t nextTime_ = 0;
  int64_t lastEmpty_ = 0;
  int32_t maxAccessUnits_ = 0;
};

class CStdBase {
 public:
  virtual ~CStdBase() = default;
  virtual int64_t GetNextTime() const { return 0; }
  virtual void AddAccessUnit(uint32_t dts, uint32_t pts) { eb_.AddAccessUnit(dts, pts); }
  virtual void DeliverPacket(const SPacketArrival& p);
  // Delivers packets of `payload` bytes (`n` of them) for as long as each
  // arrives at or after GetNextTime(); the number delivered. Their arrival
  // times are int64_t at `times`, `stride` bytes apart (a field of the
  // caller's records, read in place). A run of one stream's packets costs
  // one call instead of two per packet.
  virtual size_t DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload);
  virtual void SetPrimary(bool primary) { primary_ = primary; }
  // Video models apply their profile/level limits; others ignore it.
  virtual void SetLevel(int /*level*/, bool /*primary*/) {}

  bool Primary() const { return primary_; }
  const CTransBuffer& Tb() const { return tb_; }
  const CElementaryBuffer& Eb() const { return eb_; }

 protected:
  bool primary_ = true;
  CTransBuffer tb_;
  CElementaryBuffer eb_;
};

class CVideoStd : public CStdBase {
 public:
  int64_t GetNextTime() const override;
  void DeliverPacket(const SPacketArrival& p) override;
  size_t DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload) override;
  const CTransBuffer& Mb() const { return mb_; }

 protected:
  CTransBuffer mb_;
};

class CMpeg2Std : public CVideoStd {
 public:
  CMpeg2Std();
  // profile_and_level_indication; the primary flag does not matter here.
  void SetLevel(int level, bool primary) override;

 private:
  void ApplyLevel(int level);
};

class CAvcStd : public CVideoStd {
 public:
  CAvcStd();
  void SetLevel(int levelIdc, bool primary) override;

 private:
  void ApplyLevel(int levelIdc, bool primary);
};

class CVc1Std : public CVideoStd {
 public:
  CVc1Std();
  void SetLevel(int level, bool primary) override;
};

class CAudioStd : public CStdBase {
 public:
  int64_t GetNextTime() const override;
  size_t DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload) override;

 protected:
  CAudioStd(int32_t tbSize, uint32_t tbLeakRate, int32_t ebSize);
};

class CAc3Std : public CAudioStd {
 public:
  CAc3Std();
};

class CDdpStd : public CAudioStd {
 public:
  CDdpStd();
  void SetPrimary(bool primary) override;  // secondary audio gets the small buffers
};

class CDtsStd : public CAudioStd {
 public:
  CDtsStd();
};

class CDtsHdStd : public CAudioStd {
 public:
  CDtsHdStd();
  void SetPrimary(bool primary) override;
};

class CLpcmStd : public CAudioStd {
 public:
  CLpcmStd();
  // Clip-information sampling-frequency code: 5 (192 kHz) enlarges the
  // buffers, 1 and 4 keep the constructor values, others change nothing.
  void SetSamplingFrequencyCode(int code);
};

class CMlpStd : public CAudioStd {
 public:
  CMlpStd();
};

class CGsStd : public CStdBase {
 public:
  int64_t GetNextTime() const override;
  void DeliverPacket(const SPacketArrival& p) override;

 protected:
  CGsStd(int32_t ebSize, int32_t maxAccessUnits);
};

class CPgStd : public CGsStd {
 public:
  CPgStd();
};

class CIgStd : public CGsStd {
 public:
  CIgStd();
};

// Text subtitles are scheduled by their time stamps alone.
class CTxtStStd : public CStdBase {
 public:
  void AddAccessUnit(uint32_t, uint32_t) override {}
  void DeliverPacket(const SPacketArrival&) override {}
};

// A track's models: the primary one and, for audio carrying a core and an
// extension in one PID, the secondary one. Both null when the stream type
// has no model.
struct SStdModels {
  std::unique_ptr<CStdBase> primary;
  std::unique_ptr<CStdBase> secondary;
};

// How one PID's units and packets meet its models, for the multiplexer and
// for a replay of a finished clip alike (either model may be null). A core
// unit enters both models and an extension unit the secondary alone; a core
// unit's packets fill both, an extension unit's the secondary alone.
void EnterUnit(CStdBase* primary, CStdBase* secondary, bool toExtension, uint32_t dts, uint32_t pts);
void DeliverToModels(CStdBase* primary, CStdBase* secondary, bool toExtension, const SPacketArrival& p);
// When the next packet of a unit may arrive: by the model it fills, and the
// first packet of an extension unit must also fit the core's buffers.
int64_t ModelsNextTime(const CStdBase* primary, const CStdBase* secondary, bool toExtension, bool firstPacket);

// What the choice reads when a track reuses a stream of an existing clip:
// the clip-information StreamCodingInfo and the profile/level found in the
// stream's first access unit (0 when not found). Streams analysed from their
// files get their models from their stream-information record instead
// (CSifData::CreatePacketRules, see CreateModelsFromRecord).
struct SStdCodingParams {
  uint8_t stream_type = 0;
  uint8_t video_format = 0;        // StreamCodingInfo code
  uint8_t sampling_frequency = 0;  // StreamCodingInfo code
  int profile = 0;
  int level = 0;
  bool primary = true;  // the track's primary flag
};

SStdModels CreateStdModels(const SStdCodingParams& p);

}  // namespace zv
