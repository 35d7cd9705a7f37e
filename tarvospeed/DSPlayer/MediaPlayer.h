// TMediaPlayer: a play list over one TDSPlayer.
//
// Two listeners follow it: the list frame (which may refuse additions and
// clearing; TfraMediaList accepts everything) and the control frame. Both
// must outlive the player or be replaced by null first. Every call is made on
// the GUI thread. The play list always holds its items in the order added;
// `PlayIndex` requires an index below `Count` (Next and Prev wrap around).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DSPlayClass.h"

class TVideoSurface;

struct TMediaData {
    std::string path;
    std::string title;
};

class TMediaListListener {
  public:
    virtual ~TMediaListListener() = default;
    virtual bool MediaAdding(const TMediaData&) { return true; }
    virtual void MediaAdded(const TMediaData& item) = 0;
    virtual bool MediaClearing() { return true; }
    virtual void MediaCleared() = 0;
    virtual void MediaSelected(int index) = 0;
};

class TMediaControlListener {
  public:
    virtual ~TMediaControlListener() = default;
    // Buttons by state, list and mute state.
    virtual void MediaRefresh() = 0;
    virtual void MediaPosition(std::int64_t position, std::int64_t duration) = 0;
};

class TMediaPlayer : private TDSPlayerListener {
  public:
    TMediaPlayer(TVideoSurface* video_window, const TDSPlayerConfig& config = {});
    ~TMediaPlayer() override;

    void SetListListener(TMediaListListener* listener) { list_listener_ = listener; }
    void SetControlListener(TMediaControlListener* listener) { control_listener_ = listener; }

    // False when the list frame refuses.
    bool AddMedia(const std::string& path, const std::string& title);
    bool ClearList();
    void PlayIndex(int index);
    void PlayCurrent();
    void Next();
    void Prev();
    void PauseResume();
    void Stop();
    void Seek(std::int64_t position);
    std::int64_t Duration() const { return player_->Duration(); }
    int State() const { return player_->State(); }
    QImage Snapshot(bool small) { return player_->Snapshot(small); }

    int Count() const { return static_cast<int>(items_.size()); }
    int Index() const { return index_; }
    const TMediaData& Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    TDSPlayer& Player() { return *player_; }

    // Hooks for the window that hosts the player: every opening with its
    // result, and every position report (the video editor grabs a thumbnail
    // from it).
    std::function<void(bool ok)> on_opened;
    std::function<void(std::int64_t position)> on_position;

  private:
    void DSPlayerOpened(bool ok) override;
    void DSPlayerPosition(std::int64_t position) override;
    void DSPlayerPaused() override;
    void DSPlayerStopped() override;
    void Refresh();

    std::vector<TMediaData> items_;
    int index_ = -1;
    TMediaListListener* list_listener_ = nullptr;
    TMediaControlListener* control_listener_ = nullptr;
    std::unique_ptr<TDSPlayer> player_;
};
