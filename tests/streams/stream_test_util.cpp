#include "stream_test_util.h"

#include <bit>

namespace zvtest {

std::vector<uint8_t> BuildBits(const std::function<void(zv::BeWriter&)>& f) {
  zv::BeWriter m;
  f(m);
  std::vector<uint8_t> v(m.Size());
  zv::BeWriter w(v);
  f(w);
  return v;
}

void Ue(zv::BeWriter& w, uint32_t v) {
  uint64_t x = uint64_t{v} + 1;
  unsigned len = static_cast<unsigned>(std::bit_width(x));
  w.Bits(len - 1, 0);
  w.Bits(len, x);
}

void Se(zv::BeWriter& w, int32_t v) { Ue(w, v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * int64_t{v})); }

void RbspTrailing(zv::BeWriter& w) {
  w.Bits(1, 1);
  while (!w.Aligned()) w.Bits(1, 0);
}

std::vector<uint8_t> AnnexB(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out = {0, 0, 0, 1};
  unsigned zeros = 0;
  for (size_t i = 0; i < rbsp.size(); ++i) {
    uint8_t b = rbsp[i];
    if (zeros >= 2 && b <= 3 && i > 0) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

std::vector<uint8_t> Sps(const SpsSpec& s) {
  return AnnexB(BuildBits([&](zv::BeWriter& w) {
    w.Bits(8, 0x67);       // forbidden 0, nal_ref_idc 3, type 7
    w.Bits(8, s.profile);  // profile_idc
    w.Bits(8, 0);          // constraint flags
    w.Bits(8, s.level);    // level_idc
    Ue(w, 0);              // seq_parameter_set_id
    if (s.profile == 100 || s.profile == 110 || s.profile == 122 || s.profile == 244) {
      Ue(w, s.chroma);  // chroma_format_idc
      if (s.chroma == 3) w.Bits(1, 0);  // separate_colour_plane_flag
      Ue(w, 0);         // bit_depth_luma_minus8
      Ue(w, 0);         // bit_depth_chroma_minus8
      w.Bits(1, 0);     // qpprime_y_zero_transform_bypass_flag
      w.Bits(1, 0);     // seq_scaling_matrix_present_flag
    }
    Ue(w, 0);                  // log2_max_frame_num_minus4
    Ue(w, 0);                  // pic_order_cnt_type
    Ue(w, 4);                  // log2_max_pic_order_cnt_lsb_minus4 (8 bits)
    Ue(w, 4);                  // max_num_ref_frames
    w.Bits(1, s.gaps);         // gaps_in_frame_num_value_allowed_flag
    Ue(w, s.widthMbs - 1);     // pic_width_in_mbs_minus1
    Ue(w, s.heightMapUnits - 1);  // pic_height_in_map_units_minus1
    w.Bits(1, s.frameMbsOnly);    // frame_mbs_only_flag
    if (!s.frameMbsOnly) w.Bits(1, 0);  // mb_adaptive_frame_field_flag
    w.Bits(1, 1);                 // direct_8x8_inference_flag
    w.Bits(1, s.cropBottom != 0);  // frame_cropping_flag
    if (s.cropBottom) {
      Ue(w, 0);             // left
      Ue(w, 0);             // right
      Ue(w, 0);             // top
      Ue(w, s.cropBottom);  // bottom
    }
    w.Bits(1, s.vui);  // vui_parameters_present_flag
    if (s.vui) {
      w.Bits(1, s.aspectInfo);  // aspect_ratio_info_present_flag
      if (s.aspectInfo) w.Bits(8, s.aspectIdc);
      w.Bits(1, 0);            // overscan_info_present_flag
      w.Bits(1, 0);            // video_signal_type_present_flag
      w.Bits(1, 0);            // chroma_loc_info_present_flag
      w.Bits(1, s.timing);     // timing_info_present_flag
      if (s.timing) {
        w.Bits(32, s.unitsInTick);
        w.Bits(32, s.timeScale);
        w.Bits(1, s.fixedFrameRate);
      }
      w.Bits(1, s.nalHrd);  // nal_hrd_parameters_present_flag
      if (s.nalHrd) {
        Ue(w, 0);                 // cpb_cnt_minus1
        w.Bits(4, 4);             // bit_rate_scale
        w.Bits(4, 4);             // cpb_size_scale
        Ue(w, s.bitRateMinus1);   // bit_rate_value_minus1
        Ue(w, s.cpbSizeMinus1);   // cpb_size_value_minus1
        w.Bits(1, 0);             // cbr_flag
        w.Bits(5, 23);            // initial_cpb_removal_delay_length_minus1
        w.Bits(5, 23);            // cpb_removal_delay_length_minus1
        w.Bits(5, 23);            // dpb_output_delay_length_minus1
        w.Bits(5, 24);            // time_offset_length
      }
      w.Bits(1, 0);  // vcl_hrd_parameters_present_flag
      if (s.nalHrd) w.Bits(1, s.lowDelay);  // low_delay_hrd_flag
      w.Bits(1, s.picStructPresent);       // pic_struct_present_flag
      w.Bits(1, 0);                        // bitstream_restriction_flag
    }
    RbspTrailing(w);
  }));
}

std::vector<uint8_t> Pps() {
  return AnnexB(BuildBits([](zv::BeWriter& w) {
    w.Bits(8, 0x68);  // nal_ref_idc 3, type 8
    Ue(w, 0);         // pic_parameter_set_id
    Ue(w, 0);         // seq_parameter_set_id
    w.Bits(1, 1);     // entropy_coding_mode_flag
    w.Bits(1, 0);     // bottom_field_pic_order_in_frame_present_flag
    Ue(w, 0);         // num_slice_groups_minus1
    Ue(w, 0);         // num_ref_idx_l0_default_active_minus1
    Ue(w, 0);         // num_ref_idx_l1_default_active_minus1
    w.Bits(1, 0);     // weighted_pred_flag
    w.Bits(2, 0);     // weighted_bipred_idc
    Se(w, 0);         // pic_init_qp_minus26
    Se(w, 0);         // pic_init_qs_minus26
    Se(w, 0);         // chroma_qp_index_offset
    w.Bits(1, 1);     // deblocking_filter_control_present_flag
    w.Bits(1, 0);     // constrained_intra_pred_flag
    w.Bits(1, 0);     // redundant_pic_cnt_present_flag
    RbspTrailing(w);
  }));
}

std::vector<uint8_t> Aud() {
  return AnnexB(BuildBits([](zv::BeWriter& w) {
    w.Bits(8, 0x09);  // type 9
    w.Bits(3, 7);     // primary_pic_type
    RbspTrailing(w);
  }));
}

std::vector<uint8_t> PicTimingSei(uint32_t cpbRemovalDelay, int picStruct) {
  auto payload = BuildBits([&](zv::BeWriter& w) {
    w.Bits(24, cpbRemovalDelay);  // cpb_removal_delay
    w.Bits(24, 0);                // dpb_output_delay
    if (picStruct >= 0) {
      w.Bits(4, static_cast<unsigned>(picStruct));  // pic_struct
      w.Bits(1, 0);  // clock_timestamp_flag (one clock for 0..2; more for others, all 0)
      if (picStruct >= 3) w.Bits(1, 0);
      if (picStruct >= 5) w.Bits(1, 0);
    }
    while (!w.Aligned()) w.Bits(1, 0);
  });
  return AnnexB(BuildBits([&](zv::BeWriter& w) {
    w.Bits(8, 0x06);            // type 6
    w.Bits(8, 1);               // payloadType: pic_timing
    w.Bits(8, payload.size());  // payloadSize
    w.Bytes(payload.data(), payload.size());
    w.Bits(8, 0x80);  // rbsp_trailing_bits
  }));
}

std::vector<uint8_t> Slice(const SliceSpec& s) {
  return AnnexB(BuildBits([&](zv::BeWriter& w) {
    w.Bits(1, 0);              // forbidden_zero_bit
    w.Bits(2, s.refIdc);       // nal_ref_idc
    w.Bits(5, s.nalType);      // nal_unit_type
    Ue(w, 0);                  // first_mb_in_slice
    Ue(w, s.sliceType + 5);    // slice_type (all slices of the picture alike)
    Ue(w, s.ppsId);            // pic_parameter_set_id
    w.Bits(4, s.frameNum);     // frame_num (log2_max_frame_num 4)
    if (!s.frameMbsOnly) {
      w.Bits(1, s.field);  // field_pic_flag
      if (s.field) w.Bits(1, s.bottom);
    }
    if (s.nalType == 5) Ue(w, 0);  // idr_pic_id
    w.Bits(8, s.pocLsb);           // pic_order_cnt_lsb
    if (s.sliceType == 1) w.Bits(1, 1);  // direct_spatial_mv_pred_flag
    RbspTrailing(w);
    w.Fill(0xA5, s.dataBytes);  // stand-in for slice data
  }));
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) { out.insert(out.end(), part.begin(), part.end()); }

std::vector<zv::AUI> AllUnits(zv::SStreamContext& ctx) {
  std::vector<zv::AUI> v;
  for (int64_t i = 0; i < ctx.header.auCount; ++i) {
    auto au = zv::GetAu(i, ctx);
    if (!au) break;
    v.push_back(*au);
  }
  return v;
}

int OpenWhole(const std::string& path, zv::SStreamContext& ctx, zv::IPrompt* prompt, const zv::Progress& progress) {
  zv::SSourceParams src;
  src.path = path;
  return zv::OpenStream(src, ctx, progress, prompt);
}

std::vector<uint8_t> PaffStream(std::vector<size_t>* starts) {
  SpsSpec spec;
  spec.frameMbsOnly = false;
  spec.heightMapUnits = 34;  // 2 x 34 x 16 = 1088
  spec.cropBottom = 2;       // 1088 - 4 x 2 = 1080
  spec.unitsInTick = 1001;
  spec.timeScale = 60000;    // 29.97 frames
  std::vector<uint8_t> bytes = Sps(spec);
  Append(bytes, Pps());
  struct Pic {
    unsigned nalType, sliceType;
    uint32_t frameNum;
    bool field, bottom;
    uint32_t poc;
  };
  // Both GOPs hold an odd number of pictures. The lone top field has
  // frame_num 2; the field after it is the next GOP's IDR.
  const Pic pics[] = {{5, 2, 0, true, false, 0}, {1, 0, 0, true, true, 1},  {1, 0, 1, true, false, 2},
                      {1, 0, 1, true, true, 3},  {1, 0, 2, true, false, 4}, {5, 2, 0, true, false, 0},
                      {1, 0, 0, true, true, 1},  {1, 0, 1, false, false, 2}, {1, 0, 2, true, false, 4},
                      {1, 0, 2, true, true, 5}};
  for (const Pic& p : pics) {
    if (starts) starts->push_back(starts->empty() ? 0 : bytes.size());
    Append(bytes, Aud());
    SliceSpec s;
    s.nalType = p.nalType;
    s.sliceType = p.sliceType;
    s.frameNum = p.frameNum;
    s.frameMbsOnly = false;
    s.field = p.field;
    s.bottom = p.bottom;
    s.pocLsb = p.poc;
    s.dataBytes = 300;
    Append(bytes, Slice(s));
  }
  return bytes;
}

}  // namespace zvtest
