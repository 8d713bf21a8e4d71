#include "mux/psi.h"

#include <cstring>
#include <stdexcept>

namespace zv {

using ts_detail::Measure;
using ts_detail::ParseWith;
using ts_detail::WriteWith;

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

// VC-1 registration sub-descriptor tags.
constexpr uint8_t kVc1ProfileLevel = 0x01;
constexpr uint8_t kVc1Alignment = 0x02;
constexpr uint8_t kVc1BufferSize = 0x03;

template <class F>
void PutDescriptor(BeWriter& w, uint8_t tag, F&& body) {
  w.U8(tag);
  w.U8(Measure(body));  // throws past 255 bytes
  body(w);
}

void PutFormat(BeWriter& w, const char (&id)[5]) { w.Bytes(id, 4); }

bool IsFormat(BeReader& rd, const char (&id)[5]) {
  char got[4];
  rd.Bytes(got, 4);
  return std::memcmp(got, id, 4) == 0;
}

// Reads one descriptor with `tag` into a body reader and runs `get` on it.
// The descriptor is taken only when `get` accepts it and leaves no bytes
// over; otherwise `rd` stays where it was and false is returned, so a
// descriptor we cannot model falls through to the raw bytes intact.
template <class G>
bool TryDescriptor(BeReader& rd, uint8_t tag, G&& get) {
  if (rd.Remaining() < 2 || rd.Here()[0] != tag) return false;
  BeReader probe = rd;
  probe.U8();
  size_t len = probe.U8();
  if (len > probe.Remaining()) return false;
  BeReader body = probe.Sub(len);
  try {
    if (!get(body) || body.Remaining() != 0) return false;
  } catch (const FormatError&) {
    return false;
  }
  rd = probe;
  return true;
}

// Body readers: true when the descriptor is of the modelled kind.
bool GetVideoRegistration(BeReader& b, HDMV_VIDEO_REGISTRATION& r) {
  if (b.Remaining() != 8 || !IsFormat(b, "HDMV")) return false;
  b.U8();  // stuffing 0xFF
  r.stream_coding_type = b.U8();
  r.video_format = static_cast<uint8_t>(b.Bits(4));
  r.frame_rate = static_cast<uint8_t>(b.Bits(4));
  r.aspect_ratio = static_cast<uint8_t>(b.Bits(4));
  b.Bits(4);
  return true;
}

void PutVideoRegistration(BeWriter& w, const HDMV_VIDEO_REGISTRATION& r) {
  PutDescriptor(w, kTagRegistration, [&](BeWriter& b) {
    PutFormat(b, "HDMV");
    b.U8(0xFF);
    b.U8(r.stream_coding_type);
    b.Bits(4, r.video_format);
    b.Bits(4, r.frame_rate);
    b.Bits(4, r.aspect_ratio);
    b.Bits(4, 0xF);
  });
}

bool GetLpcmRegistration(BeReader& b, HDMV_LPCM_REGISTRATION& r) {
  if (b.Remaining() != 8 || !IsFormat(b, "HDMV")) return false;
  b.U8();
  r.stream_coding_type = b.U8();
  r.audio_presentation_type = static_cast<uint8_t>(b.Bits(4));
  r.sampling_frequency = static_cast<uint8_t>(b.Bits(4));
  r.bits_per_sample = static_cast<uint8_t>(b.Bits(2));
  b.Bits(6);
  return true;
}

void PutLpcmRegistration(BeWriter& w, const HDMV_LPCM_REGISTRATION& r) {
  PutDescriptor(w, kTagRegistration, [&](BeWriter& b) {
    PutFormat(b, "HDMV");
    b.U8(0xFF);
    b.U8(r.stream_coding_type);
    b.Bits(4, r.audio_presentation_type);
    b.Bits(4, r.sampling_frequency);
    b.Bits(2, r.bits_per_sample);
    b.Bits(6, 0x3F);
  });
}

bool GetAc3Registration(BeReader& b) { return b.Remaining() == 4 && IsFormat(b, "AC-3"); }

void PutAc3Registration(BeWriter& w) {
  PutDescriptor(w, kTagRegistration, [&](BeWriter& b) { PutFormat(b, "AC-3"); });
}

bool GetProgramRegistration(BeReader& b) { return b.Remaining() == 4 && IsFormat(b, "HDMV"); }

bool GetVc1Registration(BeReader& b, VC1_REGISTRATION& r) {
  if (b.Remaining() < 4 || !IsFormat(b, "VC-1")) return false;
  while (b.Remaining()) {
    uint8_t tag = b.U8();
    if (tag == kVc1ProfileLevel && !r.profile_level) {
      r.profile_level = b.U8();
    } else if (tag == kVc1Alignment && !r.alignment_type) {
      r.alignment_type = b.U8();
    } else if (tag == kVc1BufferSize && !r.buffer_size) {
      auto& s = r.buffer_size.emplace();
      b.Bits(4);
      s.buffer_size_exponent = static_cast<uint8_t>(b.Bits(4));
      s.hrd_buffer = b.U16();
    } else {
      return false;
    }
  }
  return true;
}

void PutVc1Registration(BeWriter& w, const VC1_REGISTRATION& r) {
  PutDescriptor(w, kTagRegistration, [&](BeWriter& b) {
    PutFormat(b, "VC-1");
    if (r.profile_level) {
      b.U8(kVc1ProfileLevel);
      b.U8(*r.profile_level);
    }
    if (r.alignment_type) {
      b.U8(kVc1Alignment);
      b.U8(*r.alignment_type);
    }
    if (r.buffer_size) {
      b.U8(kVc1BufferSize);
      b.Bits(4, 0xF);
      b.Bits(4, r.buffer_size->buffer_size_exponent);
      b.U16(r.buffer_size->hrd_buffer);
    }
  });
}

bool GetAvcVideo(BeReader& b, AVC_VIDEO_DESCRIPTOR& r) {
  if (b.Remaining() != 4) return false;
  r.profile_idc = b.U8();
  r.constraint_set0_flag = b.Bits(1);
  r.constraint_set1_flag = b.Bits(1);
  r.constraint_set2_flag = b.Bits(1);
  r.AVC_compatible_flags = static_cast<uint8_t>(b.Bits(5));
  r.level_idc = b.U8();
  r.AVC_still_present = b.Bits(1);
  r.AVC_24_hour_picture_flag = b.Bits(1);
  b.Bits(6);
  return true;
}

void PutAvcVideo(BeWriter& w, const AVC_VIDEO_DESCRIPTOR& r) {
  PutDescriptor(w, kTagAvcVideo, [&](BeWriter& b) {
    b.U8(r.profile_idc);
    b.Bits(1, r.constraint_set0_flag);
    b.Bits(1, r.constraint_set1_flag);
    b.Bits(1, r.constraint_set2_flag);
    b.Bits(5, r.AVC_compatible_flags);
    b.U8(r.level_idc);
    b.Bits(1, r.AVC_still_present);
    b.Bits(1, r.AVC_24_hour_picture_flag);
    b.Bits(6, 0);
  });
}

void GetLanguageCode(BeReader& b, LanguageCode& code) { b.Bytes(code.data(), 3); }

bool GetAc3(BeReader& b, AC3_DESCRIPTOR& r) {
  r.sample_rate_code = static_cast<uint8_t>(b.Bits(3));
  r.bsid = static_cast<uint8_t>(b.Bits(5));
  r.bit_rate_code = static_cast<uint8_t>(b.Bits(6));
  r.surround_mode = static_cast<uint8_t>(b.Bits(2));
  r.bsmod = static_cast<uint8_t>(b.Bits(3));
  r.num_channels = static_cast<uint8_t>(b.Bits(4));
  r.full_svc = b.Bits(1);
  r.langcod = b.U8();
  if (r.num_channels == 0) r.langcod2 = b.U8();
  if (r.bsmod < 2) {
    r.mainid = static_cast<uint8_t>(b.Bits(3));
    r.priority = static_cast<uint8_t>(b.Bits(2));
    b.Bits(3);
  } else {
    r.asvcflags = b.U8();
  }
  size_t textlen = b.Bits(7);
  r.text_code = b.Bits(1);
  r.text = b.Vec(textlen);
  bool lang = b.Bits(1), lang2 = b.Bits(1);
  b.Bits(6);
  if (lang) GetLanguageCode(b, r.language.emplace());
  if (lang2) GetLanguageCode(b, r.language_2.emplace());
  r.additional_info = b.Vec(b.Remaining());
  return true;
}

void PutAc3(BeWriter& w, const AC3_DESCRIPTOR& r) {
  PutDescriptor(w, kTagAc3, [&](BeWriter& b) {
    b.Bits(3, r.sample_rate_code);
    b.Bits(5, r.bsid);
    b.Bits(6, r.bit_rate_code);
    b.Bits(2, r.surround_mode);
    b.Bits(3, r.bsmod);
    b.Bits(4, r.num_channels);
    b.Bits(1, r.full_svc);
    b.U8(r.langcod);
    if (r.num_channels == 0) b.U8(r.langcod2);
    if (r.bsmod < 2) {
      b.Bits(3, r.mainid);
      b.Bits(2, r.priority);
      b.Bits(3, 0x7);
    } else {
      b.U8(r.asvcflags);
    }
    b.Bits(7, r.text.size());
    b.Bits(1, r.text_code);
    b.Bytes(r.text.data(), r.text.size());
    b.Bits(1, r.language.has_value());
    b.Bits(1, r.language_2.has_value());
    b.Bits(6, 0x3F);
    if (r.language) b.Bytes(r.language->data(), 3);
    if (r.language_2) b.Bytes(r.language_2->data(), 3);
    b.Bytes(r.additional_info.data(), r.additional_info.size());
  });
}

// The service byte: 0x40 + service number (index + 1) for a service whose
// line-21 flag is clear, 0xFE + line21_field otherwise.
bool GetCaption(BeReader& b, std::vector<CAPTION_SERVICE_INFO>& r) {
  b.Bits(3);
  size_t n = b.Bits(5);
  if (b.Remaining() != 6 * n) return false;
  r.resize(n);
  for (auto& s : r) {
    GetLanguageCode(b, s.language);
    uint8_t service = b.U8();
    s.line21 = (service & 0xFE) == 0xFE;
    s.line21_field = s.line21 && (service & 1);
    s.easy_reader = b.Bits(1);
    s.wide_aspect_ratio = b.Bits(1);
    b.Bits(6);
    b.U8();
  }
  return true;
}

void PutCaption(BeWriter& w, const std::vector<CAPTION_SERVICE_INFO>& r) {
  PutDescriptor(w, kTagCaption, [&](BeWriter& b) {
    b.Bits(3, 0x7);
    b.Bits(5, r.size());
    for (size_t i = 0; i < r.size(); ++i) {
      const auto& s = r[i];
      b.Bytes(s.language.data(), 3);
      b.U8(s.line21 ? 0xFE + s.line21_field : 0x40 + i + 1);
      b.Bits(1, s.easy_reader);
      b.Bits(1, s.wide_aspect_ratio);
      b.Bits(6, 0x3F);
      b.U8(0xFF);
    }
  });
}

bool GetLanguage(BeReader& b, ISO639_LANGUAGE_DESCRIPTOR& r) {
  if (b.Remaining() != 4) return false;
  GetLanguageCode(b, r.language);
  r.audio_type = b.U8();
  return true;
}

void PutLanguage(BeWriter& w, const ISO639_LANGUAGE_DESCRIPTOR& r) {
  PutDescriptor(w, kTagLanguage, [&](BeWriter& b) {
    b.Bytes(r.language.data(), 3);
    b.U8(r.audio_type);
  });
}

bool GetCopyControl(BeReader& b, HDMV_COPY_CONTROL& r) {
  if (b.Remaining() != 4) return false;
  r.CA_System_ID = b.U16();
  b.Bytes(r.private_data.data(), 2);
  return true;
}

void PutCopyControl(BeWriter& w, const HDMV_COPY_CONTROL& r) {
  PutDescriptor(w, kTagCopyControl, [&](BeWriter& b) {
    b.U16(r.CA_System_ID);
    b.Bytes(r.private_data.data(), 2);
  });
}

bool IsVideoRegistrationType(uint8_t t) { return t == kSctMpeg2 || t == kSctH264; }
bool IsAc3Type(uint8_t t) { return t == kSctAc3 || t == kSctMlp || t == kSctEac3 || t == kSctEac3Secondary; }

void PutEsiDescriptors(BeWriter& w, const ESI& r) {
  const uint8_t t = r.stream_type;
  if (IsVideoRegistrationType(t)) {
    if (r.video_registration) PutVideoRegistration(w, *r.video_registration);
    if (t == kSctH264) {
      if (r.avc_video) PutAvcVideo(w, *r.avc_video);
      if (r.avc_timing_hrd) PutDescriptor(w, kTagAvcTimingHrd, [&](BeWriter& b) {
          b.Bytes(r.avc_timing_hrd->data(), r.avc_timing_hrd->size());
        });
    }
    if (r.caption_services) PutCaption(w, *r.caption_services);
  } else if (t == kSctVc1) {
    if (r.vc1_registration) PutVc1Registration(w, *r.vc1_registration);
    if (r.caption_services) PutCaption(w, *r.caption_services);
  } else if (t == kSctLpcm) {
    if (r.lpcm_registration) PutLpcmRegistration(w, *r.lpcm_registration);
  } else if (IsAc3Type(t)) {
    if (r.ac3_registration) PutAc3Registration(w);
    if (r.ac3_audio) PutAc3(w, *r.ac3_audio);
  }
  w.Bytes(r.other_descriptors.data(), r.other_descriptors.size());
  if (r.language) PutLanguage(w, *r.language);
}

// Parses one descriptor with `get` into `out`; `out` changes only on success.
template <class R, class G>
bool TryInto(BeReader& d, uint8_t tag, std::optional<R>& out, G&& get) {
  if (out) return false;  // each kind at most once
  R tmp{};
  if (!TryDescriptor(d, tag, [&](BeReader& b) { return get(b, tmp); })) return false;
  out = std::move(tmp);
  return true;
}

// Mirrors PutEsiDescriptors: the descriptors the stream type carries, in its
// order (video ones in any order), then whole descriptors kept as bytes, the
// last of which is the language when it has that form.
void GetEsiDescriptors(BeReader& d, ESI& r) {
  const uint8_t t = r.stream_type;
  if (IsVideoRegistrationType(t)) {
    auto timing = [](BeReader& b, std::vector<uint8_t>& v) {
      v = b.Vec(b.Remaining());
      return true;
    };
    while (TryInto(d, kTagRegistration, r.video_registration, GetVideoRegistration) ||
           (t == kSctH264 && TryInto(d, kTagAvcVideo, r.avc_video, GetAvcVideo)) ||
           (t == kSctH264 && TryInto(d, kTagAvcTimingHrd, r.avc_timing_hrd, timing)) ||
           TryInto(d, kTagCaption, r.caption_services, GetCaption)) {
    }
  } else if (t == kSctVc1) {
    if (TryInto(d, kTagRegistration, r.vc1_registration, GetVc1Registration))
      TryInto(d, kTagCaption, r.caption_services, GetCaption);
  } else if (t == kSctLpcm) {
    TryInto(d, kTagRegistration, r.lpcm_registration, GetLpcmRegistration);
  } else if (IsAc3Type(t)) {
    r.ac3_registration = TryDescriptor(d, kTagRegistration, [](BeReader& b) { return GetAc3Registration(b); });
    if (r.ac3_registration) TryInto(d, kTagAc3, r.ac3_audio, GetAc3);
  }
  // The rest must be a well-formed descriptor loop.
  const uint8_t* rest = d.Here();
  size_t lastStart = d.Remaining();
  while (d.Remaining()) {
    lastStart = d.Pos();
    d.U8();
    d.Skip(d.U8());
  }
  size_t restLen = static_cast<size_t>(d.Here() - rest);
  if (restLen && lastStart + 6 == d.Pos()) {
    BeReader last(d.Data() + lastStart, 6);
    ISO639_LANGUAGE_DESCRIPTOR lang;
    if (TryDescriptor(last, kTagLanguage, [&](BeReader& b) { return GetLanguage(b, lang); })) {
      r.language = lang;
      restLen -= 6;
    }
  }
  r.other_descriptors.assign(rest, rest + restLen);
}

void PutEsi(BeWriter& w, const ESI& r) {
  w.U8(r.stream_type);
  w.Bits(3, 0x7);
  w.Bits(13, r.elementary_PID);
  w.Bits(4, 0xF);
  w.Bits(12, Measure([&](BeWriter& m) { PutEsiDescriptors(m, r); }));
  PutEsiDescriptors(w, r);
}

void GetEsi(BeReader& rd, ESI& r) {
  r = ESI{};
  r.stream_type = rd.U8();
  rd.Bits(3);
  r.elementary_PID = static_cast<uint16_t>(rd.Bits(13));
  rd.Bits(4);
  BeReader d = rd.Sub(rd.Bits(12));
  GetEsiDescriptors(d, r);
}

// Common frame of the three sections: table_id, '1' '0' '11' and the 12-bit
// section_length, the body, CRC_32 over everything before it.
template <class F>
size_t WriteSection(uint8_t* buf, size_t cap, uint8_t tableId, F&& body) {
  const size_t sectionLength = Measure(body) + 4;
  if (sectionLength > kMaxSectionLength) throw std::length_error("PSI section longer than 1021 bytes");
  const size_t total = 3 + sectionLength;
  if (!buf) return total;
  BeWriter w(buf, cap);
  w.U8(tableId);
  w.U16(0xB000 | sectionLength);
  body(w);
  w.U32(Crc32Mpeg2(buf, w.Size()));
  return w.Size();
}

template <class F>
void GetSection(BeReader& rd, uint8_t tableId, F&& body) {
  const uint8_t* start = rd.Here();
  if (rd.U8() != tableId) throw FormatError("unexpected table_id");
  uint16_t v = rd.U16();
  size_t sectionLength = v & 0x0FFF;
  if (!(v & 0x8000) || sectionLength > kMaxSectionLength || sectionLength < 4)
    throw FormatError("bad section header");
  BeReader s = rd.Sub(sectionLength);
  if (Crc32Mpeg2(start, 3 + sectionLength) != 0) throw FormatError("section CRC mismatch");
  BeReader b = s.Sub(sectionLength - 4);
  body(b);
  if (b.Remaining()) throw FormatError("bytes left in section");
}

void PutVersionAndNumbers(BeWriter& w, uint8_t version, bool current, uint8_t number, uint8_t last) {
  w.Bits(2, 0x3);
  w.Bits(5, version);
  w.Bits(1, current);
  w.U8(number);
  w.U8(last);
}

template <class R>
void GetVersionAndNumbers(BeReader& rd, R& r) {
  rd.Bits(2);
  r.version_number = static_cast<uint8_t>(rd.Bits(5));
  r.current_next_indicator = rd.Bits(1);
  r.section_number = rd.U8();
  r.last_section_number = rd.U8();
}

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* p, size_t n, uint32_t crc) {
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

size_t Write(const PAT_SECTION& r, uint8_t* buf, size_t cap) {
  return WriteSection(buf, cap, r.table_id, [&](BeWriter& w) {
    w.U16(r.transport_stream_id);
    PutVersionAndNumbers(w, r.version_number, r.current_next_indicator, r.section_number, r.last_section_number);
    for (const PI& pi : r.programs) {
      w.U16(pi.program_number);
      w.Bits(3, 0x7);
      w.Bits(13, pi.PID);
    }
  });
}

size_t Parse(const uint8_t* p, size_t n, PAT_SECTION& r) {
  return ParseWith(p, n, [&](BeReader& rd) {
    r = PAT_SECTION{};
    r.programs.clear();
    GetSection(rd, r.table_id, [&](BeReader& b) {
      r.transport_stream_id = b.U16();
      GetVersionAndNumbers(b, r);
      if (b.Remaining() % 4) throw FormatError("partial PAT entry");
      while (b.Remaining()) {
        PI& pi = r.programs.emplace_back();
        pi.program_number = b.U16();
        b.Bits(3);
        pi.PID = static_cast<uint16_t>(b.Bits(13));
      }
    });
  });
}

size_t Write(const PMT_SECTION& r, uint8_t* buf, size_t cap) {
  auto programInfo = [&](BeWriter& w) {
    if (r.hdmv_registration) PutDescriptor(w, kTagRegistration, [](BeWriter& b) { PutFormat(b, "HDMV"); });
    if (r.copy_control) PutCopyControl(w, *r.copy_control);
    for (const auto& d : r.extra_descriptors)
      PutDescriptor(w, d.tag, [&](BeWriter& b) { b.Bytes(d.bytes.data(), d.bytes.size()); });
  };
  return WriteSection(buf, cap, r.table_id, [&](BeWriter& w) {
    w.U16(r.program_number);
    PutVersionAndNumbers(w, r.version_number, r.current_next_indicator, r.section_number, r.last_section_number);
    w.Bits(3, 0x7);
    w.Bits(13, r.PCR_PID);
    w.Bits(4, 0xF);
    w.Bits(12, Measure(programInfo));
    programInfo(w);
    for (const ESI& e : r.streams) PutEsi(w, e);
  });
}

size_t Parse(const uint8_t* p, size_t n, PMT_SECTION& r) {
  return ParseWith(p, n, [&](BeReader& rd) {
    r = PMT_SECTION{};
    r.hdmv_registration = false;
    r.copy_control.reset();
    GetSection(rd, r.table_id, [&](BeReader& b) {
      r.program_number = b.U16();
      GetVersionAndNumbers(b, r);
      b.Bits(3);
      r.PCR_PID = static_cast<uint16_t>(b.Bits(13));
      b.Bits(4);
      BeReader info = b.Sub(b.Bits(12));
      while (info.Remaining()) {
        if (!r.hdmv_registration &&
            TryDescriptor(info, kTagRegistration, [](BeReader& d) { return GetProgramRegistration(d); })) {
          r.hdmv_registration = true;
          continue;
        }
        HDMV_COPY_CONTROL cc;
        if (!r.copy_control && TryDescriptor(info, kTagCopyControl, [&](BeReader& d) { return GetCopyControl(d, cc); })) {
          r.copy_control = cc;
          continue;
        }
        RAW_DESCRIPTOR& raw = r.extra_descriptors.emplace_back();
        raw.tag = info.U8();
        raw.bytes = info.Vec(info.U8());
      }
      while (b.Remaining()) GetEsi(b, r.streams.emplace_back());
    });
  });
}

size_t Write(const SIT_SECTION& r, uint8_t* buf, size_t cap) {
  return WriteSection(buf, cap, r.table_id, [&](BeWriter& w) {
    w.U16(0xFFFF);
    PutVersionAndNumbers(w, r.version_number, r.current_next_indicator, r.section_number, r.last_section_number);
    w.Bits(4, 0xF);
    w.Bits(12, 10);  // transmission_info_loop_length: the one descriptor below
    w.U8(kTagPartialTs);
    w.U8(8);
    w.Bits(2, 0x3);
    w.Bits(22, r.peak_rate);
    w.Bits(2, 0x3);
    w.Bits(22, r.minimum_overall_smoothing_rate);
    w.Bits(2, 0x3);
    w.Bits(14, r.maximum_overall_smoothing_buffer);
    for (const SIT_SERVICE& s : r.services) {
      w.U16(s.service_id);
      w.Bits(1, 1);
      w.Bits(3, s.running_status);
      w.Bits(12, s.descriptors.size());
      w.Bytes(s.descriptors.data(), s.descriptors.size());
    }
  });
}

size_t Parse(const uint8_t* p, size_t n, SIT_SECTION& r) {
  return ParseWith(p, n, [&](BeReader& rd) {
    r = SIT_SECTION{};
    r.services.clear();
    GetSection(rd, r.table_id, [&](BeReader& b) {
      b.U16();
      GetVersionAndNumbers(b, r);
      b.Bits(4);
      if (b.Bits(12) != 10 || b.U8() != kTagPartialTs || b.U8() != 8)
        throw FormatError("SIT without its partial transport stream descriptor");
      b.Bits(2);
      r.peak_rate = static_cast<uint32_t>(b.Bits(22));
      b.Bits(2);
      r.minimum_overall_smoothing_rate = static_cast<uint32_t>(b.Bits(22));
      b.Bits(2);
      r.maximum_overall_smoothing_buffer = static_cast<uint16_t>(b.Bits(14));
      while (b.Remaining()) {
        SIT_SERVICE& s = r.services.emplace_back();
        s.service_id = b.U16();
        b.Bits(1);
        s.running_status = static_cast<uint8_t>(b.Bits(3));
        s.descriptors = b.Vec(b.Bits(12));
      }
    });
  });
}

size_t Write(const ESI& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutEsi(w, r); });
}
size_t Parse(const uint8_t* p, size_t n, ESI& r) {
  return ParseWith(p, n, [&](BeReader& rd) { GetEsi(rd, r); });
}

// Single descriptors.
namespace {
template <class R, class G>
size_t ParseDescriptor(const uint8_t* p, size_t n, uint8_t tag, R& r, G&& get) {
  return ParseWith(p, n, [&](BeReader& rd) {
    r = R{};
    if (!TryDescriptor(rd, tag, [&](BeReader& b) { return get(b, r); })) throw FormatError("not this descriptor");
  });
}
}  // namespace

size_t Write(const HDMV_VIDEO_REGISTRATION& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutVideoRegistration(w, r); });
}
size_t Write(const HDMV_LPCM_REGISTRATION& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutLpcmRegistration(w, r); });
}
size_t Write(const VC1_REGISTRATION& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutVc1Registration(w, r); });
}
size_t Write(const AVC_VIDEO_DESCRIPTOR& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutAvcVideo(w, r); });
}
size_t Write(const AC3_DESCRIPTOR& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutAc3(w, r); });
}
size_t Write(const std::vector<CAPTION_SERVICE_INFO>& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutCaption(w, r); });
}
size_t Write(const ISO639_LANGUAGE_DESCRIPTOR& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutLanguage(w, r); });
}
size_t Write(const HDMV_COPY_CONTROL& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { PutCopyControl(w, r); });
}

size_t Parse(const uint8_t* p, size_t n, HDMV_VIDEO_REGISTRATION& r) {
  return ParseDescriptor(p, n, kTagRegistration, r, GetVideoRegistration);
}
size_t Parse(const uint8_t* p, size_t n, HDMV_LPCM_REGISTRATION& r) {
  return ParseDescriptor(p, n, kTagRegistration, r, GetLpcmRegistration);
}
size_t Parse(const uint8_t* p, size_t n, VC1_REGISTRATION& r) {
  return ParseDescriptor(p, n, kTagRegistration, r, GetVc1Registration);
}
size_t Parse(const uint8_t* p, size_t n, AVC_VIDEO_DESCRIPTOR& r) {
  return ParseDescriptor(p, n, kTagAvcVideo, r, GetAvcVideo);
}
size_t Parse(const uint8_t* p, size_t n, AC3_DESCRIPTOR& r) { return ParseDescriptor(p, n, kTagAc3, r, GetAc3); }
size_t Parse(const uint8_t* p, size_t n, std::vector<CAPTION_SERVICE_INFO>& r) {
  return ParseDescriptor(p, n, kTagCaption, r, GetCaption);
}
size_t Parse(const uint8_t* p, size_t n, ISO639_LANGUAGE_DESCRIPTOR& r) {
  return ParseDescriptor(p, n, kTagLanguage, r, GetLanguage);
}
size_t Parse(const uint8_t* p, size_t n, HDMV_COPY_CONTROL& r) {
  return ParseDescriptor(p, n, kTagCopyControl, r, GetCopyControl);
}

}  // namespace zv
