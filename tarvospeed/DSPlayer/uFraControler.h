// TfraDSControler: the control frame of a TMediaPlayer: position slider,
// play/pause/stop/next/previous, mute and the volume slider.
//
// Bind it with `SetPlayer` (it becomes the player's control listener; the
// frame must outlive that binding). Position reports move the slider without
// seeking; moving the slider seeks.
#pragma once

#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include "MediaPlayer.h"

class TfraDSControler : public QWidget, public TMediaControlListener {
    Q_OBJECT
  public:
    explicit TfraDSControler(QWidget* parent = nullptr);
    ~TfraDSControler() override;

    void SetPlayer(TMediaPlayer* player);
    bool Muted() const { return trkSound->value() == trkSound->minimum(); }

    void MediaRefresh() override;
    void MediaPosition(std::int64_t position, std::int64_t duration) override;

    static constexpr int kPositionSteps = 500;

    QSlider* trkPlayPos;
    QPushButton* jvgBtnPlay;
    QPushButton* jvgBtnPause;
    QPushButton* JvgBtnStop;
    QPushButton* jvgBtnNext;
    QPushButton* jvgBtnPrev;
    QPushButton* jvgBtnSound;
    QPushButton* jvgBtnSoundOff;
    QSlider* trkSound;

  private:
    void PlayClicked();
    void PositionMoved(int value);
    void VolumeChanged(int value);

    TMediaPlayer* player_ = nullptr;
};
