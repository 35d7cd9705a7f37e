// TfraMediaList: the play list of a TMediaPlayer ("节目单"), read-only, one
// row per item; a double-click plays the row. Bind it with `SetPlayer` (it
// becomes the player's list listener and accepts every change).
#pragma once

#include <QTreeWidget>
#include <QWidget>

#include "MediaPlayer.h"

class TfraMediaList : public QWidget, public TMediaListListener {
    Q_OBJECT
  public:
    explicit TfraMediaList(QWidget* parent = nullptr);
    ~TfraMediaList() override;

    void SetPlayer(TMediaPlayer* player);

    void MediaAdded(const TMediaData& item) override;
    void MediaCleared() override;
    void MediaSelected(int index) override;

    QTreeWidget* lswPlayList;

  private:
    TMediaPlayer* player_ = nullptr;
};
