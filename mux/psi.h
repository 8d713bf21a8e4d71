// Program-specific information of a disc clip: PAT, PMT with its ESI
// entries and descriptors, SIT, and the MPEG-2 section CRC.
//
// Same Write/Parse contract as mux/ts_syntax.h. Section writers derive
// section_length, program_info_length and ES_info_length from the contents
// and append the CRC_32; section parsers reject a section whose CRC does not
// check, so a corrupt table never reads as a good one. Default-constructed
// records hold the disc clip's values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "mux/ts_syntax.h"
#include "platform/language_code.h"

namespace zv {

// MPEG-2 CRC-32: generator 0x04C11DB7, initial value 0xFFFFFFFF, no
// reflection, no final inversion. A section followed by its CRC checks to 0.
uint32_t Crc32Mpeg2(const uint8_t* p, size_t n, uint32_t crc = 0xFFFFFFFF);

// Descriptor tags of the disc's PSI.
inline constexpr uint8_t kTagRegistration = 0x05;
inline constexpr uint8_t kTagLanguage = 0x0A;
inline constexpr uint8_t kTagAvcVideo = 0x28;
inline constexpr uint8_t kTagAvcTimingHrd = 0x2A;
inline constexpr uint8_t kTagAc3 = 0x81;
inline constexpr uint8_t kTagCaption = 0x86;
inline constexpr uint8_t kTagCopyControl = 0x88;
inline constexpr uint8_t kTagPartialTs = 0x63;

// A descriptor kept as bytes: what a parser meets but does not model.
struct RAW_DESCRIPTOR {
  uint8_t tag = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const RAW_DESCRIPTOR&) const = default;
};

// Tag 0x05 "HDMV", 8 bytes, on video entries.
struct HDMV_VIDEO_REGISTRATION {
  uint8_t stream_coding_type = 0;
  uint8_t video_format = 0;  // 4 bits
  uint8_t frame_rate = 0;    // 4 bits
  uint8_t aspect_ratio = 0;  // 4 bits
  bool operator==(const HDMV_VIDEO_REGISTRATION&) const = default;
};

// Tag 0x05 "HDMV", 8 bytes, on LPCM entries.
struct HDMV_LPCM_REGISTRATION {
  uint8_t stream_coding_type = kSctLpcm;
  uint8_t audio_presentation_type = 0;  // 4 bits
  uint8_t sampling_frequency = 0;       // 4 bits
  uint8_t bits_per_sample = 0;          // 2 bits
  bool operator==(const HDMV_LPCM_REGISTRATION&) const = default;
};

struct VC1_BUFFER_SIZE {
  uint8_t buffer_size_exponent = 0;  // 4 bits
  uint16_t hrd_buffer = 0;
  bool operator==(const VC1_BUFFER_SIZE&) const = default;
};

// Tag 0x05 "VC-1" with its sub-descriptors (tags 1, 2 and 3).
struct VC1_REGISTRATION {
  std::optional<uint8_t> profile_level;
  std::optional<uint8_t> alignment_type;
  std::optional<VC1_BUFFER_SIZE> buffer_size;
  bool operator==(const VC1_REGISTRATION&) const = default;
};

// Tag 0x28.
struct AVC_VIDEO_DESCRIPTOR {
  uint8_t profile_idc = 0;
  bool constraint_set0_flag = false;
  bool constraint_set1_flag = false;
  bool constraint_set2_flag = false;
  uint8_t AVC_compatible_flags = 0;  // 5 bits
  uint8_t level_idc = 0;
  bool AVC_still_present = false;
  bool AVC_24_hour_picture_flag = false;
  bool operator==(const AVC_VIDEO_DESCRIPTOR&) const = default;
};

// Tag 0x81, ATSC A/52 Annex A. Named apart from the AC-3 parser's stream
// record, which fills it for the PMT.
struct AC3_DESCRIPTOR {
  uint8_t sample_rate_code = 0;  // 3 bits
  uint8_t bsid = 0;              // 5 bits
  uint8_t bit_rate_code = 0;     // 6 bits
  uint8_t surround_mode = 0;     // 2 bits
  uint8_t bsmod = 0;             // 3 bits
  uint8_t num_channels = 0;      // 4 bits
  bool full_svc = false;
  uint8_t langcod = 0;
  uint8_t langcod2 = 0;   // written only when num_channels is 0
  uint8_t mainid = 0;     // 3 bits, written when bsmod < 2
  uint8_t priority = 0;   // 2 bits, written when bsmod < 2
  uint8_t asvcflags = 0;  // written when bsmod >= 2
  bool text_code = false;
  std::vector<uint8_t> text;  // up to 127 bytes
  std::optional<LanguageCode> language;
  std::optional<LanguageCode> language_2;
  std::vector<uint8_t> additional_info;
  bool operator==(const AC3_DESCRIPTOR&) const = default;
};

// One service of the caption service descriptor (tag 0x86).
struct CAPTION_SERVICE_INFO {
  LanguageCode language{};
  bool line21 = false;  // selects the line-21 form of the service byte
  bool line21_field = false;
  bool easy_reader = false;
  bool wide_aspect_ratio = false;
  bool operator==(const CAPTION_SERVICE_INFO&) const = default;
};

// Tag 0x0A.
struct ISO639_LANGUAGE_DESCRIPTOR {
  LanguageCode language{};
  uint8_t audio_type = 0;
  bool operator==(const ISO639_LANGUAGE_DESCRIPTOR&) const = default;
};

// Program descriptor tag 0x88.
struct HDMV_COPY_CONTROL {
  uint16_t CA_System_ID = 0x0FFF;
  std::array<uint8_t, 2> private_data{0xFF, 0xFC};
  bool operator==(const HDMV_COPY_CONTROL&) const = default;
};

// One elementary stream of the PMT. The writer emits, by stream_type, only
// the descriptors that type carries (see WriteEsiDescriptors in psi.cpp),
// then other_descriptors, then the language.
struct ESI {
  uint8_t stream_type = 0;
  uint16_t elementary_PID = 0;  // 13 bits
  std::optional<HDMV_VIDEO_REGISTRATION> video_registration;  // 0x02, 0x1B
  std::optional<VC1_REGISTRATION> vc1_registration;           // 0xEA
  std::optional<HDMV_LPCM_REGISTRATION> lpcm_registration;    // 0x80
  bool ac3_registration = false;                              // 0x81, 0x83, 0x84, 0xA1
  std::optional<AC3_DESCRIPTOR> ac3_audio;                    // 0x81, 0x83, 0x84, 0xA1
  std::optional<AVC_VIDEO_DESCRIPTOR> avc_video;              // 0x1B
  std::optional<std::vector<uint8_t>> avc_timing_hrd;         // 0x1B, tag 0x2A body as held
  std::optional<std::vector<CAPTION_SERVICE_INFO>> caption_services;  // 0x02, 0x1B, 0xEA
  std::vector<uint8_t> other_descriptors;  // whole descriptors kept as read
  std::optional<ISO639_LANGUAGE_DESCRIPTOR> language;
  bool operator==(const ESI&) const = default;
};

struct PI {
  uint16_t program_number = 0;
  uint16_t PID = 0;  // 13 bits
  bool operator==(const PI&) const = default;
};

struct PAT_SECTION {
  uint8_t table_id = 0x00;
  uint16_t transport_stream_id = kTransportStreamId;
  uint8_t version_number = 0;  // 5 bits
  bool current_next_indicator = true;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
  std::vector<PI> programs{{0, kSitPid}, {kProgramNumber, kPmtPid}};
  bool operator==(const PAT_SECTION&) const = default;
};

struct PMT_SECTION {
  uint8_t table_id = 0x02;
  uint16_t program_number = kProgramNumber;
  uint8_t version_number = 0;
  bool current_next_indicator = true;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
  uint16_t PCR_PID = kPcrPid;
  bool hdmv_registration = true;  // 0x05 "HDMV"
  std::optional<HDMV_COPY_CONTROL> copy_control = HDMV_COPY_CONTROL{};
  // Further program descriptors, written as held (the multiplexer adds its
  // extra descriptor here only when it has bytes).
  std::vector<RAW_DESCRIPTOR> extra_descriptors;
  std::vector<ESI> streams;
  bool operator==(const PMT_SECTION&) const = default;
};

struct SIT_SERVICE {
  uint16_t service_id = kProgramNumber;
  uint8_t running_status = 0;  // 3 bits
  std::vector<uint8_t> descriptors;
  bool operator==(const SIT_SERVICE&) const = default;
};

struct SIT_SECTION {
  uint8_t table_id = 0x7F;
  uint8_t version_number = 0;
  bool current_next_indicator = true;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
  // Partial transport stream descriptor (tag 0x63).
  uint32_t peak_rate = 120000;                          // 22 bits, 400 bit/s units
  uint32_t minimum_overall_smoothing_rate = 0x3FFFFF;   // 22 bits, all ones: undefined
  uint16_t maximum_overall_smoothing_buffer = 0x3FFF;   // 14 bits, all ones: undefined
  std::vector<SIT_SERVICE> services{SIT_SERVICE{}};
  bool operator==(const SIT_SECTION&) const = default;
};

// Longest section_length a PSI section may have.
inline constexpr size_t kMaxSectionLength = 1021;

// Section writers throw std::length_error when the contents exceed
// kMaxSectionLength; the caller bounds the number of streams.
size_t Write(const PAT_SECTION& r, uint8_t* buf, size_t cap);
size_t Write(const PMT_SECTION& r, uint8_t* buf, size_t cap);
size_t Write(const SIT_SECTION& r, uint8_t* buf, size_t cap);
size_t Write(const ESI& r, uint8_t* buf, size_t cap);
// Single descriptors, tag and length included.
size_t Write(const HDMV_VIDEO_REGISTRATION& r, uint8_t* buf, size_t cap);
size_t Write(const HDMV_LPCM_REGISTRATION& r, uint8_t* buf, size_t cap);
size_t Write(const VC1_REGISTRATION& r, uint8_t* buf, size_t cap);
size_t Write(const AVC_VIDEO_DESCRIPTOR& r, uint8_t* buf, size_t cap);
size_t Write(const AC3_DESCRIPTOR& r, uint8_t* buf, size_t cap);
size_t Write(const std::vector<CAPTION_SERVICE_INFO>& r, uint8_t* buf, size_t cap);
size_t Write(const ISO639_LANGUAGE_DESCRIPTOR& r, uint8_t* buf, size_t cap);
size_t Write(const HDMV_COPY_CONTROL& r, uint8_t* buf, size_t cap);

size_t Parse(const uint8_t* p, size_t n, PAT_SECTION& r);
size_t Parse(const uint8_t* p, size_t n, PMT_SECTION& r);
size_t Parse(const uint8_t* p, size_t n, SIT_SECTION& r);
size_t Parse(const uint8_t* p, size_t n, ESI& r);
size_t Parse(const uint8_t* p, size_t n, HDMV_VIDEO_REGISTRATION& r);
size_t Parse(const uint8_t* p, size_t n, HDMV_LPCM_REGISTRATION& r);
size_t Parse(const uint8_t* p, size_t n, VC1_REGISTRATION& r);
size_t Parse(const uint8_t* p, size_t n, AVC_VIDEO_DESCRIPTOR& r);
size_t Parse(const uint8_t* p, size_t n, AC3_DESCRIPTOR& r);
size_t Parse(const uint8_t* p, size_t n, std::vector<CAPTION_SERVICE_INFO>& r);
size_t Parse(const uint8_t* p, size_t n, ISO639_LANGUAGE_DESCRIPTOR& r);
size_t Parse(const uint8_t* p, size_t n, HDMV_COPY_CONTROL& r);

}  // namespace zv
