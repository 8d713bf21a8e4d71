#include "video_builders.h"

#include "stream_test_util.h"

namespace zvtest {

namespace {
void StartCode(std::vector<uint8_t>& out, uint8_t code) { out.insert(out.end(), {0, 0, 1, code}); }

// Filler bytes that hold no zero byte, so no start code appears in them.
void Filler(std::vector<uint8_t>& out, size_t n) {
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(0x55 + (i % 7)));
}
}  // namespace

// ---------------------------------------------------------------- MPEG-2

std::vector<uint8_t> M2vSequenceHeader(const M2vSequence& s) {
  std::vector<uint8_t> out;
  StartCode(out, 0xB3);
  Append(out, BuildBits([&](zv::BeWriter& w) {
           w.Bits(12, s.width & 0xFFF);
           w.Bits(12, s.height & 0xFFF);
           w.Bits(4, s.aspect);
           w.Bits(4, s.rateCode);
           w.Bits(18, s.bitRate & 0x3FFFF);
           w.Bits(1, 1);    // marker
           w.Bits(10, 597);  // vbv_buffer_size: 9,781,248 bits
           w.Bits(3, 0);    // constrained_parameters, no quantiser matrices
         }));
  if (!s.extension) return out;
  StartCode(out, 0xB5);
  Append(out, BuildBits([&](zv::BeWriter& w) {
           w.Bits(4, 1);  // sequence extension
           w.Bits(8, s.profileLevel);
           w.Bits(1, s.progressive);
           w.Bits(2, s.chroma);
           w.Bits(4, 0);  // size extensions
           w.Bits(12, (s.bitRate >> 18) & 0xFFF);
           w.Bits(1, 1);  // marker
           w.Bits(8, 0);  // vbv_buffer_size_extension
           w.Bits(1, 0);  // low_delay
           w.Bits(7, 0);  // frame rate extensions
         }));
  return out;
}

std::vector<uint8_t> M2vStream(const M2vSequence& s, const std::vector<M2vPicture>& pictures) {
  std::vector<uint8_t> out;
  for (const M2vPicture& p : pictures) {
    if (p.sequence) Append(out, M2vSequenceHeader(s));
    if (p.gop) {
      StartCode(out, 0xB8);
      Append(out, BuildBits([&](zv::BeWriter& w) {
               w.Bits(13, 0);  // drop flag, hours, minutes
               w.Bits(1, 1);   // marker
               w.Bits(12, 0);  // seconds, pictures
               w.Bits(1, 1);   // closed_gop
               w.Bits(5, 0);   // broken_link, stuffing
             }));
    }
    StartCode(out, 0x00);
    Append(out, BuildBits([&](zv::BeWriter& w) {
             w.Bits(10, p.tr);
             w.Bits(3, p.type);
             w.Bits(16, 0xFFFF);  // vbv_delay
             if (p.type == 2 || p.type == 3) w.Bits(4, 7);
             if (p.type == 3) w.Bits(4, 7);
             w.Bits(1, 0);  // extra_bit_picture
             while (!w.Aligned()) w.Bits(1, 0);
           }));
    if (p.extension) {
      StartCode(out, 0xB5);
      Append(out, BuildBits([&](zv::BeWriter& w) {
               w.Bits(4, 8);  // picture coding extension
               w.Bits(16, 0xFFFF);  // f_codes
               w.Bits(2, 0);        // intra_dc_precision
               w.Bits(2, p.structure);
               w.Bits(1, p.tff);
               w.Bits(1, p.structure == 3 ? 1 : 0);  // frame_pred_frame_dct
               w.Bits(4, 0);  // concealment, q_scale_type, intra_vlc_format, alternate_scan
               w.Bits(1, p.rff);
               w.Bits(1, p.progressiveFrame);  // chroma_420_type
               w.Bits(1, p.progressiveFrame);
               w.Bits(1, 0);  // composite_display_flag
               while (!w.Aligned()) w.Bits(1, 0);
             }));
    }
    StartCode(out, 0x01);  // one slice of stand-in data
    Filler(out, p.dataBytes);
    // and a slice in the bottom macroblock row: the picture is whole.
    if (p.wholeRows) {
      const unsigned rows = s.progressive ? (s.height + 15) / 16
                            : p.structure == 3 ? 2 * ((s.height + 31) / 32)
                                               : (s.height + 31) / 32;
      if (rows > 1) {
        StartCode(out, static_cast<uint8_t>(rows));
        Filler(out, 8);
      }
    }
    if (p.sequenceEnd) StartCode(out, 0xB7);
  }
  return out;
}

std::vector<M2vPicture> M2vGop(const std::string& types) {
  std::vector<M2vPicture> v;
  unsigned gopStart = 0;  // decode index of the current GOP's I picture
  for (size_t i = 0; i < types.size(); ++i) {
    M2vPicture p;
    const char c = types[i];
    p.type = c == 'I' ? 1 : c == 'P' ? 2 : 3;
    if (p.type == 1) {
      gopStart = static_cast<unsigned>(i);
      p.gop = true;
      p.sequence = i == 0;
    }
    // An anchor is shown after the B pictures that follow it.
    const unsigned k = static_cast<unsigned>(i) - gopStart;
    if (p.type == 3) {
      p.tr = k - 1;
    } else {
      unsigned bs = 0;
      while (i + 1 + bs < types.size() && types[i + 1 + bs] == 'B') ++bs;
      p.tr = k + bs;
    }
    v.push_back(p);
  }
  return v;
}

// ---------------------------------------------------------------- VC-1

std::vector<uint8_t> Vc1Unit(uint8_t suffix, const std::vector<uint8_t>& body) {
  // The escaping is H.264's; only the four bytes in front differ.
  std::vector<uint8_t> unit = AnnexB(body);
  unit[0] = 0;
  unit[1] = 0;
  unit[2] = 1;
  unit[3] = suffix;
  return unit;
}

namespace {
// The flushing bits that end a header: a one, then zeros to the byte.
void Flush(zv::BeWriter& w) {
  w.Bits(1, 1);
  while (!w.Aligned()) w.Bits(1, 0);
}
}  // namespace

std::vector<uint8_t> Vc1SequenceHeader(const Vc1Sequence& s) {
  return Vc1Unit(0x0F, BuildBits([&](zv::BeWriter& w) {
                   w.Bits(2, s.profile);
                   w.Bits(3, s.level);
                   w.Bits(2, 1);  // COLORDIFF_FORMAT 4:2:0
                   w.Bits(3, 7);  // FRMRTQ_POSTPROC
                   w.Bits(5, 31);  // BITRTQ_POSTPROC
                   w.Bits(1, 0);  // POSTPROCFLAG
                   w.Bits(12, s.codedWidth / 2 - 1);
                   w.Bits(12, s.codedHeight / 2 - 1);
                   w.Bits(1, s.pulldown);
                   w.Bits(1, s.interlace);
                   w.Bits(1, s.tfcntr);
                   w.Bits(1, 0);  // FINTERPFLAG
                   w.Bits(1, 1);  // reserved
                   w.Bits(1, s.psf);
                   w.Bits(1, s.displayExt);
                   if (s.displayExt) {
                     w.Bits(14, s.displayWidth - 1);
                     w.Bits(14, s.displayHeight - 1);
                     w.Bits(1, s.aspectFlag);
                     if (s.aspectFlag) {
                       w.Bits(4, s.aspectIndex);
                       if (s.aspectIndex == 15) {
                         w.Bits(8, s.aspectHoriz);
                         w.Bits(8, s.aspectVert);
                       }
                     }
                     w.Bits(1, s.framerateFlag);
                     if (s.framerateFlag) {
                       w.Bits(1, s.framerateInd);
                       if (s.framerateInd) {
                         w.Bits(16, s.frameRateExp);
                       } else {
                         w.Bits(8, s.frameRateNr);
                         w.Bits(4, s.frameRateDr);
                       }
                     }
                     w.Bits(1, 1);  // COLOR_FORMAT_FLAG: BT.709
                     w.Bits(8, 1);
                     w.Bits(8, 1);
                     w.Bits(8, 1);
                   }
                   w.Bits(1, s.hrd);
                   if (s.hrd) {
                     w.Bits(5, 1);  // one leaky bucket
                     w.Bits(4, s.rateExponent);
                     w.Bits(4, s.bufferExponent);
                     w.Bits(16, s.hrdRate);
                     w.Bits(16, s.hrdBuffer);
                   }
                   Flush(w);
                 }));
}

std::vector<uint8_t> Vc1EntryPoint(const Vc1Sequence& s) {
  return Vc1Unit(0x0E, BuildBits([&](zv::BeWriter& w) {
                   w.Bits(1, 0);  // BROKEN_LINK
                   w.Bits(1, 1);  // CLOSED_ENTRY
                   w.Bits(1, s.panscan);
                   w.Bits(1, 1);  // REFDIST_FLAG
                   w.Bits(1, 1);  // LOOPFILTER
                   w.Bits(1, 0);  // FASTUVMC
                   w.Bits(1, 0);  // EXTENDED_MV
                   w.Bits(2, 0);  // DQUANT
                   w.Bits(1, 1);  // VSTRANSFORM
                   w.Bits(1, 0);  // OVERLAP
                   w.Bits(2, 0);  // QUANTIZER
                   if (s.hrd) w.Bits(8, 0x80);  // HRD_FULLNESS
                   w.Bits(1, s.codedSize);
                   if (s.codedSize) {
                     w.Bits(12, s.entryWidth / 2 - 1);
                     w.Bits(12, s.entryHeight / 2 - 1);
                   }
                   w.Bits(2, 0);  // RANGE_MAPY_FLAG, RANGE_MAPUV_FLAG
                   Flush(w);
                 }));
}

std::vector<uint8_t> Vc1Frame(const Vc1Sequence& s, char type, bool fieldPair, size_t dataBytes) {
  std::vector<uint8_t> unit = Vc1Unit(0x0D, BuildBits([&](zv::BeWriter& w) {
                                        if (s.interlace) {
                                          if (fieldPair)
                                            w.Bits(2, 3);
                                          else
                                            w.Bits(1, 0);
                                        }
                                        if (fieldPair) {
                                          w.Bits(3, type == 'I' ? 1 : type == 'P' ? 3 : type == 'B' ? 4 : 7);
                                        } else {
                                          switch (type) {
                                            case 'P': w.Bits(1, 0); break;
                                            case 'B': w.Bits(2, 2); break;
                                            case 'I': w.Bits(3, 6); break;
                                            case 'b': w.Bits(4, 14); break;
                                            default: w.Bits(4, 15); break;
                                          }
                                        }
                                        if (s.tfcntr) w.Bits(8, 0);
                                        if (s.pulldown) {
                                          if (!s.interlace || s.psf)
                                            w.Bits(2, 0);  // RPTFRM
                                          else
                                            w.Bits(2, 2);  // TFF, no RFF
                                        }
                                        Flush(w);
                                      }));
  Filler(unit, dataBytes);
  return unit;
}

std::vector<uint8_t> Vc1Stream(const Vc1Sequence& s, const std::string& segments, std::vector<size_t>* frameStarts) {
  std::vector<uint8_t> out;
  bool segmentStart = true;
  for (char c : segments) {
    if (c == '|') {
      segmentStart = true;
      continue;
    }
    if (segmentStart) {
      if (frameStarts) frameStarts->push_back(out.size());
      Append(out, Vc1SequenceHeader(s));
      Append(out, Vc1EntryPoint(s));
    } else if (frameStarts) {
      frameStarts->push_back(out.size());
    }
    segmentStart = false;
    Append(out, Vc1Frame(s, c, false, c == 'I' ? 160 : 48));
  }
  return out;
}

}  // namespace zvtest
