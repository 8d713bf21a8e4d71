#include "mux/ts_syntax.h"

#include <algorithm>
#include <stdexcept>

#include "mux/psi.h"

namespace zv {

using ts_detail::Measure;
using ts_detail::ParseWith;
using ts_detail::WriteWith;

bool IsElementaryPid(uint32_t pid) {
  return pid == 0x1011 ||                    // primary video
         (pid >= 0x1100 && pid <= 0x111F) ||  // primary audio
         (pid >= 0x1200 && pid <= 0x12FF) ||  // presentation graphics
         (pid >= 0x1400 && pid <= 0x141F) ||  // interactive graphics
         pid == 0x1800 ||                    // text subtitle
         (pid >= 0x1A00 && pid <= 0x1A1F) ||  // secondary audio
         (pid >= 0x1B00 && pid <= 0x1B1F);    // secondary video
}

bool PesHasNoOptionalHeader(uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xFF;
}

void SetTimeStamps(PES_HEADER& h, std::optional<uint64_t> pts, std::optional<uint64_t> dts) {
  h.PTS.reset();
  h.DTS.reset();
  if (!pts) return;
  h.PTS = TIME_STAMP{static_cast<uint8_t>(dts ? 0x3 : 0x2), *pts};
  if (dts) h.DTS = TIME_STAMP{0x1, *dts};
}

namespace ts_detail {

// 33-bit value split 3/15/15 with a marker bit after each part, as PTS, DTS,
// ESCR and DTS_next_AU are coded.
static void PutMarked33(BeWriter& w, uint64_t v) {
  if (v >> 33) throw std::out_of_range("time stamp wider than 33 bits");
  w.Bits(3, v >> 30);
  w.Bits(1, 1);
  w.Bits(15, (v >> 15) & 0x7FFF);
  w.Bits(1, 1);
  w.Bits(15, v & 0x7FFF);
  w.Bits(1, 1);
}

static uint64_t GetMarked33(BeReader& rd) {
  uint64_t v = rd.Bits(3) << 30;
  rd.Bits(1);
  v |= rd.Bits(15) << 15;
  rd.Bits(1);
  v |= rd.Bits(15);
  rd.Bits(1);
  return v;
}

void Put(BeWriter& w, const PCR_FIELD& r) {
  w.Bits(33, r.base);
  w.Bits(6, 0x3F);
  w.Bits(9, r.extension);
}

void Get(BeReader& rd, PCR_FIELD& r) {
  r.base = rd.Bits(33);
  rd.Bits(6);
  r.extension = static_cast<uint16_t>(rd.Bits(9));
}

void Put(BeWriter& w, const TIME_STAMP& r) {
  w.Bits(4, r.prefix);
  PutMarked33(w, r.value);
}

void Get(BeReader& rd, TIME_STAMP& r) {
  r.prefix = static_cast<uint8_t>(rd.Bits(4));
  r.value = GetMarked33(rd);
}

static void PutAfExtension(BeWriter& w, const AF_EXTENSION& e) {
  auto body = [&](BeWriter& b) {
    b.Bits(1, e.ltw.has_value());
    b.Bits(1, e.piecewise_rate.has_value());
    b.Bits(1, e.seamless_splice.has_value());
    b.Bits(5, 0x1F);
    if (e.ltw) b.U16(*e.ltw);
    if (e.piecewise_rate) {
      b.Bits(2, 0x3);
      b.Bits(22, *e.piecewise_rate);
    }
    if (e.seamless_splice) {
      b.Bits(4, e.seamless_splice->splice_type);
      PutMarked33(b, e.seamless_splice->DTS_next_AU);
    }
    b.Fill(0xFF, e.reserved_bytes);
  };
  w.U8(Measure(body));
  body(w);
}

static void GetAfExtension(BeReader& rd, AF_EXTENSION& e) {
  BeReader s = rd.Sub(rd.U8());
  bool ltw = s.Bits(1), piecewise = s.Bits(1), seamless = s.Bits(1);
  s.Bits(5);
  if (ltw) e.ltw = s.U16();
  if (piecewise) {
    s.Bits(2);
    e.piecewise_rate = static_cast<uint32_t>(s.Bits(22));
  }
  if (seamless) {
    AF_SEAMLESS_SPLICE sp;
    sp.splice_type = static_cast<uint8_t>(s.Bits(4));
    sp.DTS_next_AU = GetMarked33(s);
    e.seamless_splice = sp;
  }
  if (s.Remaining() > 255) throw FormatError("adaptation field extension too long");
  e.reserved_bytes = static_cast<uint8_t>(s.Remaining());
}

void Put(BeWriter& w, const ADAPTATION_FIELD& r) {
  if (r.adaptation_field_length == 0) {
    w.U8(0);
    return;
  }
  auto body = [&](BeWriter& b) {
    b.Bits(1, r.discontinuity_indicator);
    b.Bits(1, r.random_access_indicator);
    b.Bits(1, r.elementary_stream_priority_indicator);
    b.Bits(1, r.PCR.has_value());
    b.Bits(1, r.OPCR.has_value());
    b.Bits(1, r.splice_countdown.has_value());
    b.Bits(1, r.private_data.has_value());
    b.Bits(1, r.extension.has_value());
    if (r.PCR) Put(b, *r.PCR);
    if (r.OPCR) Put(b, *r.OPCR);
    if (r.splice_countdown) b.U8(*r.splice_countdown);
    if (r.private_data) {
      b.U8(r.private_data->size());
      b.Bytes(r.private_data->data(), r.private_data->size());
    }
    if (r.extension) PutAfExtension(b, *r.extension);
    b.Fill(0xFF, r.stuffing);
  };
  w.U8(Measure(body));  // throws when the field outgrows its length byte
  body(w);
}

void Get(BeReader& rd, ADAPTATION_FIELD& r) {
  r = ADAPTATION_FIELD{};
  r.adaptation_field_length = rd.U8();
  if (r.adaptation_field_length == 0) return;
  BeReader s = rd.Sub(r.adaptation_field_length);
  r.discontinuity_indicator = s.Bits(1);
  r.random_access_indicator = s.Bits(1);
  r.elementary_stream_priority_indicator = s.Bits(1);
  bool pcr = s.Bits(1), opcr = s.Bits(1), splice = s.Bits(1), priv = s.Bits(1), ext = s.Bits(1);
  if (pcr) Get(s, r.PCR.emplace());
  if (opcr) Get(s, r.OPCR.emplace());
  if (splice) r.splice_countdown = s.U8();
  if (priv) r.private_data = s.Vec(s.U8());
  if (ext) GetAfExtension(s, r.extension.emplace());
  r.stuffing = static_cast<uint32_t>(s.Remaining());
}

void Put(BeWriter& w, const PES_EXTENSION& r) {
  w.Bits(1, r.PES_private_data.has_value());
  w.Bits(1, r.pack_header.has_value());
  w.Bits(1, r.sequence_counter.has_value());
  w.Bits(1, r.P_STD_buffer.has_value());
  w.Bits(3, 0x7);
  w.Bits(1, r.extension_field.has_value());
  if (r.PES_private_data) w.Bytes(r.PES_private_data->data(), 16);
  if (r.pack_header) {
    w.U8(r.pack_header->size());
    w.Bytes(r.pack_header->data(), r.pack_header->size());
  }
  if (r.sequence_counter) {
    w.Bits(1, 1);
    w.Bits(7, r.sequence_counter->program_packet_sequence_counter);
    w.Bits(1, 1);
    w.Bits(1, r.sequence_counter->MPEG1_MPEG2_identifier);
    w.Bits(6, r.sequence_counter->original_stuff_length);
  }
  if (r.P_STD_buffer) {
    w.Bits(2, 0x1);
    w.Bits(1, r.P_STD_buffer->P_STD_buffer_scale);
    w.Bits(13, r.P_STD_buffer->P_STD_buffer_size);
  }
  if (r.extension_field) {
    w.Bits(1, 1);
    w.Bits(7, r.extension_field->size());
    w.Bytes(r.extension_field->data(), r.extension_field->size());
  }
}

void Get(BeReader& rd, PES_EXTENSION& r) {
  r = PES_EXTENSION{};
  bool priv = rd.Bits(1), pack = rd.Bits(1), seq = rd.Bits(1), pstd = rd.Bits(1);
  rd.Bits(3);
  bool ext2 = rd.Bits(1);
  if (priv) rd.Bytes(r.PES_private_data.emplace().data(), 16);
  if (pack) r.pack_header = rd.Vec(rd.U8());
  if (seq) {
    auto& c = r.sequence_counter.emplace();
    rd.Bits(1);
    c.program_packet_sequence_counter = static_cast<uint8_t>(rd.Bits(7));
    rd.Bits(1);
    c.MPEG1_MPEG2_identifier = rd.Bits(1);
    c.original_stuff_length = static_cast<uint8_t>(rd.Bits(6));
  }
  if (pstd) {
    auto& b = r.P_STD_buffer.emplace();
    rd.Bits(2);
    b.P_STD_buffer_scale = rd.Bits(1);
    b.P_STD_buffer_size = static_cast<uint16_t>(rd.Bits(13));
  }
  if (ext2) {
    rd.Bits(1);
    r.extension_field = rd.Vec(rd.Bits(7));
  }
}

void Put(BeWriter& w, const PES_HEADER& r) {
  w.U24(0x000001);
  w.U8(r.stream_id);
  w.U16(r.PES_packet_length);
  if (PesHasNoOptionalHeader(r.stream_id)) return;
  if (r.DTS && !r.PTS) throw std::logic_error("PES header with a DTS but no PTS");
  w.Bits(2, 0x2);
  w.Bits(2, r.PES_scrambling_control & 0x3);
  w.Bits(1, r.PES_priority);
  w.Bits(1, r.data_alignment_indicator);
  w.Bits(1, r.copyright);
  w.Bits(1, r.original_or_copy);
  w.Bits(2, r.PTS ? (r.DTS ? 3 : 2) : 0);
  w.Bits(1, r.ESCR.has_value());
  w.Bits(1, r.ES_rate.has_value());
  w.Bits(1, r.trick_mode.has_value());
  w.Bits(1, r.additional_copy_info.has_value());
  w.Bits(1, r.previous_PES_packet_CRC.has_value());
  w.Bits(1, r.extension.has_value());
  auto body = [&](BeWriter& b) {
    if (r.PTS) Put(b, *r.PTS);
    if (r.DTS) Put(b, *r.DTS);
    if (r.ESCR) {
      b.Bits(2, 0x3);
      PutMarked33(b, r.ESCR->base);
      b.Bits(9, r.ESCR->extension);
      b.Bits(1, 1);
    }
    if (r.ES_rate) {
      b.Bits(1, 1);
      b.Bits(22, *r.ES_rate);
      b.Bits(1, 1);
    }
    if (r.trick_mode) {
      b.Bits(3, r.trick_mode->trick_mode_control);
      b.Bits(5, r.trick_mode->fields);
    }
    if (r.additional_copy_info) {
      b.Bits(1, 1);
      b.Bits(7, *r.additional_copy_info);
    }
    if (r.previous_PES_packet_CRC) b.U16(*r.previous_PES_packet_CRC);
    if (r.extension) Put(b, *r.extension);
    b.Fill(0xFF, r.stuffing);
  };
  w.U8(Measure(body));  // PES_header_data_length
  body(w);
  if (r.data_alignment_indicator && r.alignment_type) {
    w.U8(0x06);
    w.U8(1);
    w.U8(*r.alignment_type);
  }
}

void Get(BeReader& rd, PES_HEADER& r) {
  r = PES_HEADER{};
  if (rd.U24() != 0x000001) throw FormatError("no PES start code");
  r.stream_id = rd.U8();
  r.PES_packet_length = rd.U16();
  if (PesHasNoOptionalHeader(r.stream_id)) return;
  if (rd.Bits(2) != 0x2) throw FormatError("not an MPEG-2 PES header");
  r.PES_scrambling_control = static_cast<uint8_t>(rd.Bits(2));
  r.PES_priority = rd.Bits(1);
  r.data_alignment_indicator = rd.Bits(1);
  r.copyright = rd.Bits(1);
  r.original_or_copy = rd.Bits(1);
  unsigned ptsDts = static_cast<unsigned>(rd.Bits(2));
  if (ptsDts == 1) throw FormatError("forbidden PTS_DTS_flags value");
  bool escr = rd.Bits(1), esRate = rd.Bits(1), trick = rd.Bits(1), copyInfo = rd.Bits(1), crc = rd.Bits(1),
       ext = rd.Bits(1);
  BeReader s = rd.Sub(rd.U8());
  if (ptsDts & 2) Get(s, r.PTS.emplace());
  if (ptsDts == 3) Get(s, r.DTS.emplace());
  if (escr) {
    auto& e = r.ESCR.emplace();
    s.Bits(2);
    e.base = GetMarked33(s);
    e.extension = static_cast<uint16_t>(s.Bits(9));
    s.Bits(1);
  }
  if (esRate) {
    s.Bits(1);
    r.ES_rate = static_cast<uint32_t>(s.Bits(22));
    s.Bits(1);
  }
  if (trick) {
    auto& t = r.trick_mode.emplace();
    t.trick_mode_control = static_cast<uint8_t>(s.Bits(3));
    t.fields = static_cast<uint8_t>(s.Bits(5));
  }
  if (copyInfo) {
    s.Bits(1);
    r.additional_copy_info = static_cast<uint8_t>(s.Bits(7));
  }
  if (crc) r.previous_PES_packet_CRC = s.U16();
  if (ext) Get(s, r.extension.emplace());
  r.stuffing = static_cast<uint32_t>(s.Remaining());
}

}  // namespace ts_detail

size_t Write(const PCR_FIELD& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { ts_detail::Put(w, r); });
}
size_t Write(const TIME_STAMP& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { ts_detail::Put(w, r); });
}
size_t Write(const ADAPTATION_FIELD& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { ts_detail::Put(w, r); });
}
size_t Write(const PES_EXTENSION& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { ts_detail::Put(w, r); });
}
size_t Write(const PES_HEADER& r, uint8_t* buf, size_t cap) {
  return WriteWith(buf, cap, [&](BeWriter& w) { ts_detail::Put(w, r); });
}

size_t Parse(const uint8_t* p, size_t n, PCR_FIELD& r) {
  return ParseWith(p, n, [&](BeReader& rd) { ts_detail::Get(rd, r); });
}
size_t Parse(const uint8_t* p, size_t n, TIME_STAMP& r) {
  return ParseWith(p, n, [&](BeReader& rd) { ts_detail::Get(rd, r); });
}
size_t Parse(const uint8_t* p, size_t n, ADAPTATION_FIELD& r) {
  return ParseWith(p, n, [&](BeReader& rd) { ts_detail::Get(rd, r); });
}
size_t Parse(const uint8_t* p, size_t n, PES_EXTENSION& r) {
  return ParseWith(p, n, [&](BeReader& rd) { ts_detail::Get(rd, r); });
}
size_t Parse(const uint8_t* p, size_t n, PES_HEADER& r) {
  return ParseWith(p, n, [&](BeReader& rd) { ts_detail::Get(rd, r); });
}

static void PutTsHeaderBytes(BeWriter& w, const TS_PACKET_HEADER& r, bool pusi, uint8_t afc) {
  w.U8(r.sync_byte);
  w.Bits(1, r.transport_error_indicator);
  w.Bits(1, pusi);
  w.Bits(1, r.transport_priority);
  w.Bits(13, r.PID);
  w.Bits(2, r.transport_scrambling_control & 0x3);
  w.Bits(2, afc & 0x3);
  w.Bits(4, r.continuity_counter & 0xF);
}

size_t Write(const TS_PACKET_HEADER& r, uint8_t* buf, size_t cap, const TS_PAYLOAD_START& follow) {
  const bool pat = r.PID == kPatPid && follow.pat;
  const bool sit = r.PID == kSitPid && follow.sit;
  size_t n = WriteWith(buf, cap, [&](BeWriter& w) {
    const uint8_t afc = r.adaptation_field_control & 0x3;
    PutTsHeaderBytes(w, r, r.payload_unit_start_indicator, afc);
    if (afc == 2 || afc == 3) {
      // A header that announces an adaptation field always gets one; the
      // empty field keeps the packet well-formed when the record has none.
      if (r.adaptation_field)
        ts_detail::Put(w, *r.adaptation_field);
      else
        w.U8(0);
    }
    if (pat || sit) w.U8(0);  // pointer_field
    if (follow.pes && r.payload_unit_start_indicator && IsElementaryPid(r.PID)) ts_detail::Put(w, *follow.pes);
  });
  if (pat) n += Write(*follow.pat, buf ? buf + n : nullptr, buf ? cap - n : 0);
  if (sit) n += Write(*follow.sit, buf ? buf + n : nullptr, buf ? cap - n : 0);
  return n;
}

size_t Parse(const uint8_t* p, size_t n, TS_PACKET_HEADER& r) {
  r = TS_PACKET_HEADER{};
  r.PID = kNullPid;
  if (!p || n == 0 || p[0] != 0x47) return 0;
  return ParseWith(p, n, [&](BeReader& rd) {
    r.sync_byte = rd.U8();
    r.transport_error_indicator = rd.Bits(1);
    r.payload_unit_start_indicator = rd.Bits(1);
    r.transport_priority = rd.Bits(1);
    r.PID = static_cast<uint32_t>(rd.Bits(13));
    r.transport_scrambling_control = static_cast<uint8_t>(rd.Bits(2));
    r.adaptation_field_control = static_cast<uint8_t>(rd.Bits(2));
    r.continuity_counter = static_cast<uint8_t>(rd.Bits(4));
    if (r.adaptation_field_control == 2 || r.adaptation_field_control == 3)
      ts_detail::Get(rd, r.adaptation_field.emplace());
    if (r.payload_unit_start_indicator && (r.PID == kPatPid || r.PID == kSitPid || r.PID == kPmtPid))
      rd.Skip(rd.U8());
  });
}

void StuffPacket(TS_PACKET_HEADER& h, int n) {
  if (n < 1) return;
  if (h.adaptation_field_control == 1)
    h.adaptation_field_control = 3;
  else if (h.adaptation_field_control != 3)
    h.adaptation_field_control = 2;
  ADAPTATION_FIELD af;
  af.adaptation_field_length = static_cast<uint8_t>(std::min(n - 1, 255));
  if (n > 2) af.stuffing = static_cast<uint32_t>(n - 2);
  h.adaptation_field = af;
}

size_t WriteSectionPacket(const TS_PACKET_HEADER& h, const uint8_t* section, size_t remaining, bool first,
                          uint8_t* out) {
  BeWriter w(out, kTsPacketSize);
  PutTsHeaderBytes(w, h, first, 1);  // payload only: nothing else is written
  if (first) w.U8(0);                // pointer_field
  size_t k = std::min(remaining, kTsPacketSize - w.Size());
  w.Bytes(section, k);
  return k;
}

size_t SectionPacketCount(size_t length) {
  if (length <= kTsPayloadSize - 1) return 1;
  return 1 + (length - (kTsPayloadSize - 1) + kTsPayloadSize - 1) / kTsPayloadSize;
}

}  // namespace zv
