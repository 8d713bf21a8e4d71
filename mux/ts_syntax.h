// Transport packet syntax: the 4-byte header, the adaptation field with PCR,
// PES headers, the disc's PID layout and the stream coding type names.
//
// Every record has a writer and a parser:
//   size_t Write(const REC&, uint8_t* buf, size_t cap)  - buf == nullptr
//       measures; otherwise writes and returns the bytes written. A buffer
//       that is too small is a caller bug and throws std::out_of_range.
//   size_t Parse(const uint8_t* p, size_t n, REC&)      - bytes consumed,
//       0 when the bytes are truncated or malformed (the record is then
//       unspecified).
// Length fields (adaptation_field_length, PES_header_data_length) are
// derived from the record's contents by the writers; flags are derived from
// which optional parts are present, so a record cannot contradict itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/bytes.h"
#include "streams/coding_type.h"

namespace zv {

// PIDs and identifiers of a disc clip.
inline constexpr uint16_t kPatPid = 0x0000;
inline constexpr uint16_t kSitPid = 0x001F;
inline constexpr uint16_t kPmtPid = 0x0100;
inline constexpr uint16_t kPcrPid = 0x1001;
inline constexpr uint16_t kNullPid = 0x1FFF;
inline constexpr uint16_t kProgramNumber = 1;
inline constexpr uint16_t kTransportStreamId = 0;

inline constexpr size_t kTsPacketSize = 188;
inline constexpr size_t kTsPayloadSize = 184;

// True for the PID ranges the disc reserves for elementary streams.
bool IsElementaryPid(uint32_t pid);

struct PCR_FIELD {
  uint64_t base = 0;       // 33 bits, 90 kHz
  uint16_t extension = 0;  // 9 bits, 27 MHz remainder (0..299)
  bool operator==(const PCR_FIELD&) const = default;
};

struct TIME_STAMP {
  uint8_t prefix = 0;  // 4 bits: 0010 PTS alone, 0011 PTS before DTS, 0001 DTS
  uint64_t value = 0;  // 33 bits
  bool operator==(const TIME_STAMP&) const = default;
};

// Sub-records live at namespace scope: nested ones with member initializers
// are not default-constructible inside their enclosing class for some
// compilers, which breaks std::optional of them.
struct AF_SEAMLESS_SPLICE {
  uint8_t splice_type = 0;   // 4 bits
  uint64_t DTS_next_AU = 0;  // 33 bits
  bool operator==(const AF_SEAMLESS_SPLICE&) const = default;
};

struct AF_EXTENSION {
  std::optional<uint16_t> ltw;  // bit 15 ltw_valid_flag, bits 14..0 ltw_offset
  std::optional<uint32_t> piecewise_rate;  // 22 bits
  std::optional<AF_SEAMLESS_SPLICE> seamless_splice;
  uint8_t reserved_bytes = 0;  // trailing bytes inside the extension, written as 0xFF
  bool operator==(const AF_EXTENSION&) const = default;
};

struct ADAPTATION_FIELD {
  // 0 means the one-byte empty field (used to stuff a packet by one byte);
  // any other value makes the writer derive the length from the contents.
  uint8_t adaptation_field_length = 1;
  bool discontinuity_indicator = false;
  bool random_access_indicator = false;
  bool elementary_stream_priority_indicator = false;
  std::optional<PCR_FIELD> PCR;
  std::optional<PCR_FIELD> OPCR;
  std::optional<uint8_t> splice_countdown;
  std::optional<std::vector<uint8_t>> private_data;
  std::optional<AF_EXTENSION> extension;
  uint32_t stuffing = 0;  // 0xFF bytes appended
  bool operator==(const ADAPTATION_FIELD&) const = default;
};

struct TS_PACKET_HEADER {
  uint8_t sync_byte = 0x47;
  bool transport_error_indicator = false;
  bool payload_unit_start_indicator = false;
  bool transport_priority = false;
  uint32_t PID = kNullPid;  // 13 bits
  uint8_t transport_scrambling_control = 0;  // 2 bits
  uint8_t adaptation_field_control = 1;      // 2 bits: 1 payload, 2 adaptation, 3 both
  uint8_t continuity_counter = 0;            // 4 bits
  std::optional<ADAPTATION_FIELD> adaptation_field;
  bool operator==(const TS_PACKET_HEADER&) const = default;
};

struct PES_SEQUENCE_COUNTER {
  uint8_t program_packet_sequence_counter = 0;  // 7 bits
  bool MPEG1_MPEG2_identifier = false;
  uint8_t original_stuff_length = 0;  // 6 bits
  bool operator==(const PES_SEQUENCE_COUNTER&) const = default;
};

struct PES_P_STD_BUFFER {
  bool P_STD_buffer_scale = false;
  uint16_t P_STD_buffer_size = 0;  // 13 bits
  bool operator==(const PES_P_STD_BUFFER&) const = default;
};

struct PES_TRICK_MODE {
  uint8_t trick_mode_control = 0;  // 3 bits
  uint8_t fields = 0;  // the 5 bits that follow, kept whole (their layout depends on the control)
  bool operator==(const PES_TRICK_MODE&) const = default;
};

struct PES_EXTENSION {
  std::optional<std::array<uint8_t, 16>> PES_private_data;
  std::optional<std::vector<uint8_t>> pack_header;  // pack_field_length + bytes
  std::optional<PES_SEQUENCE_COUNTER> sequence_counter;
  std::optional<PES_P_STD_BUFFER> P_STD_buffer;
  // PES_extension_field bytes (up to 127); the disc streams put their
  // stream_id_extension here.
  std::optional<std::vector<uint8_t>> extension_field;
  bool operator==(const PES_EXTENSION&) const = default;
};

struct PES_HEADER {
  uint8_t stream_id = 0xE0;
  uint16_t PES_packet_length = 0;  // set by the packetizer
  uint8_t PES_scrambling_control = 0;  // 2 bits
  bool PES_priority = false;
  bool data_alignment_indicator = true;
  bool copyright = false;
  bool original_or_copy = false;
  std::optional<TIME_STAMP> PTS;
  std::optional<TIME_STAMP> DTS;  // only together with PTS
  std::optional<PCR_FIELD> ESCR;
  std::optional<uint32_t> ES_rate;  // 22 bits
  std::optional<PES_TRICK_MODE> trick_mode;
  std::optional<uint8_t> additional_copy_info;  // 7 bits
  std::optional<uint16_t> previous_PES_packet_CRC;
  std::optional<PES_EXTENSION> extension;
  uint32_t stuffing = 0;  // 0xFF bytes inside the header
  // Data-stream-alignment record written after the header (not counted in
  // PES_header_data_length) when data_alignment_indicator is set. Parsing
  // cannot tell it from payload, so the parser never fills it.
  std::optional<uint8_t> alignment_type;
  bool operator==(const PES_HEADER&) const = default;
};

// Stream ids whose PES packets carry no optional header (padding, private
// stream 2 and friends).
bool PesHasNoOptionalHeader(uint8_t streamId);

// Bytes of the transport header of the 188-byte packet at `ts` (adaptation
// field included), read straight from the bytes for per-packet loops; 0
// when the adaptation field runs past the packet.
inline size_t TsHeaderBytes(const uint8_t* ts) {
  size_t h = 4;
  if (ts[3] & 0x20) h += 1 + size_t{ts[4]};
  return h <= 188 ? h : 0;
}

// Sets PTS and DTS with the prefixes their combination calls for.
void SetTimeStamps(PES_HEADER& h, std::optional<uint64_t> pts, std::optional<uint64_t> dts = std::nullopt);

struct PAT_SECTION;
struct SIT_SECTION;

// What the header writer appends after the header for the PIDs that carry it:
// pointer_field and PAT on PID 0x0000, pointer_field and SIT on PID 0x001F,
// the PES header on an elementary PID with payload_unit_start_indicator.
struct TS_PAYLOAD_START {
  const PAT_SECTION* pat = nullptr;
  const SIT_SECTION* sit = nullptr;
  const PES_HEADER* pes = nullptr;
};

size_t Write(const PCR_FIELD& r, uint8_t* buf, size_t cap);
size_t Write(const TIME_STAMP& r, uint8_t* buf, size_t cap);
size_t Write(const ADAPTATION_FIELD& r, uint8_t* buf, size_t cap);
size_t Write(const PES_EXTENSION& r, uint8_t* buf, size_t cap);
size_t Write(const PES_HEADER& r, uint8_t* buf, size_t cap);
size_t Write(const TS_PACKET_HEADER& r, uint8_t* buf, size_t cap, const TS_PAYLOAD_START& follow = {});

size_t Parse(const uint8_t* p, size_t n, PCR_FIELD& r);
size_t Parse(const uint8_t* p, size_t n, TIME_STAMP& r);
size_t Parse(const uint8_t* p, size_t n, ADAPTATION_FIELD& r);
size_t Parse(const uint8_t* p, size_t n, PES_EXTENSION& r);
size_t Parse(const uint8_t* p, size_t n, PES_HEADER& r);
// Returns the header length: 4, plus the adaptation field, plus - on the PSI
// PIDs (PAT, SIT, PMT) with payload_unit_start_indicator - the pointer_field
// and the bytes it skips. 0 on lost sync or truncation.
size_t Parse(const uint8_t* p, size_t n, TS_PACKET_HEADER& r);

// Makes the packet's payload n bytes shorter with an adaptation field of n
// bytes: n = 1 is the empty field, n = 2 a flags byte, more adds 0xFF
// stuffing. Replaces any adaptation field the header had.
void StuffPacket(TS_PACKET_HEADER& h, int n);

// Section-into-packets: writes one 188-byte packet's header (and on the
// first packet the pointer_field) followed by as many section bytes as fit;
// returns the section bytes placed. Bytes after the section in the last
// packet are left as the buffer holds them. `out` holds at least 188 bytes.
size_t WriteSectionPacket(const TS_PACKET_HEADER& h, const uint8_t* section, size_t remaining, bool first,
                          uint8_t* out);
// Packets needed to carry a section of `length` bytes.
size_t SectionPacketCount(size_t length);

// Internal building blocks shared by the PSI writers and parsers.
namespace ts_detail {
void Put(BeWriter& w, const PCR_FIELD& r);
void Put(BeWriter& w, const TIME_STAMP& r);
void Put(BeWriter& w, const ADAPTATION_FIELD& r);
void Put(BeWriter& w, const PES_EXTENSION& r);
void Put(BeWriter& w, const PES_HEADER& r);
void Get(BeReader& rd, PCR_FIELD& r);
void Get(BeReader& rd, TIME_STAMP& r);
void Get(BeReader& rd, ADAPTATION_FIELD& r);
void Get(BeReader& rd, PES_EXTENSION& r);
void Get(BeReader& rd, PES_HEADER& r);

// Runs `body` on a measuring writer and returns the size.
template <class F>
size_t Measure(F&& body) {
  BeWriter m;
  body(m);
  return m.Size();
}

// Writes with `put` into buf (or measures), translating into the common
// Write() contract.
template <class F>
size_t WriteWith(uint8_t* buf, size_t cap, F&& put) {
  if (!buf) return Measure(put);
  BeWriter w(buf, cap);
  put(w);
  return w.Size();
}

// Parses with `get`; FormatError and malformed input become 0.
template <class F>
size_t ParseWith(const uint8_t* p, size_t n, F&& get) {
  if (!p) return 0;
  try {
    BeReader rd(p, n);
    get(rd);
    return rd.Pos();
  } catch (const FormatError&) {
    return 0;
  }
}
}  // namespace ts_detail

}  // namespace zv
