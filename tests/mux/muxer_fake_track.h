// A track with synthetic access units for multiplexer tests: exact sizes and
// time stamps, the real buffer models of its stream type, and packets built
// by hand (PES header with PTS/DTS, stuffing in the adaptation field).
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "mux/mux_track.h"

namespace zvtest {

struct FakeUnit {
  uint32_t dts = 0;  // 90 kHz, after any offset; 0 = none
  uint32_t pts = 0;
  uint32_t size = 0;
  bool key = false;
};

class FakeTrack;

struct FakeAu : zv::SMuxAu {
  FakeTrack* track = nullptr;
  uint32_t sent = 0;
  uint8_t packet[192] = {};
  const uint8_t* BuildPacket(uint32_t& bytesLeft, uint32_t& payload) override;
  zv::KEY_POINT_INFO* GetKeyPoint() override;
};

class FakeTrack : public zv::SMuxTrack {
 public:
  FakeTrack(uint8_t type, uint16_t pid, std::vector<FakeUnit> units, double frameMs = 0)
      : type_(type), units_(std::move(units)), frameMs_(frameMs) {
    m_nPid = pid;
    au_.track = this;
  }

  bool PrepareForMux(const zv::SMuxPrepare&) override {
    ResetMuxState();
    CreateModels();
    index_ = -1;
    cc_ = 0;
    keys_.clear();
    keys_.reserve(units_.size());
    hasAu_ = false;
    return NextAu();
  }
  void CreateModels() override {
    m_pPrimaryModel.reset();
    m_pSecondaryModel.reset();
    if (zv::StreamKindOf(type_) == zv::StreamKind::kVideo) {
      auto m = std::make_unique<zv::CAvcStd>();
      m->SetLevel(41, true);
      m_pPrimaryModel = std::move(m);
    } else if (type_ == 0x81) {
      m_pPrimaryModel = std::make_unique<zv::CAc3Std>();
    }
  }
  zv::SMuxAu* GetCurrentAu() override { return hasAu_ ? &au_ : nullptr; }
  bool NextAu() override {
    if (m_bEnded) return true;
    ++index_;
    if (index_ > static_cast<int>(units_.size())) {
      m_bEnded = true;
      hasAu_ = false;
      return true;
    }
    FakeUnit u;
    if (index_ < static_cast<int>(units_.size())) {
      u = units_[index_];
    } else if (!units_.empty()) {  // the closing empty unit
      u.pts = units_.back().pts + static_cast<uint32_t>(frameMs_ * 90);
      u.dts = units_.back().dts ? units_.back().dts + static_cast<uint32_t>(frameMs_ * 90) : 0;
    }
    static_cast<zv::SAuBase&>(au_) = zv::SAuBase(u.dts, u.pts, static_cast<int32_t>(u.size));
    au_.sent = 0;
    m_nBytesLeft = u.size;
    hasAu_ = true;
    EnterAu(au_);
    if (u.size == 0)
      m_bEnded = true;
    else
      ++m_nAuServed;
    return true;
  }
  uint8_t GetStreamCodingType() const override { return type_; }
  double GetFrameDuration() const override { return frameMs_; }
  void FillCodingInfo(zv::STREAM_INFO& rec) const override {
    rec.StreamPID = m_nPid;
    rec.coding.StreamCodingType = type_;
  }
  void FillEsInfo(zv::ESI& esi) const override {
    esi = zv::ESI{};
    esi.stream_type = type_;
    esi.elementary_PID = m_nPid;
  }
  uint64_t GetTotalBytes() const override {
    uint64_t n = 0;
    for (auto& u : units_) n += u.size;
    return n;
  }
  void CollectKeyPoints() override {
    SMuxTrack::CollectKeyPoints();
    m_keyPoints.keyPoints = keys_;
  }
  uint32_t CurrentAuPackets() const override {
    if (!hasAu_ || au_.size == 0) return 0;
    const uint32_t h = HeaderBytes() == 14 ? 170 : 165;
    const uint32_t s = static_cast<uint32_t>(au_.size);
    return s <= h ? 1 : 1 + (s - h + 183) / 184;
  }

  uint32_t HeaderBytes() const { return au_.dts && au_.dts != au_.pts ? 19 : 14; }
  const FakeUnit& Unit() const { return units_[index_]; }
  const std::vector<FakeUnit>& Units() const { return units_; }
  uint8_t NextCc() { return cc_++ & 15; }
  std::vector<zv::KEY_POINT_INFO>& Keys() { return keys_; }

 private:
  uint8_t type_;
  std::vector<FakeUnit> units_;
  double frameMs_;
  FakeAu au_;
  bool hasAu_ = false;
  int index_ = -1;
  uint8_t cc_ = 0;
  std::vector<zv::KEY_POINT_INFO> keys_;
};

inline void PutTimeStamp(uint8_t* p, uint8_t prefix, uint64_t v) {
  p[0] = static_cast<uint8_t>(prefix << 4 | ((v >> 30) & 7) << 1 | 1);
  p[1] = static_cast<uint8_t>(v >> 22);
  p[2] = static_cast<uint8_t>(((v >> 15) & 0x7F) << 1 | 1);
  p[3] = static_cast<uint8_t>(v >> 7);
  p[4] = static_cast<uint8_t>((v & 0x7F) << 1 | 1);
}

inline const uint8_t* FakeAu::BuildPacket(uint32_t& bytesLeft, uint32_t& payload) {
  const uint32_t left = static_cast<uint32_t>(size) - sent;
  if (left == 0) return nullptr;
  std::memset(packet, 0, sizeof packet);
  uint8_t* p = packet + 4;
  const bool start = sent == 0;
  const uint32_t header = start ? track->HeaderBytes() : 0;
  const uint32_t room = 184 - header;
  const uint32_t take = left < room ? left : room;
  const uint32_t stuffing = room - take;
  p[0] = 0x47;                                                     // sync_byte
  p[1] = static_cast<uint8_t>((start ? 0x40 : 0) | (track->m_nPid >> 8));  // PUSI, PID high bits
  p[2] = static_cast<uint8_t>(track->m_nPid);                       // PID low bits
  p[3] = static_cast<uint8_t>((stuffing ? 0x30 : 0x10) | track->NextCc());  // adaptation + payload, CC
  size_t pos = 4;
  if (stuffing) {
    p[4] = static_cast<uint8_t>(stuffing - 1);  // adaptation_field_length
    if (stuffing >= 2) p[5] = 0x00;             // no flags
    if (stuffing > 2) std::memset(p + 6, 0xFF, stuffing - 2);
    pos += stuffing;
  }
  if (start) {
    const bool withDts = header == 19;
    uint8_t* h = p + pos;
    h[0] = 0;
    h[1] = 0;
    h[2] = 1;                              // packet_start_code_prefix
    h[3] = 0xE0;                           // stream_id
    const uint32_t len = size + (withDts ? 13 : 8);
    h[4] = static_cast<uint8_t>(len < 65536 ? len >> 8 : 0);  // PES_packet_length
    h[5] = static_cast<uint8_t>(len < 65536 ? len : 0);
    h[6] = 0x84;                           // data_alignment_indicator
    h[7] = withDts ? 0xC0 : 0x80;          // PTS_DTS_flags
    h[8] = withDts ? 10 : 5;               // PES_header_data_length
    PutTimeStamp(h + 9, withDts ? 3 : 2, pts);
    if (withDts) PutTimeStamp(h + 14, 1, dts);
    pos += header;
    if (GetKeyPoint() == nullptr && track->Unit().key) {
      zv::KEY_POINT_INFO kp;
      kp.auIndex = track->m_nAuServed;
      kp.pts = pts;
      track->Keys().push_back(kp);
    }
  }
  // Payload bytes name their unit and offset, so a reader can check them.
  for (uint32_t i = 0; i < take; ++i) p[pos + i] = static_cast<uint8_t>((sent + i) ^ (pts & 0xFF));
  sent += take;
  bytesLeft = static_cast<uint32_t>(size) - sent;
  payload = take;
  return packet;
}

inline zv::KEY_POINT_INFO* FakeAu::GetKeyPoint() {
  auto& keys = track->Keys();
  if (sent == 0 || keys.empty() || !track->Unit().key) return nullptr;
  return keys.back().pts == pts ? &keys.back() : nullptr;
}

// Video units at 23.976 fps: DTS from `firstDts`, PTS one frame later
// (a one-frame reorder delay), every `gop`-th unit a key unit.
inline std::vector<FakeUnit> VideoUnits(int count, uint32_t size, uint32_t firstDts = 54000000 - 3754, int gop = 12) {
  std::vector<FakeUnit> v;
  for (int i = 0; i < count; ++i) {
    FakeUnit u;
    u.dts = firstDts + static_cast<uint32_t>(i * 3753.75);
    u.pts = u.dts + 3754;
    u.size = size;
    u.key = i % gop == 0;
    v.push_back(u);
  }
  return v;
}

// AC-3 frames of 32 ms (2880 ticks of 90 kHz), DTS = PTS.
inline std::vector<FakeUnit> AudioUnits(int count, uint32_t size, uint32_t firstPts = 54000000) {
  std::vector<FakeUnit> v;
  for (int i = 0; i < count; ++i) {
    FakeUnit u;
    u.pts = u.dts = firstPts + static_cast<uint32_t>(i) * 2880;
    u.size = size;
    v.push_back(u);
  }
  return v;
}

}  // namespace zvtest
