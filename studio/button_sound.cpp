#include "studio/button_sound.h"

#include <QFile>
#if ZV_AUDIO_OUTPUT
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#endif

#include "bdnav/sound_bdmv.h"

namespace zvstudio {

ButtonSoundPlayer::ButtonSoundPlayer(QObject* parent) : QObject(parent) {}

// The sink reads the buffer: it goes first.
ButtonSoundPlayer::~ButtonSoundPlayer() { sink_.reset(); }

bool ButtonSoundPlayer::Load(const QString& disc, QString& error) {
  sounds_.clear();
  last_ = -1;
  const QString path = disc + "/BDMV/AUXDATA/sound.bdmv";
  QFile f(path);
  if (!f.exists()) return true;
  if (!f.open(QIODevice::ReadOnly)) {
    error = "Cannot read the button sounds \"" + path + "\": " + f.errorString();
    return false;
  }
  const QByteArray bytes = f.readAll();
  zv::CSoundBdmv file;
  std::string why;
  if (f.error() != QFileDevice::NoError ||
      !file.Parse(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), &why)) {
    error = "Cannot read the button sounds \"" + path + "\": " +
            (why.empty() ? f.errorString() : QString::fromStdString(why));
    return false;
  }
  for (size_t i = 0; i < file.Count(); ++i) {
    const zv::SSoundEntry& e = file.index.entries[i];
    const std::vector<uint8_t>& be = file.samples[i];
    SButtonSound s;
    s.channels = e.channelConfiguration == 1 ? 1 : 2;
    // The disc's samples are big-endian.
    s.samples.resize(be.size() / 2);
    for (size_t k = 0; k < s.samples.size(); ++k)
      s.samples[k] = static_cast<int16_t>(static_cast<uint16_t>(be[2 * k] << 8 | be[2 * k + 1]));
    sounds_.push_back(std::move(s));
  }
  return true;
}

#if ZV_AUDIO_OUTPUT
bool ButtonSoundPlayer::HasOutput() const { return !QMediaDevices::defaultAudioOutput().isNull(); }
#else
bool ButtonSoundPlayer::HasOutput() const { return false; }
#endif

bool ButtonSoundPlayer::Play(uint32_t id) {
  if (id >= sounds_.size()) return false;
  last_ = static_cast<int>(id);
#if ZV_AUDIO_OUTPUT
  if (sink_) static_cast<QAudioSink*>(sink_.get())->stop();
  sink_.reset();
  buffer_.close();
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return true;
  QAudioFormat format;
  format.setSampleRate(48000);
  format.setChannelCount(sounds_[id].channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) return true;
  const std::vector<int16_t>& s = sounds_[id].samples;
  pcm_ = QByteArray(reinterpret_cast<const char*>(s.data()), static_cast<qsizetype>(s.size() * sizeof(int16_t)));
  buffer_.setBuffer(&pcm_);
  buffer_.open(QIODevice::ReadOnly);
  auto sink = std::make_unique<QAudioSink>(device, format);
  sink->start(&buffer_);
  sink_ = std::move(sink);
#endif
  return true;
}

}  // namespace zvstudio
