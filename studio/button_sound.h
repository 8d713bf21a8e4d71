// The disc's button sounds, played through the system's audio when it has
// an output: the preview hands each sound the player asks for to this
// object, which keeps the samples it was given, so that a machine without
// speakers still shows what would have been heard.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace zvstudio {

// One sound of the disc's sound file: 48 kHz, 16-bit samples in machine
// order, the channels interleaved.
struct SButtonSound {
  int channels = 0;
  std::vector<int16_t> samples;
};

class ButtonSoundPlayer : public QObject {
  Q_OBJECT
 public:
  explicit ButtonSoundPlayer(QObject* parent = nullptr);
  ~ButtonSoundPlayer() override;

  // Reads BDMV/AUXDATA/sound.bdmv of the disc folder; a disc without one
  // has no sounds. False with `error` naming the file and the reason when
  // it is there but cannot be read (the disc then plays silently).
  bool Load(const QString& disc, QString& error);
  size_t Count() const { return sounds_.size(); }
  // Plays sound `id`, cutting off the one playing; false when the disc has
  // no such sound. Without an audio output the sound is still taken.
  bool Play(uint32_t id);
  // The sound last taken, -1 before any.
  int LastId() const { return last_; }
  const SButtonSound* Sound(uint32_t id) const { return id < sounds_.size() ? &sounds_[id] : nullptr; }
  // Whether the system has an audio output the sounds reach.
  bool HasOutput() const;

 private:
  std::vector<SButtonSound> sounds_;
  int last_ = -1;
  QByteArray pcm_;
  QBuffer buffer_;
  std::unique_ptr<QObject> sink_;  // the QAudioSink playing
};

}  // namespace zvstudio
