#include "media/track_policy.h"

#include "media/container_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace zv {

namespace {

std::string CodecName(AVCodecID id) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  return d ? d->name : "unknown";
}

STrackVerdict Carried(const char* ext) { return {TrackNeed::kCarried, ext, {}}; }

STrackVerdict ConvertAudio(const std::string& what) {
  return {TrackNeed::kConvertAudio, {},
          what + " is not an audio format a disc carries; use --convert-audio ac3 or --convert-audio lpcm"};
}

}  // namespace

STrackVerdict TrackVerdictFor(const AVCodecParameters& par, const std::string&, bool ac3Core) {
  const std::string name = CodecName(par.codec_id);
  switch (par.codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      switch (par.codec_id) {
        case AV_CODEC_ID_H264: return Carried(".264");
        case AV_CODEC_ID_MPEG2VIDEO: return Carried(".m2v");
        case AV_CODEC_ID_VC1: return Carried(".vc1");
        default:
          return {TrackNeed::kEncodeVideo, {},
                  name + " video is not a disc format (a disc carries H.264, MPEG-2 and VC-1); re-encode it with "
                         "--encode"};
      }
    case AVMEDIA_TYPE_AUDIO: {
      if (par.sample_rate != 0 && par.sample_rate != 48000 &&
          (par.codec_id == AV_CODEC_ID_AC3 || par.codec_id == AV_CODEC_ID_DTS))
        return ConvertAudio(name + " at " + std::to_string(par.sample_rate) + " Hz");
      switch (par.codec_id) {
        case AV_CODEC_ID_AC3: return Carried(".ac3");
        case AV_CODEC_ID_DTS: return Carried(".dts");
        case AV_CODEC_ID_EAC3: return ac3Core ? Carried(".ac3") : ConvertAudio("E-AC-3 without an AC-3 core");
        case AV_CODEC_ID_TRUEHD: return ConvertAudio("TrueHD without an AC-3 core");
        default: break;
      }
      if (par.codec_id >= AV_CODEC_ID_FIRST_AUDIO && par.codec_id < AV_CODEC_ID_ADPCM_IMA_QT)
        return ConvertAudio("PCM in a container");
      return ConvertAudio(name);
    }
    case AVMEDIA_TYPE_SUBTITLE:
      if (par.codec_id == AV_CODEC_ID_HDMV_PGS_SUBTITLE) return Carried(".sup");
      if (const std::string text = TextSubtitleExtension(avcodec_get_name(par.codec_id)); !text.empty())
        return {TrackNeed::kTextSubtitle, text, {}};
      return {TrackNeed::kRefused, {},
              name + " subtitles are neither presentation graphics nor text; save them as an .srt file and add that"};
    default: return {TrackNeed::kRefused, {}, "a " + std::string(av_get_media_type_string(par.codec_type) ? av_get_media_type_string(par.codec_type) : "data") + " track is not carried"};
  }
}

}  // namespace zv
