// Playlist stream entries made from tracks, kept apart so that only this file
// needs the playlist record.
#include "bdnav/playlist_file.h"
#include "mux/mux_track.h"

namespace zv {

void SMuxTrack::FillStreamAttributes(SStreamAttributes& rec) const {
  SCodingAttributes a;
  std::string language;
  GetAttributeValues(a, language);
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

void SMuxTrack::CreateStreamEntry(PRIMARY_STREAM_ENTRY& entry) const {
  entry.entry = SStreamEntryRef{};
  entry.entry.type = 1;
  entry.entry.RefToStreamPidOfMainClip = m_nPid;
  FillStreamAttributes(entry.attributes);
}

void SMuxTrack::FillStreamEntry(PRIMARY_STREAM_ENTRY& entry) const {
  if (entry.entry.type == 2)
    entry.entry.RefToStreamPidOfSubClip = m_nPid;
  else
    entry.entry.RefToStreamPidOfMainClip = m_nPid;
  FillStreamAttributes(entry.attributes);
}

bool SMuxTrack::AddToStn(STN_TABLE& stn) const {
  const uint8_t type = GetStreamCodingType();
  const TrackCategory c = CategoryOf(type);
  if (m_bPrimary) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(e);
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
    CreateStreamEntry(e);
    stn.secondaryAudio.push_back(e);
    return true;
  }
  if (c == TrackCategory::kVideo) {
    SECONDARD_VIDEO_STREAM_ENTRY e;
    CreateStreamEntry(e);
    stn.secondaryVideo.push_back(e);
    return true;
  }
  if (c == TrackCategory::kPg || type == 0x92) {
    PRIMARY_STREAM_ENTRY e;
    CreateStreamEntry(e);
    stn.pipPgTextSt.push_back(e);
    return true;
  }
  return false;
}

}  // namespace zv
