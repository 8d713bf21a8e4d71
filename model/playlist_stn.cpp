#include "model/playlist_stn.h"

namespace zv {

namespace {

void FillStreamAttributes(const SMuxTrack& track, SStreamAttributes& rec) {
  SCodingAttributes a;
  std::string language;
  track.GetAttributeValues(a, language);
  rec = SStreamAttributes{};
  rec.StreamCodingType = a.streamCodingType;
  switch (StreamKindOf(a.streamCodingType)) {
    case StreamKind::kVideo:
      rec.Format = a.videoFormat;
      rec.Rate = a.frameRate;
      break;
    case StreamKind::kAudio:
      rec.Format = a.presentationType;
      rec.Rate = a.samplingFrequency;
      rec.Language = language;
      break;
    case StreamKind::kPg:
    case StreamKind::kIg:
    case StreamKind::kTextSt: rec.Language = language; break;
    case StreamKind::kOther: break;
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
  const StreamKind c = StreamKindOf(track.GetStreamCodingType());
  if (track.m_bPrimary) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    switch (c) {
      case StreamKind::kVideo: stn.primaryVideo.push_back(e); return true;
      case StreamKind::kAudio: stn.primaryAudio.push_back(e); return true;
      case StreamKind::kPg: stn.pgTextSt.push_back(e); return true;
      case StreamKind::kIg: stn.ig.push_back(e); return true;
      case StreamKind::kTextSt: stn.pgTextSt.push_back(e); return true;
      case StreamKind::kOther: return false;
    }
    return false;
  }
  if (c == StreamKind::kAudio) {
    SECONDARD_AUDIO_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.secondaryAudio.push_back(e);
    return true;
  }
  if (c == StreamKind::kVideo) {
    SECONDARD_VIDEO_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.secondaryVideo.push_back(e);
    return true;
  }
  if (c == StreamKind::kPg || c == StreamKind::kTextSt) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(track, e);
    stn.pipPgTextSt.push_back(e);
    return true;
  }
  return false;
}

}  // namespace zv
