// The tracks of a container read as the elementary streams they carry.
//
// The tracks of one container that are open at the same time share one
// demuxer (a CFeed): each packet of the file is read once and its bytes go
// to the track it belongs to, where they wait until that track reads them.
// Readers of a clip's tracks move through the file together (they read in
// time order, as the file is stored), so little waits. What may wait is
// bounded:
//  - a track whose unread bytes pass `ahead` holds the demuxer back for a
//    while when another thread reads it (parallel analysis: the faster
//    reader waits for the slower); when it is not read meanwhile, or read
//    by the thread that wants more of another track (the interleave of the
//    tracks is then too far apart to bridge in memory), it leaves the
//    shared demuxer and goes on with a demuxer of its own, which reads the
//    container again from its start up to where the track stood;
//  - the bytes of tracks not opened yet are kept from the start of the file
//    up to `early` in all, so a track opened a little after the others still
//    joins them; past that it starts a new shared reading from the start,
//    which the tracks opened after it join;
//  - a read before the bytes a track still holds (`keep` behind its last
//    read) starts a demuxer of its own from the start of the file.
// Memory is thus at most `keep` + `ahead` (and a packet) per open track and
// `early` per reading, whatever the length of the file (SContainerBounds).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "media/container_demux.h"
#include "platform/progress.h"

namespace zv {

namespace {

constexpr size_t kMaxRead = size_t{16} << 20;
// How long the demuxer waits for a lagging track's reader to take bytes.
constexpr auto kRoomWait = std::chrono::seconds(1);
// Unread bytes a track of a held reading may hold before others wait.
constexpr int64_t kHeldAhead = int64_t{1} << 20;

std::mutex g_boundsMutex;
SContainerBounds g_bounds;
std::atomic<int64_t> g_fileBytesRead{0};
std::atomic<int64_t> g_demuxers{0};
std::atomic<int64_t> g_peakHeld{0};

// Bytes [Start(), End()) of one elementary stream, in the pieces (mostly a
// packet each) they arrived in.
class CPieces {
 public:
  int64_t Start() const { return pieces_.empty() ? end_ : pieces_.front().first; }
  int64_t End() const { return end_; }
  int64_t Bytes() const { return End() - Start(); }

  // Appends `bytes`, of which the first `skip` are already held.
  void Append(SBytes&& bytes, size_t skip = 0) {
    if (skip >= bytes.size) return;
    bytes.SkipFront(skip);
    const auto n = static_cast<int64_t>(bytes.size);
    pieces_.emplace_back(end_, std::move(bytes));
    end_ += n;
  }
  // Copies [pos, pos + n), which must lie within [Start(), End()).
  void Copy(int64_t pos, uint8_t* dst, size_t n) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                               [](int64_t p, const auto& piece) { return p < piece.first; });
    --it;
    while (n > 0) {
      const auto at = static_cast<size_t>(pos - it->first);
      const size_t k = std::min(n, it->second.size - at);
      std::memcpy(dst, it->second.data + at, k);
      dst += k;
      pos += static_cast<int64_t>(k);
      n -= k;
      ++it;
    }
  }
  // Forgets the pieces wholly before `pos`.
  void DropBefore(int64_t pos) {
    while (!pieces_.empty() && pieces_.front().first + static_cast<int64_t>(pieces_.front().second.size) <= pos)
      pieces_.pop_front();
  }
  void Clear() {
    pieces_.clear();
    end_ = 0;
  }
  // Gives `to`, which must be empty, a share of everything.
  void ShareTo(CPieces& to) const {
    for (const auto& [at, bytes] : pieces_) to.pieces_.emplace_back(at, bytes.Share());
    to.end_ = end_;
  }
  // Moves everything into `to`, which must be empty.
  void MoveTo(CPieces& to) {
    to.pieces_ = std::move(pieces_);
    to.end_ = end_;
    Clear();
  }

 private:
  std::deque<std::pair<int64_t, SBytes>> pieces_;
  int64_t end_ = 0;
};

// The bytes one demuxer made of one packet (or, at the end, of what the
// converters still held): for stream `stream`.
struct SMade {
  int stream = 0;
  std::vector<SBytes> bytes;
  int64_t Size() const {
    int64_t n = 0;
    for (const SBytes& b : bytes) n += static_cast<int64_t>(b.size);
    return n;
  }
};

// A demuxer with a converter for each stream it keeps.
class CDemux {
 public:
  ~CDemux() {
    if (in_ && in_->pb) g_fileBytesRead += in_->pb->bytes_read;
  }

  // Reads the streams of `keep` (stream number to length).
  int Open(const std::string& path, const std::map<int, int64_t>& keep, std::string& error) {
    in_ = OpenTrackDemuxer(path, keep, error);
    if (!in_) return kFailed;
    ++g_demuxers;
    for (unsigned i = 0; i < in_->nb_streams; ++i) {
      if (in_->streams[i]->discard == AVDISCARD_ALL) continue;
      auto c = std::make_unique<CTrackConverter>();
      if (c->Init(*in_, *in_->streams[i], error) != kOk) return kFailed;
      convs_[static_cast<int>(i)] = std::move(c);
    }
    pkt_.reset(av_packet_alloc());
    return kOk;
  }

  bool Ended() const { return ended_; }

  // Stops reading the packets of `stream`, for good.
  void Drop(int stream) {
    if (convs_.erase(stream) > 0) in_->streams[stream]->discard = AVDISCARD_ALL;
  }

  // The bytes of the next packet of a kept stream (none at its end, when
  // the converters' rest is made instead). False with `why` on an error.
  bool Next(std::vector<SMade>& made, std::string& why) {
    made.clear();
    while (!ended_) {
      const int err = av_read_frame(in_.get(), pkt_.get());
      if (err == AVERROR_EOF) {
        ended_ = true;
        for (auto& [stream, conv] : convs_) {
          SMade m{stream, {}};
          if (conv->Convert(nullptr, m.bytes, why) != kOk) return false;
          if (!m.bytes.empty()) made.push_back(std::move(m));
        }
        return true;
      }
      if (err < 0) {
        why = av::ErrorText(err);
        return false;
      }
      const auto it = convs_.find(pkt_->stream_index);
      SMade m{pkt_->stream_index, {}};
      const int r = it == convs_.end() ? kOk : it->second->Convert(pkt_.get(), m.bytes, why);
      av_packet_unref(pkt_.get());
      if (r != kOk) return false;
      if (!m.bytes.empty()) {
        made.push_back(std::move(m));
        return true;
      }
    }
    return true;
  }

 private:
  av::Input in_;
  av::Packet pkt_;
  std::map<int, std::unique_ptr<CTrackConverter>> convs_;
  bool ended_ = false;
};

struct STrack;

// One demuxer shared by the open tracks of a container.
class CFeed {
 public:
  // The feed of `path`, shared with the tracks already open on it.
  // The feed of `path` that `t` joins: the one open tracks share, or a new
  // one when that one is past the start of t's stream. `tracks`: the
  // container's carried tracks and their lengths.
  static std::shared_ptr<CFeed> Join(const std::string& path, const std::map<int, int64_t>& tracks, STrack& t);
  // A new feed of `path` that tracks opened from now on join, kept open
  // while the caller holds it even when none of them is open.
  static std::shared_ptr<CFeed> Hold(const std::string& path, const std::map<int, int64_t>& tracks);

  std::mutex mutex;
  std::condition_variable turn;  // a packet was read, or bytes were taken
  int roomWaiters = 0;           // threads waiting for lagging tracks to read
  bool reading = false;          // a thread reads a packet with the lock let go
  std::vector<STrack*> tracks;   // open tracks of the container
  SContainerBounds bounds;
  std::string error;             // a failed read fails the tracks it feeds
  bool ended = false;            // every packet was read

  // Whether `t` can be fed from here: its stream's bytes are all still to
  // come, or kept from the start. Under the lock.
  bool CanFeed(const STrack& t) const;
  void Take(STrack& t);
  // Feeds `t` no more.
  void Leave(STrack& t);
  void Close(STrack& t);
  // Notes the bytes held now in the statistics.
  void CountHeld() const;
  // Reads one packet for `asking` and hands out its bytes. Called with
  // `lock` held; lets it go while reading.
  void Pump(std::unique_lock<std::mutex>& lock, STrack& asking);

 private:
  void HandOut(std::vector<SMade>& made);
  // An open track of the same stream still holding its bytes from the
  // start, which a second opening of the stream can share; or null.
  const STrack* SharedFromStart(const STrack& t) const;
  // Before a packet is read for `asking`: no other track may hold more
  // than `ahead` unread bytes; one read on another thread is waited for a
  // while, else it leaves.
  // True when it waited (so what the asking track holds may have changed).
  bool MakeRoom(std::unique_lock<std::mutex>& lock, const STrack& asking);
  // Drops the demuxing of streams nobody will take from here.
  void DropUnwanted();

  std::string path_;
  std::map<int, int64_t> carried_;
  CDemux demux_;  // opened at the first read: a track is often opened only to check it opens
  bool opened_ = false;
  std::set<int> started_;          // streams whose first bytes went by
  std::map<int, CPieces> early_;   // kept for tracks not opened yet
  int64_t earlyBytes_ = 0;
  std::set<int> toDrop_;
};

// One open track's bytes.
struct STrack {
  int stream = 0;
  int64_t length = 0;
  CPieces bytes;
  int64_t readEnd = 0;             // end of the last read
  std::thread::id reader;          // the thread of the last read
  bool fed = false;                // by the feed; else by `own`
  std::unique_ptr<CDemux> own;     // after leaving the feed, or for a read back
  std::string error;
};

std::mutex g_feedsMutex;
std::map<std::string, std::vector<std::weak_ptr<CFeed>>> g_feeds;  // oldest first

std::shared_ptr<CFeed> CFeed::Join(const std::string& path, const std::map<int, int64_t>& tracks, STrack& t) {
  std::lock_guard<std::mutex> lock(g_feedsMutex);
  for (auto it = g_feeds.begin(); it != g_feeds.end();) {
    auto& list = it->second;
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }), list.end());
    it = list.empty() ? g_feeds.erase(it) : std::next(it);
  }
  auto& feeds = g_feeds[path];
  for (const std::weak_ptr<CFeed>& w : feeds) {
    auto feed = w.lock();
    if (!feed) continue;  // its last track closed just now
    std::lock_guard<std::mutex> feeding(feed->mutex);
    if (feed->CanFeed(t)) {
      feed->Take(t);
      return feed;
    }
  }
  // A new reading from the start, for this track and those that join it.
  auto feed = std::make_shared<CFeed>();
  feed->path_ = path;
  feed->carried_ = tracks;
  {
    std::lock_guard<std::mutex> b(g_boundsMutex);
    feed->bounds = g_bounds;
  }
  feeds.push_back(feed);
  std::lock_guard<std::mutex> feeding(feed->mutex);
  feed->Take(t);
  return feed;
}

std::shared_ptr<CFeed> CFeed::Hold(const std::string& path, const std::map<int, int64_t>& tracks) {
  std::lock_guard<std::mutex> lock(g_feedsMutex);
  auto feed = std::make_shared<CFeed>();
  feed->path_ = path;
  feed->carried_ = tracks;
  {
    std::lock_guard<std::mutex> b(g_boundsMutex);
    feed->bounds = g_bounds;
    // The analyses read on threads of their own, each as fast as its parser:
    // the audio ones, far ahead in time, wait for the video's rather than
    // making it hold megabytes (with 8 MiB the peak grew by 14-50 MB).
    feed->bounds.ahead = std::min<int64_t>(feed->bounds.ahead, kHeldAhead);
  }
  g_feeds[path].push_back(feed);
  return feed;
}

const STrack* CFeed::SharedFromStart(const STrack& t) const {
  for (const STrack* o : tracks)
    if (o != &t && o->fed && o->stream == t.stream && o->bytes.Start() == 0) return o;
  return nullptr;
}

bool CFeed::CanFeed(const STrack& t) const {
  if (!error.empty()) return false;
  // After the last packet only what was kept from the start can feed.
  if (early_.count(t.stream) > 0 || SharedFromStart(t)) return true;
  return !ended && started_.count(t.stream) == 0;
}

void CFeed::Take(STrack& t) {
  tracks.push_back(&t);
  // Only the first track of a stream takes what was kept for it; a second
  // opening of a stream that is open (a parser opens its file again to
  // read it) shares the first one's bytes.
  auto it = early_.find(t.stream);
  if (it != early_.end()) {
    earlyBytes_ -= it->second.Bytes();
    it->second.MoveTo(t.bytes);
    early_.erase(it);
  } else if (const STrack* o = SharedFromStart(t)) {
    o->bytes.ShareTo(t.bytes);
  }
  t.fed = true;
}

void CFeed::Leave(STrack& t) {
  t.fed = false;
  toDrop_.insert(t.stream);
}

void CFeed::Close(STrack& t) {
  // A track opened only to look (or to check that it opens) gives back
  // what it took, so the track opened next for the stream still joins.
  const bool alone = std::none_of(tracks.begin(), tracks.end(),
                                  [&](const STrack* o) { return o != &t && o->fed && o->stream == t.stream; });
  if (t.fed && alone && started_.count(t.stream) > 0 && t.bytes.Start() == 0 &&
      earlyBytes_ + t.bytes.Bytes() <= bounds.early) {
    earlyBytes_ += t.bytes.Bytes();
    t.bytes.MoveTo(early_[t.stream]);
    t.fed = false;
  }
  if (t.fed) Leave(t);
  tracks.erase(std::remove(tracks.begin(), tracks.end(), &t), tracks.end());
}

void CFeed::CountHeld() const {
  int64_t held = earlyBytes_;
  for (const STrack* t : tracks) held += t->bytes.Bytes();
  int64_t peak = g_peakHeld;
  while (held > peak && !g_peakHeld.compare_exchange_weak(peak, held)) {
  }
}

void CFeed::DropUnwanted() {
  if (!opened_) return;
  for (int s : toDrop_) {
    const bool wanted = early_.count(s) > 0 || started_.count(s) == 0 ||
                        std::any_of(tracks.begin(), tracks.end(), [&](const STrack* t) { return t->fed && t->stream == s; });
    if (!wanted) demux_.Drop(s);
  }
  toDrop_.clear();
}

void CFeed::Pump(std::unique_lock<std::mutex>& lock, STrack& asking) {
  if (reading) {
    turn.wait(lock);
    return;
  }
  if (MakeRoom(lock, asking)) return;
  DropUnwanted();
  reading = true;
  const bool open = opened_;
  opened_ = true;
  lock.unlock();
  std::vector<SMade> made;
  std::string why;
  const bool ok = (open || demux_.Open(path_, carried_, why) == kOk) && demux_.Next(made, why);
  lock.lock();
  reading = false;
  ended = demux_.Ended();
  if (!ok) error = why;
  HandOut(made);
  turn.notify_all();
}

bool CFeed::MakeRoom(std::unique_lock<std::mutex>& lock, const STrack& asking) {
  const std::thread::id me = std::this_thread::get_id();
  auto over = [&](const STrack* t) { return t != &asking && t->fed && t->bytes.End() - t->readEnd > bounds.ahead; };
  bool waited = false;
  for (;;) {
    const auto it = std::find_if(tracks.begin(), tracks.end(), over);
    if (it == tracks.end()) return waited;
    STrack* lag = *it;
    bool taken = false;
    if (lag->reader != std::thread::id() && lag->reader != me) {
      ++roomWaiters;
      waited = true;
      taken = turn.wait_for(lock, kRoomWait, [&] {
        return std::find(tracks.begin(), tracks.end(), lag) == tracks.end() || !over(lag);
      });
      --roomWaiters;
    }
    if (!taken) Leave(*lag);
  }
}

void CFeed::HandOut(std::vector<SMade>& made) {
  for (SMade& m : made) {
    const bool first = started_.insert(m.stream).second;
    std::vector<STrack*> to;
    for (STrack* t : tracks)
      if (t->fed && t->stream == m.stream) to.push_back(t);
    if (to.empty()) {
      auto it = early_.find(m.stream);
      if (first && it == early_.end()) it = early_.emplace(m.stream, CPieces{}).first;
      if (it == early_.end()) continue;
      earlyBytes_ += m.Size();
      for (SBytes& b : m.bytes) it->second.Append(std::move(b));
      if (earlyBytes_ > bounds.early) {
        // The tracks not opened yet get demuxers of their own.
        for (const auto& [s, pieces] : early_) toDrop_.insert(s);
        early_.clear();
        earlyBytes_ = 0;
      }
      continue;
    }
    for (size_t i = 0; i < to.size(); ++i)
      for (SBytes& b : m.bytes) to[i]->bytes.Append(i + 1 < to.size() ? b.Share() : std::move(b));
  }
  CountHeld();
}

class CContainerTrackSource : public IByteSource {
 public:
  ~CContainerTrackSource() override {
    if (!feed_) return;
    std::lock_guard<std::mutex> lock(feed_->mutex);
    feed_->Close(track_);
  }

  int Open(const std::string& container, int stream, std::string& error) {
    container_ = container;
    track_.stream = stream;
    std::map<int, int64_t> lengths;
    if (TrackLengths(container, lengths, error) != kOk) return kFailed;
    const auto it = lengths.find(stream);
    if (it == lengths.end()) {
      error = "\"" + container + "\" has no track " + std::to_string(stream) + " that a disc carries";
      return kFailed;
    }
    track_.length = it->second;
    feed_ = CFeed::Join(container, lengths, track_);
    return kOk;
  }

  int64_t Length() const override { return track_.length; }

  int ReadAt(int64_t pos, void* buf, size_t n, std::string& why) override {
    if (pos < 0 || pos > track_.length || static_cast<int64_t>(n) > track_.length - pos) return -1;
    if (n > kMaxRead) {
      why = "a read of " + std::to_string(n) + " bytes at once is too large";
      return EINVAL;
    }
    const int64_t end = pos + static_cast<int64_t>(n);
    std::unique_lock<std::mutex> lock(feed_->mutex);
    STrack& t = track_;
    t.reader = std::this_thread::get_id();
    for (;;) {
      if (t.fed && !feed_->error.empty()) t.error = feed_->error;
      if (!t.error.empty()) {
        why = t.error;
        return EIO;
      }
      if (pos < t.bytes.Start() || (!t.fed && !t.own)) {
        // Back before what is held (or left behind by the feed): a demuxer
        // of its own reads from the start, up to what is held.
        if (pos < t.bytes.Start()) {
          if (t.fed) feed_->Leave(t);
          t.bytes.Clear();
        }
        t.own = std::make_unique<CDemux>();
        if (t.own->Open(container_, {{t.stream, t.length}}, t.error) != kOk) continue;
        ownMade_ = 0;
      }
      // What lies further back than `keep` goes before more is read.
      t.bytes.DropBefore(pos - feed_->bounds.keep);
      if (end <= t.bytes.End()) {
        t.bytes.Copy(pos, static_cast<uint8_t*>(buf), n);
        t.readEnd = end;
        if (feed_->roomWaiters > 0) feed_->turn.notify_all();
        return 0;
      }
      t.readEnd = std::max(t.readEnd, pos);
      if (t.fed) {
        if (feed_->ended) t.error = kShorter;
        else feed_->Pump(lock, t);
      } else {
        ReadOwn();
      }
    }
  }

 private:
  static constexpr const char* kShorter = "the container holds fewer bytes of this track than when it was added";

  // One packet more from the track's own demuxer; the bytes the track
  // already holds are skipped.
  void ReadOwn() {
    STrack& t = track_;
    if (t.own->Ended()) {
      t.error = kShorter;
      return;
    }
    std::vector<SMade> made;
    if (!t.own->Next(made, t.error)) return;
    for (SMade& m : made) {
      for (SBytes& b : m.bytes) {
        const auto size = static_cast<int64_t>(b.size);
        const int64_t skip = std::clamp<int64_t>(t.bytes.End() - ownMade_, 0, size);
        ownMade_ += size;
        t.bytes.Append(std::move(b), static_cast<size_t>(skip));
      }
    }
    feed_->CountHeld();
  }

  std::string container_;
  std::shared_ptr<CFeed> feed_;
  STrack track_;
  int64_t ownMade_ = 0;  // bytes the own demuxer made so far
};

}  // namespace

void SetContainerBounds(const SContainerBounds& bounds) {
  std::lock_guard<std::mutex> lock(g_boundsMutex);
  g_bounds = bounds;
}

SContainerBounds ContainerBounds() {
  std::lock_guard<std::mutex> lock(g_boundsMutex);
  return g_bounds;
}

SContainerReadStats ContainerReadStats() { return {g_fileBytesRead, g_demuxers, g_peakHeld}; }

void ResetContainerReadStats() {
  g_fileBytesRead = 0;
  g_demuxers = 0;
  g_peakHeld = 0;
}

std::shared_ptr<void> HoldContainerReading(const std::string& container, std::string& error) {
  std::map<int, int64_t> lengths;
  if (TrackLengths(container, lengths, error) != kOk) return nullptr;
  return CFeed::Hold(container, lengths);
}

std::unique_ptr<IByteSource> OpenContainerTrack(const std::string& path, std::string& error) {
  std::string container, ext;
  int stream = 0;
  if (!SplitTrackPath(path, container, stream, ext)) {
    error = "not a container track";
    return nullptr;
  }
  // The tracks whose bytes the index found in the file are read from it.
  std::map<int, int64_t> lengths;
  if (TrackLengths(container, lengths, error) != kOk) return nullptr;
  const auto it = lengths.find(stream);
  if (it != lengths.end())
    if (auto direct = OpenDirectContainerTrack(container, stream, it->second)) return direct;
  auto src = std::make_unique<CContainerTrackSource>();
  if (src->Open(container, stream, error) != kOk) return nullptr;
  return src;
}

}  // namespace zv
