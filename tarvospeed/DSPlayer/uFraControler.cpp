#include "uFraControler.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

}  // namespace

TfraDSControler::TfraDSControler(QWidget* parent) : QWidget(parent) {
    setObjectName("fraDSControler");
    trkPlayPos = new QSlider(Qt::Horizontal, this);
    trkPlayPos->setObjectName("trkPlayPos");
    trkPlayPos->setRange(0, kPositionSteps);
    jvgBtnPlay = button(this, "jvgBtnPlay", QStringLiteral("播放"));
    jvgBtnPause = button(this, "jvgBtnPause", QStringLiteral("暂停"));
    JvgBtnStop = button(this, "JvgBtnStop", QStringLiteral("停止"));
    jvgBtnPrev = button(this, "jvgBtnPrev", QStringLiteral("上一首"));
    jvgBtnNext = button(this, "jvgBtnNext", QStringLiteral("下一首"));
    jvgBtnSound = button(this, "jvgBtnSound", QStringLiteral("静音"));
    jvgBtnSoundOff = button(this, "jvgBtnSoundOff", QStringLiteral("打开声音"));
    trkSound = new QSlider(Qt::Horizontal, this);
    trkSound->setObjectName("trkSound");
    trkSound->setRange(50, 100);
    trkSound->setValue(100);
    trkSound->setMaximumWidth(100);

    auto* buttons = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(jvgBtnPlay), static_cast<QWidget*>(jvgBtnPause),
                       static_cast<QWidget*>(JvgBtnStop), static_cast<QWidget*>(jvgBtnPrev),
                       static_cast<QWidget*>(jvgBtnNext)})
        buttons->addWidget(w);
    buttons->addStretch();
    buttons->addWidget(jvgBtnSound);
    buttons->addWidget(jvgBtnSoundOff);
    buttons->addWidget(trkSound);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(trkPlayPos);
    layout->addLayout(buttons);

    connect(jvgBtnPlay, &QPushButton::clicked, this, &TfraDSControler::PlayClicked);
    connect(jvgBtnPause, &QPushButton::clicked, this, [this] {
        if (player_) player_->PauseResume();
    });
    connect(JvgBtnStop, &QPushButton::clicked, this, [this] {
        if (player_) player_->Stop();
    });
    connect(jvgBtnNext, &QPushButton::clicked, this, [this] {
        if (player_) player_->Next();
    });
    connect(jvgBtnPrev, &QPushButton::clicked, this, [this] {
        if (player_) player_->Prev();
    });
    connect(jvgBtnSound, &QPushButton::clicked, this,
            [this] { trkSound->setValue(trkSound->minimum()); });
    connect(jvgBtnSoundOff, &QPushButton::clicked, this,
            [this] { trkSound->setValue(trkSound->maximum()); });
    connect(trkPlayPos, &QSlider::valueChanged, this, &TfraDSControler::PositionMoved);
    connect(trkSound, &QSlider::valueChanged, this, &TfraDSControler::VolumeChanged);
    MediaRefresh();
}

TfraDSControler::~TfraDSControler() {
    if (player_) player_->SetControlListener(nullptr);
}

void TfraDSControler::SetPlayer(TMediaPlayer* player) {
    if (player_) player_->SetControlListener(nullptr);
    player_ = player;
    if (player_) {
        player_->SetControlListener(this);
        player_->Player().SetVolume(trkSound->value() * 100);
    }
    MediaRefresh();
}

void TfraDSControler::PlayClicked() {
    if (!player_) return;
    // A paused file resumes; a stopped one starts from the current item.
    if (player_->State() == TDSPlayer::paused)
        player_->PauseResume();
    else if (player_->State() == TDSPlayer::stopped)
        player_->PlayCurrent();
}

void TfraDSControler::PositionMoved(int value) {
    if (!player_) return;
    player_->Seek(static_cast<std::int64_t>(value) * player_->Duration() / kPositionSteps);
}

void TfraDSControler::VolumeChanged(int value) {
    if (player_) player_->Player().SetVolume(value * 100);
    MediaRefresh();
}

void TfraDSControler::MediaPosition(std::int64_t position, std::int64_t duration) {
    if (duration <= 0) return;
    const QSignalBlocker quiet(trkPlayPos);
    trkPlayPos->setValue(static_cast<int>(position * kPositionSteps / duration));
}

void TfraDSControler::MediaRefresh() {
    const bool playing = player_ && player_->State() == TDSPlayer::playing;
    const int count = player_ ? player_->Count() : 0;
    const int index = player_ ? player_->Index() : -1;
    jvgBtnPlay->setVisible(!playing);
    jvgBtnPause->setVisible(playing);
    jvgBtnNext->setVisible(count > 1 || index < count - 1);
    jvgBtnPrev->setVisible(count > 1 || index > 0);
    jvgBtnSound->setVisible(!Muted());
    jvgBtnSoundOff->setVisible(Muted());
}
