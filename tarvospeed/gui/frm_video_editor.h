// TfrmVideoEditor ("我的视频收藏信息"): title, description, tags and
// thumbnail of one video. Until the built-in player exists the thumbnail is
// grabbed by the core at the grab second (ButtonGrab does the same).
//
// EditVideo() is the modal use; Prepare() and Confirm() are its two halves,
// which tests drive without a modal loop.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "speed/speed_core.h"

namespace tarvospeed {

class TfrmVideoEditor : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmVideoEditor(TSpeedCore& core, QWidget* parent = nullptr);

    // The entry edited (or a new one for a cache file without entry, owned
    // by the caller once returned); null when cancelled.
    TVideoItem* EditVideo(const std::string& path, TVideoItem* entry);
    void Prepare(const std::string& path, TVideoItem* entry);
    // "确定": false (with "请填写标题.") while the title is empty; else the
    // fields go into the entry.
    bool Confirm();
    // A new entry made by Prepare(), handed over after Confirm().
    std::unique_ptr<TVideoItem> TakeNewEntry() { return std::move(new_entry_); }
    TVideoItem* Entry() const { return entry_; }

    QLineEdit* edtTitle;
    QPlainTextEdit* mmoDescr;
    QTreeWidget* trvCategory;
    QLabel* ImageGrabbed;
    QPushButton* ButtonGrab;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;
    std::function<void(const QString& text)> Message;

  private:
    void Grab();
    TSpeedCore& core_;
    TVideoItem* entry_ = nullptr;
    std::unique_ptr<TVideoItem> new_entry_;
    std::string path_;
};

}  // namespace tarvospeed
