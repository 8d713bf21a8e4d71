#include "mux/ts_dump.h"

#include <algorithm>
#include <string>

#include "mux/psi.h"
#include "mux/ts_syntax.h"
#include "platform/file.h"

namespace zv {

namespace {

bool IsPsiPid(uint32_t pid) { return pid == kPatPid || pid == kSitPid || pid == kPmtPid; }

std::string LanguageText(const LanguageCode& c) { return PrintableText(c.Text()); }

void Flag(SDumpNode& n, const char* label, bool v) { n.Int(label, v ? 1 : 0); }

void DumpPcr(SDumpNode& n, const char* label, const PCR_FIELD& pcr) {
  SDumpNode& b = n.Block(label);
  b.Int("base", static_cast<int64_t>(pcr.base));
  b.Int("extension", pcr.extension);
  // The one number to compare with arrival time stamps and other PCRs.
  b.Int("value_27MHz", static_cast<int64_t>(pcr.base * 300 + pcr.extension));
}

void DumpAdaptationField(SDumpNode& n, const ADAPTATION_FIELD& af) {
  SDumpNode& b = n.Block("adaptation_field");
  b.Int("adaptation_field_length", af.adaptation_field_length);
  if (af.adaptation_field_length == 0) return;
  Flag(b, "discontinuity_indicator", af.discontinuity_indicator);
  Flag(b, "random_access_indicator", af.random_access_indicator);
  Flag(b, "elementary_stream_priority_indicator", af.elementary_stream_priority_indicator);
  Flag(b, "PCR_flag", af.PCR.has_value());
  Flag(b, "OPCR_flag", af.OPCR.has_value());
  Flag(b, "splicing_point_flag", af.splice_countdown.has_value());
  Flag(b, "transport_private_data_flag", af.private_data.has_value());
  Flag(b, "adaptation_field_extension_flag", af.extension.has_value());
  if (af.PCR) DumpPcr(b, "PCR", *af.PCR);
  if (af.OPCR) DumpPcr(b, "OPCR", *af.OPCR);
  if (af.splice_countdown) b.Int("splice_countdown", static_cast<int8_t>(*af.splice_countdown));
  if (af.private_data) {
    b.Int("transport_private_data_length", static_cast<int64_t>(af.private_data->size()));
    b.Text("private_data", HexBytesText(af.private_data->data(), af.private_data->size()));
  }
  if (af.extension) {
    SDumpNode& e = b.Block("adaptation_field_extension");
    if (af.extension->ltw) {
      Flag(e, "ltw_valid_flag", (*af.extension->ltw & 0x8000) != 0);
      e.Int("ltw_offset", *af.extension->ltw & 0x7FFF);
    }
    if (af.extension->piecewise_rate) e.Int("piecewise_rate", *af.extension->piecewise_rate);
    if (af.extension->seamless_splice) {
      e.Int("splice_type", af.extension->seamless_splice->splice_type);
      e.Int("DTS_next_AU", static_cast<int64_t>(af.extension->seamless_splice->DTS_next_AU));
    }
    if (af.extension->reserved_bytes) e.Int("reserved_bytes", af.extension->reserved_bytes);
  }
  b.Int("stuffing_bytes", af.stuffing);
}

// `p` points at the PES header, `n` bytes of the packet's payload.
void DumpPes(SDumpNode& n, const uint8_t* p, size_t n_bytes) {
  SDumpNode& b = n.Block("PES_header");
  PES_HEADER h;
  std::string error;
  try {
    BeReader rd(p, n_bytes);
    ts_detail::Get(rd, h);
  } catch (const FormatError& e) {
    error = e.what();
  }
  if (!error.empty()) {
    // The fields before the fault still help: the start of the header as bytes.
    b.Text("bytes", HexBytesText(p, std::min<size_t>(n_bytes, 14)));
    b.Text("error", error == "unexpected end of data" ? "the header runs past the end of the packet" : error);
    return;
  }
  b.Hex2("stream_id", h.stream_id);
  b.Int("PES_packet_length", h.PES_packet_length);
  if (PesHasNoOptionalHeader(h.stream_id)) return;
  b.Int("PES_scrambling_control", h.PES_scrambling_control);
  Flag(b, "PES_priority", h.PES_priority);
  Flag(b, "data_alignment_indicator", h.data_alignment_indicator);
  Flag(b, "copyright", h.copyright);
  Flag(b, "original_or_copy", h.original_or_copy);
  b.Int("PTS_DTS_flags", h.PTS ? (h.DTS ? 3 : 2) : 0);
  Flag(b, "ESCR_flag", h.ESCR.has_value());
  Flag(b, "ES_rate_flag", h.ES_rate.has_value());
  Flag(b, "DSM_trick_mode_flag", h.trick_mode.has_value());
  Flag(b, "additional_copy_info_flag", h.additional_copy_info.has_value());
  Flag(b, "PES_CRC_flag", h.previous_PES_packet_CRC.has_value());
  Flag(b, "PES_extension_flag", h.extension.has_value());
  b.Int("PES_header_data_length", p[8]);  // as read
  if (h.PTS) b.Int("PTS", static_cast<int64_t>(h.PTS->value));
  if (h.DTS) b.Int("DTS", static_cast<int64_t>(h.DTS->value));
  if (h.ESCR) DumpPcr(b, "ESCR", *h.ESCR);
  if (h.ES_rate) b.Int("ES_rate", *h.ES_rate);
  if (h.trick_mode) {
    b.Int("trick_mode_control", h.trick_mode->trick_mode_control);
    b.Hex2("trick_mode_fields", h.trick_mode->fields);
  }
  if (h.additional_copy_info) b.Int("additional_copy_info", *h.additional_copy_info);
  if (h.previous_PES_packet_CRC) b.Hex4("previous_PES_packet_CRC", *h.previous_PES_packet_CRC);
  if (h.extension) {
    const PES_EXTENSION& x = *h.extension;
    SDumpNode& e = b.Block("PES_extension");
    Flag(e, "PES_private_data_flag", x.PES_private_data.has_value());
    Flag(e, "pack_header_field_flag", x.pack_header.has_value());
    Flag(e, "program_packet_sequence_counter_flag", x.sequence_counter.has_value());
    Flag(e, "P-STD_buffer_flag", x.P_STD_buffer.has_value());
    Flag(e, "PES_extension_flag_2", x.extension_field.has_value());
    if (x.PES_private_data) e.Text("PES_private_data", HexBytesText(x.PES_private_data->data(), 16));
    if (x.pack_header) e.Text("pack_header", HexBytesText(x.pack_header->data(), x.pack_header->size()));
    if (x.sequence_counter) {
      e.Int("program_packet_sequence_counter", x.sequence_counter->program_packet_sequence_counter);
      Flag(e, "MPEG1_MPEG2_identifier", x.sequence_counter->MPEG1_MPEG2_identifier);
      e.Int("original_stuff_length", x.sequence_counter->original_stuff_length);
    }
    if (x.P_STD_buffer) {
      Flag(e, "P-STD_buffer_scale", x.P_STD_buffer->P_STD_buffer_scale);
      e.Int("P-STD_buffer_size", x.P_STD_buffer->P_STD_buffer_size);
    }
    if (x.extension_field) {
      e.Int("PES_extension_field_length", static_cast<int64_t>(x.extension_field->size()));
      // On the disc streams the field is the stream_id_extension byte.
      if (x.extension_field->size() == 1)
        e.Hex2("stream_id_extension", (*x.extension_field)[0] & 0x7F);
      else
        e.Text("PES_extension_field", HexBytesText(x.extension_field->data(), x.extension_field->size()));
    }
  }
  b.Int("stuffing_bytes", h.stuffing);
}

std::string FormatIdentifier(const uint8_t* body, size_t len) {
  return len >= 4 ? PrintableText(std::string(reinterpret_cast<const char*>(body), 4)) : std::string();
}

// One descriptor of a loop: tag and length as read, then its fields where a
// parser models it for this place (`streamType` of the entry, or -1 in the
// program loop), otherwise its bytes.
void DumpDescriptor(SDumpNode& loop, int index, const uint8_t* d, size_t len, int streamType) {
  const uint8_t tag = d[0];
  const size_t total = 2 + len;
  SDumpNode& b = loop.Block("descriptor", index);
  b.Hex2("descriptor_tag", tag);
  b.Int("descriptor_length", static_cast<int64_t>(len));
  const uint8_t* body = d + 2;
  bool modelled = false;
  switch (tag) {
    case kTagRegistration: {
      b.Text("format_identifier", FormatIdentifier(body, len));
      HDMV_VIDEO_REGISTRATION v;
      HDMV_LPCM_REGISTRATION l;
      VC1_REGISTRATION c;
      if (streamType == 0x80 && Parse(d, total, l) == total) {
        b.Hex2("stream_coding_type", l.stream_coding_type);
        b.Int("audio_presentation_type", l.audio_presentation_type);
        b.Int("sampling_frequency", l.sampling_frequency);
        b.Int("bits_per_sample", l.bits_per_sample);
        modelled = true;
      } else if (streamType >= 0 && Parse(d, total, v) == total) {
        b.Hex2("stream_coding_type", v.stream_coding_type);
        b.Int("video_format", v.video_format);
        b.Int("frame_rate", v.frame_rate);
        b.Int("aspect_ratio", v.aspect_ratio);
        modelled = true;
      } else if (Parse(d, total, c) == total) {
        if (c.profile_level) b.Hex2("profile_level", *c.profile_level);
        if (c.alignment_type) b.Int("alignment_type", *c.alignment_type);
        if (c.buffer_size) {
          b.Int("buffer_size_exponent", c.buffer_size->buffer_size_exponent);
          b.Int("hrd_buffer", c.buffer_size->hrd_buffer);
        }
        modelled = true;
      } else {
        modelled = len == 4;  // the identifier alone ("HDMV", "AC-3")
      }
      break;
    }
    case kTagAvcVideo: {
      AVC_VIDEO_DESCRIPTOR a;
      if ((modelled = Parse(d, total, a) == total)) {
        b.Int("profile_idc", a.profile_idc);
        Flag(b, "constraint_set0_flag", a.constraint_set0_flag);
        Flag(b, "constraint_set1_flag", a.constraint_set1_flag);
        Flag(b, "constraint_set2_flag", a.constraint_set2_flag);
        b.Int("AVC_compatible_flags", a.AVC_compatible_flags);
        b.Int("level_idc", a.level_idc);
        Flag(b, "AVC_still_present", a.AVC_still_present);
        Flag(b, "AVC_24_hour_picture_flag", a.AVC_24_hour_picture_flag);
      }
      break;
    }
    case kTagAc3: {
      AC3_DESCRIPTOR a;
      if ((modelled = Parse(d, total, a) == total)) {
        b.Int("sample_rate_code", a.sample_rate_code);
        b.Int("bsid", a.bsid);
        b.Int("bit_rate_code", a.bit_rate_code);
        b.Int("surround_mode", a.surround_mode);
        b.Int("bsmod", a.bsmod);
        b.Int("num_channels", a.num_channels);
        Flag(b, "full_svc", a.full_svc);
        b.Int("langcod", a.langcod);
        if (a.num_channels == 0) b.Int("langcod2", a.langcod2);
        if (a.bsmod < 2) {
          b.Int("mainid", a.mainid);
          b.Int("priority", a.priority);
        } else {
          b.Hex2("asvcflags", a.asvcflags);
        }
        b.Int("textlen", static_cast<int64_t>(a.text.size()));
        Flag(b, "text_code", a.text_code);
        if (!a.text.empty()) b.Text("text", HexBytesText(a.text.data(), a.text.size()));
        Flag(b, "language_flag", a.language.has_value());
        Flag(b, "language_flag_2", a.language_2.has_value());
        if (a.language) b.Text("language", LanguageText(*a.language));
        if (a.language_2) b.Text("language_2", LanguageText(*a.language_2));
        if (!a.additional_info.empty())
          b.Text("additional_info", HexBytesText(a.additional_info.data(), a.additional_info.size()));
      }
      break;
    }
    case kTagCaption: {
      std::vector<CAPTION_SERVICE_INFO> services;
      if ((modelled = Parse(d, total, services) == total)) {
        b.Int("number_of_services", static_cast<int64_t>(services.size()));
        for (size_t i = 0; i < services.size(); ++i) {
          SDumpNode& s = b.Block("service", static_cast<int>(i));
          s.Text("language", LanguageText(services[i].language));
          Flag(s, "line21", services[i].line21);
          if (services[i].line21) Flag(s, "line21_field", services[i].line21_field);
          Flag(s, "easy_reader", services[i].easy_reader);
          Flag(s, "wide_aspect_ratio", services[i].wide_aspect_ratio);
        }
      }
      break;
    }
    case kTagLanguage: {
      ISO639_LANGUAGE_DESCRIPTOR l;
      if ((modelled = Parse(d, total, l) == total)) {
        b.Text("ISO_639_language_code", LanguageText(l.language));
        b.Int("audio_type", l.audio_type);
      }
      break;
    }
    case kTagCopyControl: {
      HDMV_COPY_CONTROL c;
      if ((modelled = Parse(d, total, c) == total)) {
        b.Hex4("CA_System_ID", c.CA_System_ID);
        b.Text("private_data", HexBytesText(c.private_data.data(), c.private_data.size()));
      }
      break;
    }
    case kTagAvcTimingHrd:
    default:
      break;
  }
  if (!modelled) b.Text("bytes", HexBytesText(body, len));
}

// A descriptor loop of `len` bytes at `p`; a descriptor that overruns the
// loop is shown as an error (the section's CRC checked, so the writer made
// it so).
void DumpDescriptorLoop(SDumpNode& n, const uint8_t* p, size_t len, int streamType) {
  size_t at = 0;
  for (int i = 0; at < len; ++i) {
    if (len - at < 2 || p[at + 1] > len - at - 2) {
      n.Text("error", "a descriptor runs past the end of its loop");
      return;
    }
    DumpDescriptor(n, i, p + at, p[at + 1], streamType);
    at += 2 + p[at + 1];
  }
}

void DumpSectionHead(SDumpNode& b, const uint8_t* s, size_t sectionLength) {
  b.Hex2("table_id", s[0]);
  Flag(b, "section_syntax_indicator", (s[1] & 0x80) != 0);
  b.Int("section_length", static_cast<int64_t>(sectionLength));
}

void DumpVersionAndNumbers(SDumpNode& b, const uint8_t* s) {
  b.Int("version_number", (s[5] >> 1) & 0x1F);
  Flag(b, "current_next_indicator", (s[5] & 1) != 0);
  b.Int("section_number", s[6]);
  b.Int("last_section_number", s[7]);
}

// A complete section of `n` bytes (3 + section_length) from PID `pid`.
void DumpSection(SDumpNode& n, uint16_t pid, const uint8_t* s, size_t size, uint64_t firstSpn, uint64_t spn) {
  const size_t sectionLength = size - 3;
  const uint8_t tableId = s[0];
  const char* label = tableId == 0x00 ? "PAT" : tableId == 0x02 ? "PMT" : tableId == 0x7F ? "SIT" : "section";
  SDumpNode& b = n.Block(label);
  if (firstSpn != spn) b.Int("begins_in_packet", static_cast<int64_t>(firstSpn));
  DumpSectionHead(b, s, sectionLength);
  const bool crcOk = size >= 7 && Crc32Mpeg2(s, size) == 0;
  auto crc = [&] {
    const uint8_t* c = s + size - 4;
    uint32_t v = uint32_t{c[0]} << 24 | uint32_t{c[1]} << 16 | uint32_t{c[2]} << 8 | c[3];
    b.Text("CRC_32", HexText(v, 8) + (crcOk ? "" : " (does not check)"));
    b.children.back().number = v;
  };
  if (size < 12) {
    b.Text("error", "the section is too short for its header and CRC_32");
    return;
  }
  if (!crcOk) {
    crc();
    b.Text("error", "the CRC_32 does not check; the section is not decoded");
    return;
  }
  if (tableId == 0x00 && pid == kPatPid) {
    PAT_SECTION pat;
    if (Parse(s, size, pat) == size) {
      b.Int("transport_stream_id", pat.transport_stream_id);
      DumpVersionAndNumbers(b, s);
      for (size_t i = 0; i < pat.programs.size(); ++i) {
        SDumpNode& e = b.Block("program", static_cast<int>(i));
        e.Int("program_number", pat.programs[i].program_number);
        e.Hex4(pat.programs[i].program_number == 0 ? "network_PID" : "program_map_PID", pat.programs[i].PID);
      }
      crc();
      return;
    }
  } else if (tableId == 0x02) {
    PMT_SECTION pmt;
    if (Parse(s, size, pmt) == size) {
      b.Int("program_number", pmt.program_number);
      DumpVersionAndNumbers(b, s);
      b.Hex4("PCR_PID", pmt.PCR_PID);
      // Lengths as read; the parser has checked that they add up.
      const size_t programInfoLength = (s[10] & 0x0F) << 8 | s[11];
      b.Int("program_info_length", static_cast<int64_t>(programInfoLength));
      DumpDescriptorLoop(b.Block("program_info"), s + 12, programInfoLength, -1);
      size_t at = 12 + programInfoLength;
      for (size_t i = 0; i < pmt.streams.size(); ++i) {
        const ESI& esi = pmt.streams[i];
        SDumpNode& e = b.Block("stream", static_cast<int>(i));
        const char* name = GetStreamTypeName(esi.stream_type);
        e.Text("stream_type", HexText(esi.stream_type, 2) + (name ? std::string(" ") + name : ""));
        e.children.back().number = esi.stream_type;
        e.Hex4("elementary_PID", esi.elementary_PID);
        const size_t esInfoLength = (s[at + 3] & 0x0F) << 8 | s[at + 4];
        e.Int("ES_info_length", static_cast<int64_t>(esInfoLength));
        DumpDescriptorLoop(e, s + at + 5, esInfoLength, esi.stream_type);
        at += 5 + esInfoLength;
      }
      crc();
      return;
    }
  } else if (tableId == 0x7F) {
    SIT_SECTION sit;
    if (Parse(s, size, sit) == size) {
      DumpVersionAndNumbers(b, s);
      b.Int("transmission_info_loop_length", (s[8] & 0x0F) << 8 | s[9]);
      SDumpNode& d = b.Block("partial_transport_stream_descriptor");
      d.Int("peak_rate", sit.peak_rate);
      d.Int("minimum_overall_smoothing_rate", sit.minimum_overall_smoothing_rate);
      d.Int("maximum_overall_smoothing_buffer", sit.maximum_overall_smoothing_buffer);
      for (size_t i = 0; i < sit.services.size(); ++i) {
        SDumpNode& e = b.Block("service", static_cast<int>(i));
        e.Int("service_id", sit.services[i].service_id);
        e.Int("running_status", sit.services[i].running_status);
        e.Int("service_loop_length", static_cast<int64_t>(sit.services[i].descriptors.size()));
        DumpDescriptorLoop(e, sit.services[i].descriptors.data(), sit.services[i].descriptors.size(), -1);
      }
      crc();
      return;
    }
  }
  b.Text("bytes", HexBytesText(s + 3, size - 7));
  crc();
  if (tableId != 0xFF) b.Text("error", "the section does not decode as its table");
}

}  // namespace

size_t CSourcePacketDump::CompleteSection(uint16_t pid, SDumpNode& out) {
  auto it = m_sections.find(pid);
  const std::vector<uint8_t>& s = it->second.bytes;
  if (s.size() < 3) return 0;
  const size_t size = 3 + ((s[1] & 0x0F) << 8 | s[2]);
  if (s.size() < size) return 0;
  DumpSection(out, pid, s.data(), size, it->second.firstSpn, m_spn);
  m_sections.erase(it);
  return size;
}

void CSourcePacketDump::AddSectionBytes(uint16_t pid, const uint8_t* p, size_t n, bool start, SDumpNode& out) {
  auto it = m_sections.find(pid);
  if (!start) {
    if (it == m_sections.end()) {
      out.Text("note", "continues a section that began before the dumped packets");
      return;
    }
    // What follows the end of the section in this packet is stuffing.
    it->second.bytes.insert(it->second.bytes.end(), p, p + n);
    CompleteSection(pid, out);
    return;
  }
  const size_t pointer = p[0];  // the header parser has checked it fits
  if (it != m_sections.end()) {
    it->second.bytes.insert(it->second.bytes.end(), p + 1, p + 1 + pointer);
    if (CompleteSection(pid, out) == 0) {
      out.Text("error", "the section begun in packet " + std::to_string(it->second.firstSpn) +
                            " ends before its section_length");
      m_sections.erase(it);
    }
  } else if (pointer > 0) {
    out.Text("note", std::to_string(pointer) + " bytes end a section that began before the dumped packets");
  }
  // Sections that begin in this packet, up to the stuffing.
  for (size_t at = 1 + pointer; at < n && p[at] != 0xFF;) {
    SPending& s = m_sections[pid];
    s.firstSpn = m_spn;
    s.bytes.assign(p + at, p + n);
    const size_t used = CompleteSection(pid, out);
    if (used == 0) return;
    at += used;
  }
}

bool CSourcePacketDump::Add(const uint8_t* p, uint64_t spn, SDumpNode& root, std::string& error) {
  m_spn = spn;
  const std::string where = "packet " + std::to_string(spn) + " (byte " + std::to_string(spn * kSourcePacketSize) + ")";
  if (p[4] != 0x47) {
    error = where + ": lost sync: the transport packet begins with " + HexText(p[4], 2) + ", not 0x47";
    return false;
  }
  const uint8_t* ts = p + 4;
  TS_PACKET_HEADER h;
  if (Parse(ts, kTsPacketSize, h) == 0) {
    const bool af = (ts[3] & 0x20) != 0;
    error = where + (af && ts[4] > kTsPayloadSize - 1
                         ? ": the adaptation field (length " + std::to_string(ts[4]) + ") runs past the end of the packet"
                         : std::string(": the header does not fit the packet (adaptation field or pointer_field)"));
    return false;
  }
  const size_t headerLength = 4 + (h.adaptation_field ? 1 + size_t{h.adaptation_field->adaptation_field_length} : 0);
  SDumpNode& pkt = root.Block("SourcePacket", static_cast<int>(std::min<uint64_t>(spn, INT32_MAX)));
  SDumpNode& extra = pkt.Block("TP_extra_header");
  extra.Int("copy_permission_indicator", p[0] >> 6);
  extra.Int("arrival_time_stamp", int64_t{p[0] & 0x3F} << 24 | int64_t{p[1]} << 16 | int64_t{p[2]} << 8 | p[3]);
  SDumpNode& th = pkt.Block("transport_packet");
  th.Hex2("sync_byte", h.sync_byte);
  Flag(th, "transport_error_indicator", h.transport_error_indicator);
  Flag(th, "payload_unit_start_indicator", h.payload_unit_start_indicator);
  Flag(th, "transport_priority", h.transport_priority);
  th.Hex4("PID", h.PID);
  th.Int("transport_scrambling_control", h.transport_scrambling_control);
  th.Int("adaptation_field_control", h.adaptation_field_control);
  th.Int("continuity_counter", h.continuity_counter);
  if (h.adaptation_field) DumpAdaptationField(th, *h.adaptation_field);
  const bool hasPayload = h.adaptation_field_control == 1 || h.adaptation_field_control == 3;
  const size_t payload = hasPayload ? kTsPacketSize - headerLength : 0;
  th.Int("payload_bytes", static_cast<int64_t>(payload));
  if (payload == 0) return true;
  const uint8_t* body = ts + headerLength;
  if (IsPsiPid(h.PID)) {
    if (h.payload_unit_start_indicator) th.Int("pointer_field", body[0]);
    AddSectionBytes(static_cast<uint16_t>(h.PID), body, payload, h.payload_unit_start_indicator, pkt);
  } else if (h.payload_unit_start_indicator && h.PID != kNullPid) {
    if (payload >= 3 && body[0] == 0 && body[1] == 0 && body[2] == 1)
      DumpPes(pkt, body, payload);
    else
      pkt.Text("note", "the payload unit does not begin with a PES start code");
  }
  return true;
}

void CSourcePacketDump::Finish(SDumpNode& root) const {
  for (const auto& [pid, s] : m_sections)
    root.Text("note", "the section on PID " + HexText(pid, 4) + " begun in packet " + std::to_string(s.firstSpn) +
                          " continues after the dumped packets");
}

bool DumpSourcePackets(File& f, uint64_t count, SDumpNode& root, std::string& error) {
  const int64_t length = f.Length();
  if (length < 0) {
    error = f.Error();
    return false;
  }
  const uint64_t whole = static_cast<uint64_t>(length) / kSourcePacketSize;
  const uint64_t partial = static_cast<uint64_t>(length) % kSourcePacketSize;
  const uint64_t n = std::min(count, whole);
  CSourcePacketDump dump;
  std::vector<uint8_t> buf(kSourcePacketSize * 64);
  if (!f.Seek(0)) {
    error = f.Error();
    return false;
  }
  for (uint64_t spn = 0; spn < n;) {
    const uint64_t k = std::min<uint64_t>(n - spn, buf.size() / kSourcePacketSize);
    if (!f.ReadExact(buf.data(), k * kSourcePacketSize)) {
      error = f.Error();
      return false;
    }
    for (uint64_t i = 0; i < k; ++i, ++spn)
      if (!dump.Add(buf.data() + i * kSourcePacketSize, spn, root, error)) return false;
  }
  dump.Finish(root);
  if (partial != 0) {
    error = "packet " + std::to_string(whole) + " (byte " + std::to_string(whole * kSourcePacketSize) +
            ") holds only " + std::to_string(partial) + " of its 192 bytes: the file is not whole source packets";
    return false;
  }
  return true;
}

}  // namespace zv
