#include "mux/std_models.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "streams/coding_type.h"

namespace zv {

namespace {
constexpr int32_t kTsPacketBytes = 188;
constexpr int32_t kTsPayloadBytes = 184;

int64_t DecodeTime(uint32_t dts) { return static_cast<int64_t>(dts) * kTicksPer90k; }
}  // namespace

void CTransBuffer::Configure(int32_t size, uint32_t leakRate) {
  // A zero rate would never drain and make every wait infinite.
  if (size < 0 || leakRate == 0) throw std::invalid_argument("transport buffer needs a size and a leak rate");
  size_ = size;
  leakRate_ = leakRate;
}

void CTransBuffer::Update(int64_t t) {
  if (content_ != 0) {
    // Time never runs backwards in the multiplexer; a negative step would
    // refill the bucket, so it drains nothing instead. A step of 80 s or
    // more empties any bucket a schedule that keeps to NextTime() can fill,
    // and is not multiplied out, so it cannot overflow (rates are below 2^32).
    const int64_t dt = std::max<int64_t>(0, t - lastUpdate_);
    const int64_t drain = dt < (int64_t{1} << 31) ? dt * int64_t{leakRate_} : INT64_MAX;
    if (drain >= content_) {
      content_ = 0;
      lastEmpty_ = t;
    } else {
      content_ -= drain;
    }
  } else {
    lastEmpty_ = t;
  }
  content_ += kTsPacketBytes * kUnitsPerByte;
  lastUpdate_ = t;

  // When one more packet would not fit, it waits until enough has drained.
  const int64_t excess = content_ - (int64_t{size_} - kTsPacketBytes) * kUnitsPerByte;
  nextTime_ = excess <= 0 ? 0 : t + DrainTicks(excess);

  // Audio TBs must run dry about once a second: once that is due, the next
  // packet waits for a complete drain even if it would fit.
  if (periodicEmpty_ && (lastEmpty_ + kPeriodicEmptyTicks - t) * leakRate_ <= content_)
    nextTime_ = t + DrainTicks(content_);
}

void CElementaryBuffer::AddAccessUnit(uint32_t dts, uint32_t pts) {
  // The unit that was newest becomes one that decoding can remove.
  if (!units_.empty()) earliestOlder_ = std::min(earliestOlder_, DecodeTime(units_.back().dts));
  units_.emplace_back(dts, pts, 0);
}

void CElementaryBuffer::Update(int64_t t, int32_t bytes) {
  if (units_.empty()) throw std::logic_error("packet delivered before its access unit was added");
  units_.back().size += bytes;
  held_ += bytes;
  if (bytes < 0) {  // the bytes to free shrank: search afresh
    scanIndex_ = 0;
    scanPrefix_ = 0;
  }

  // Units other than the newest leave the buffer once decoded.
  if (t >= earliestOlder_) {
    const auto newest = units_.end() - 1;
    units_.erase(std::remove_if(units_.begin(), newest, [t](const SAuBase& u) { return DecodeTime(u.dts) <= t; }),
                 newest);
    held_ = 0;
    earliestOlder_ = INT64_MAX;
    scanIndex_ = 0;
    scanPrefix_ = 0;
    for (size_t i = 0; i < units_.size(); ++i) {
      held_ += units_[i].size;
      if (i + 1 < units_.size()) earliestOlder_ = std::min(earliestOlder_, DecodeTime(units_[i].dts));
    }
  }
  const int64_t held = held_;
  if (held == 0) lastEmpty_ = t;

  const int64_t room = size_ - held - kTsPayloadBytes;
  if (room >= 0) {
    nextTime_ = 0;
    return;
  }
  // Wait until enough of the oldest units are decoded to make room for one
  // more full payload. Only a buffer smaller than one payload finds none; it
  // then waits for the newest unit.
  const int64_t need = -room;
  const size_t newest = units_.size() - 1;
  while (scanIndex_ < newest && scanPrefix_ + units_[scanIndex_].size < need) scanPrefix_ += units_[scanIndex_++].size;
  const SAuBase& u = units_[scanIndex_];
  nextTime_ = scanPrefix_ + u.size >= need ? DecodeTime(u.dts) : DecodeTime(units_.back().dts);
  if (maxAccessUnits_ != 0 && static_cast<int64_t>(units_.size()) >= maxAccessUnits_)
    nextTime_ = std::max(nextTime_, DecodeTime(units_.front().dts));
}

void CStdBase::DeliverPacket(const SPacketArrival& p) {
  tb_.Update(p.time);
  eb_.Update(p.time, p.payload);
}

namespace {
// The loop of DeliverWhileRoom; a model passes its own calls bound, so that
// its buffers' updates are compiled into the loop.
template <class Next, class Deliver>
size_t DeliverRun(const uint8_t* times, size_t stride, size_t n, int32_t payload, Next next, Deliver deliver) {
  size_t i = 0;
  for (; i < n; ++i) {
    int64_t t;
    std::memcpy(&t, times + i * stride, sizeof t);
    if (t < next()) break;
    deliver(SPacketArrival{t, payload});
  }
  return i;
}
}  // namespace

size_t CStdBase::DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload) {
  return DeliverRun(
      times, stride, n, payload, [this] { return GetNextTime(); },
      [this](const SPacketArrival& p) { DeliverPacket(p); });
}

int64_t CVideoStd::GetNextTime() const { return std::max({tb_.NextTime(), mb_.NextTime(), eb_.NextTime()}); }

void CVideoStd::DeliverPacket(const SPacketArrival& p) {
  tb_.Update(p.time);
  mb_.Update(p.time);
  eb_.Update(p.time, p.payload);
}

// No video model overrides these calls: bound here.
size_t CVideoStd::DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload) {
  return DeliverRun(
      times, stride, n, payload, [this] { return CVideoStd::GetNextTime(); },
      [this](const SPacketArrival& p) { CVideoStd::DeliverPacket(p); });
}

CMpeg2Std::CMpeg2Std() { ApplyLevel(0x44); }

void CMpeg2Std::SetLevel(int level, bool) { ApplyLevel(level); }

void CMpeg2Std::ApplyLevel(int level) {
  struct Limits {
    int level;
    uint32_t tbRate, mbRate;
    int32_t mbSize, ebSize;
  };
  static constexpr Limits kLimits[] = {
      {0x44, 48000000, 42000000, 53333, 1222656},  // main profile, high level
      {0x46, 48000000, 42000000, 40000, 917504},   // main profile, high-1440
      {0x48, 18000000, 15000000, 10000, 229376},   // main profile, main level
  };
  for (const Limits& l : kLimits) {
    if (l.level != level) continue;
    tb_.Configure(512, l.tbRate);
    mb_.Configure(l.mbSize, l.mbRate);
    eb_.SetSize(l.ebSize);
    return;
  }
}

CAvcStd::CAvcStd() { ApplyLevel(41, true); }

void CAvcStd::SetLevel(int levelIdc, bool primary) { ApplyLevel(levelIdc, primary); }

void CAvcStd::ApplyLevel(int levelIdc, bool primary) {
  uint32_t tbRate = 18000000, mbRate = 15000000;  // any level not listed
  int32_t ebSize = 1500000;
  switch (levelIdc) {
    case 30: tbRate = 14400000, mbRate = 12000000, ebSize = 1500000; break;
    case 31: tbRate = 20160000, mbRate = 16800000, ebSize = 2100000; break;
    case 32:
      if (primary)
        tbRate = 28800000, mbRate = 24000000, ebSize = 3000000;
      else
        tbRate = 9600000, mbRate = 8000000, ebSize = 1500000;
      break;
    case 40: tbRate = 28800000, mbRate = 24000000, ebSize = 3750000; break;
    case 41: tbRate = 48000000, mbRate = 40000000, ebSize = 3750000; break;
    default: break;
  }
  tb_.Configure(512, tbRate);
  mb_.Configure(40000, mbRate);
  eb_.SetSize(ebSize);
}

CVc1Std::CVc1Std() {
  tb_.Configure(512, 48000000);
  mb_.Configure(26666, 40000000);
  eb_.SetSize(3750000);
}

void CVc1Std::SetLevel(int level, bool primary) {
  if (level == 2) {
    tb_.Configure(512, 24000000);
    mb_.Configure(26666, 20000000);
    eb_.SetSize(primary ? 3750000 : 1500000);
  } else if (level == 3) {
    tb_.Configure(512, 48000000);
    mb_.Configure(26666, 40000000);
    eb_.SetSize(3750000);
  }
}

CAudioStd::CAudioStd(int32_t tbSize, uint32_t tbLeakRate, int32_t ebSize) {
  tb_.Configure(tbSize, tbLeakRate);
  tb_.SetPeriodicEmpty(true);
  eb_.SetSize(ebSize);
}

int64_t CAudioStd::GetNextTime() const { return std::max(tb_.NextTime(), eb_.NextTime()); }

size_t CAudioStd::DeliverWhileRoom(const uint8_t* times, size_t stride, size_t n, int32_t payload) {
  return DeliverRun(
      times, stride, n, payload, [this] { return CAudioStd::GetNextTime(); },
      [this](const SPacketArrival& p) { CStdBase::DeliverPacket(p); });
}

CAc3Std::CAc3Std() : CAudioStd(512, 2000000, 18640) {}
CDdpStd::CDdpStd() : CAudioStd(512, 48000000, 137936) {}
CDtsStd::CDtsStd() : CAudioStd(512, 5000000, 43972) {}
CDtsHdStd::CDtsHdStd() : CAudioStd(512, 48000000, 713563) {}
CLpcmStd::CLpcmStd() : CAudioStd(512, 20000000, 536832) {}
CMlpStd::CMlpStd() : CAudioStd(512, 48000000, 404250) {}

// Secondary audio values; a later SetPrimary(true) does not restore the
// primary ones.
void CDdpStd::SetPrimary(bool primary) {
  primary_ = primary;
  if (!primary) {
    tb_.Configure(512, 2000000);
    eb_.SetSize(7456);
  }
}

void CDtsHdStd::SetPrimary(bool primary) {
  primary_ = primary;
  if (!primary) {
    tb_.Configure(512, 2000000);
    eb_.SetSize(7456);
  }
}

void CLpcmStd::SetSamplingFrequencyCode(int code) {
  if (code == 5) {
    tb_.Configure(512, 30000000);
    eb_.SetSize(1073664);
  } else if (code == 1 || code == 4) {
    tb_.Configure(512, 20000000);
    eb_.SetSize(536832);
  }
}

CGsStd::CGsStd(int32_t ebSize, int32_t maxAccessUnits) {
  eb_.SetSize(ebSize);
  eb_.SetMaxAccessUnits(maxAccessUnits);
}

int64_t CGsStd::GetNextTime() const { return eb_.NextTime(); }

void CGsStd::DeliverPacket(const SPacketArrival& p) { eb_.Update(p.time, p.payload); }

CPgStd::CPgStd() : CGsStd(1048576, 128) {}
CIgStd::CIgStd() : CGsStd(1048576, 5000) {}

namespace {

SStdModels Models(std::unique_ptr<CStdBase> primary, std::unique_ptr<CStdBase> secondary = nullptr) {
  SStdModels m;
  m.primary = std::move(primary);
  m.secondary = std::move(secondary);
  return m;
}

std::unique_ptr<CStdBase> SecondaryAudio(std::unique_ptr<CStdBase> model) {
  model->SetPrimary(false);
  return model;
}

bool IsSdVideoFormat(uint8_t code) { return code == 1 || code == 2 || code == 3 || code == 7; }

}  // namespace

SStdModels CreateStdModels(const SStdCodingParams& p) {
  const bool found = p.profile != 0 && p.level != 0;
  const bool sd = IsSdVideoFormat(p.video_format);
  auto video = [&](std::unique_ptr<CStdBase> v, int foundLevel, int sdLevel) {
    if (found)
      v->SetLevel(foundLevel, p.primary);
    else if (sd)
      v->SetLevel(sdLevel, p.primary);
    return Models(std::move(v));
  };
  switch (p.stream_type) {
    case kSctMpeg2: return video(std::make_unique<CMpeg2Std>(), p.profile * 16 + p.level, 0x48);
    case kSctH264: return video(std::make_unique<CAvcStd>(), p.level, 30);
    case kSctVc1: return video(std::make_unique<CVc1Std>(), p.level, 2);
    case kSctLpcm: {
      auto lpcm = std::make_unique<CLpcmStd>();
      lpcm->SetSamplingFrequencyCode(p.sampling_frequency);
      return Models(std::move(lpcm));
    }
    case kSctAc3: return Models(std::make_unique<CAc3Std>());
    case kSctDts: return Models(std::make_unique<CDtsStd>());
    case kSctMlp: return Models(std::make_unique<CAc3Std>(), std::make_unique<CMlpStd>());
    case kSctEac3: return Models(std::make_unique<CAc3Std>(), std::make_unique<CDdpStd>());
    case kSctDtsHdHr:
    case kSctDtsHdMa: return Models(std::make_unique<CDtsStd>(), std::make_unique<CDtsHdStd>());
    case kSctPg: return Models(std::make_unique<CPgStd>());
    case kSctIg: return Models(std::make_unique<CIgStd>());
    case kSctTextSt: return Models(std::make_unique<CTxtStStd>());
    case kSctEac3Secondary: return Models(SecondaryAudio(std::make_unique<CDdpStd>()));
    case kSctDtsHdSecondary: return Models(SecondaryAudio(std::make_unique<CDtsHdStd>()));
    default: return {};
  }
}

void EnterUnit(CStdBase* primary, CStdBase* secondary, bool toExtension, uint32_t dts, uint32_t pts) {
  if (!secondary) {
    if (primary) primary->AddAccessUnit(dts, pts);
    return;
  }
  if (!toExtension && primary) primary->AddAccessUnit(dts, pts);
  secondary->AddAccessUnit(dts, pts);
}

void DeliverToModels(CStdBase* primary, CStdBase* secondary, bool toExtension, const SPacketArrival& p) {
  if (!toExtension) {
    if (primary) primary->DeliverPacket(p);
    if (secondary) secondary->DeliverPacket(p);
  } else if (secondary) {
    secondary->DeliverPacket(p);
  }
}

int64_t ModelsNextTime(const CStdBase* primary, const CStdBase* secondary, bool toExtension, bool firstPacket) {
  const CStdBase* m = toExtension ? secondary : primary;
  int64_t t = m ? m->GetNextTime() : 0;
  if (toExtension && firstPacket && primary) t = std::max(t, primary->GetNextTime());
  return t;
}

}  // namespace zv
