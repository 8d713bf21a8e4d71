#include "model/playlist_stn.h"

namespace zv {

namespace {

void FillStreamAttributes(const SMuxTrack& track, SStreamAttributes& rec) {
  SCodingAttributes a;
  std::string language;
  track.GetAttributeValues(a, language);
  rec = SStreamAttributes{};
  rec.StreamCodingType = a.streamCodingType;
  switch (CategoryOf(a.streamCodingType)) {
    case TrackCategory::kVideo:
      rec.Format = a.videoFormat;
      rec.Rate = a.frameRate;
      break;
    case TrackCategory::kAudio:
      rec.Format = a.presentationType;
      rec.Rate = a.samplingFrequency;
      rec.Language = language;
      break;
    case TrackCategory::kPg:
    case TrackCategory::kIg: rec.Language = language; break;
    case TrackCategory::kOther:
      if (a.streamCodingType == 0x92) rec.Language = language;
      break;
  }
}

void CreateStreamEntry(const SMuxTrack& track, PRIMARY_STREAM_ENTRY& entry) {
  entry.entry = SStreamEntryRef{};
  entry.entry.type = 1;
  entry.entry.RefToStreamPidOfMainClip = track.m_nPid;
  FillStreamAttributes(track, entry.attributes);
}

}  // namespace

void FillStreamEntry(const SMuxTrack& track, PRIMARY_STREAM_ENTRY& entry) {
  if (entry.entry.type == 2)
    entry.entry.RefToStreamPidOfSubClip = track.m_nPid;
  else
    entry.entry.RefToStreamPidOfMainClip = track.m_nPid;
  FillStreamAttributes(track, entry.attributes);
}

bool AddToStn(const SMuxTrack& track, STN_TABLE& stn) {
  const uint8_t type = track.GetStreamCodingType();
  const TrackCategory c = CategoryOf(type);
  if (track.m_bPrimary) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    switch (c) {
      case TrackCategory::kVideo: stn.primaryVideo.push_back(e); return true;
      case TrackCategory::kAudio: stn.primaryAudio.push_back(e); return true;
      case TrackCategory::kPg: stn.pgTextSt.push_back(e); return true;
      case TrackCategory::kIg: stn.ig.push_back(e); return true;
      case TrackCategory::kOther:
        if (type != 0x92) return false;
        stn.pgTextSt.push_back(e);
        return true;
    }
    return false;
  }
  if (c == TrackCategory::kAudio) {
    SECONDARD_AUDIO_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.secondaryAudio.push_back(e);
    return true;
  }
  if (c == TrackCategory::kVideo) {
    SECONDARD_VIDEO_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.secondaryVideo.push_back(e);
    return true;
  }
  if (c == TrackCategory::kPg || type == 0x92) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.pipPgTextSt.push_back(e);
    return true;
  }
  return false;
}

}  // namespace zv
