#include "MediaPlayer.h"

TMediaPlayer::TMediaPlayer(TVideoSurface* video_window, const TDSPlayerConfig& config)
    : player_(std::make_unique<TDSPlayer>(video_window, static_cast<TDSPlayerListener*>(this),
                                          config)) {}

TMediaPlayer::~TMediaPlayer() = default;

bool TMediaPlayer::AddMedia(const std::string& path, const std::string& title) {
    TMediaData item{path, title};
    if (list_listener_ && !list_listener_->MediaAdding(item)) return false;
    items_.push_back(item);
    if (list_listener_) list_listener_->MediaAdded(item);
    Refresh();
    return true;
}

bool TMediaPlayer::ClearList() {
    if (list_listener_ && !list_listener_->MediaClearing()) return false;
    items_.clear();
    index_ = -1;
    if (list_listener_) list_listener_->MediaCleared();
    Refresh();
    return true;
}

void TMediaPlayer::PlayIndex(int index) {
    if (index < 0 || index >= Count()) return;
    index_ = index;
    if (list_listener_) list_listener_->MediaSelected(index_);
    PlayCurrent();
}

void TMediaPlayer::PlayCurrent() {
    if (index_ < 0 || index_ >= Count()) return;
    if (player_->Open(Item(index_).path)) player_->Play();
    Refresh();
}

void TMediaPlayer::Next() {
    if (items_.empty()) return;
    PlayIndex(index_ + 1 >= Count() ? 0 : index_ + 1);
}

void TMediaPlayer::Prev() {
    if (items_.empty()) return;
    PlayIndex(index_ - 1 < 0 ? Count() - 1 : index_ - 1);
}

void TMediaPlayer::PauseResume() {
    player_->PauseResume();
    Refresh();
}

void TMediaPlayer::Stop() { player_->Stop(); }

void TMediaPlayer::Seek(std::int64_t position) { player_->Seek(position); }

void TMediaPlayer::DSPlayerOpened(bool ok) {
    if (on_opened) on_opened(ok);
}

void TMediaPlayer::DSPlayerPosition(std::int64_t position) {
    if (control_listener_) control_listener_->MediaPosition(position, player_->Duration());
    if (on_position) on_position(position);
}

void TMediaPlayer::DSPlayerPaused() { Refresh(); }

void TMediaPlayer::DSPlayerStopped() {
    // The end of a file and a stop request alike move on to the next item.
    if (index_ >= 0 && index_ < Count() - 1)
        Next();
    else
        Refresh();
}

void TMediaPlayer::Refresh() {
    if (control_listener_) control_listener_->MediaRefresh();
}
