// TfrmVideoPreview: the main window ("塔沃-视频加速器"): the tag tree
// trvSpecials, the video list lswVideos, the status bar, the tray icon
// tryMain with its menu ppmMain, and the 30-minute ".part" clean-up timClear.
//
// The window is thin: every file, registry, process and pipe step is the
// core's (TSpeedCore); the window shows what the core has and calls it on
// the user's actions. Closing the window only hides it; mniExit ends the
// program.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "frm_base.h"
#include "speed/speed_core.h"

namespace tarvospeed {

constexpr int CLEAR_PART_INTERVAL_MS = 1800000;
// Fixed nodes of the tag tree, by state index.
constexpr int NODE_RECENT = 0, NODE_ALL = 1, NODE_MY_TAGS = 2;

class TfrmVideoPreview : public TfrmBase {
    Q_OBJECT
  public:
    explicit TfrmVideoPreview(TSpeedCore& core, QWidget* parent = nullptr);

    // Refills the list for the selected node.
    void LoadVideos();
    // Rebuilds the tag nodes below "我的标签" from the core's tree.
    void LoadTags();
    void ShowMainWindow();
    // The tray's "启动加速(&S)" / "停止加速(&S)".
    void ToggleAcceleration();
    // Rows dropped onto the tag node `tag_item`: each selected row's video
    // joins the tag ("videos.xml" saved). false when the node is no tag.
    bool DropOnTag(QTreeWidgetItem* tag_item);
    // mniVideoDeleteList / row button 3. Without a tag selected: asks
    // (ConfirmDelete) and deletes the rows' files from disk with their
    // entries. In a tag: asks Yes/No/Cancel (AskTagDelete); the rows leave the
    // tag, and on Yes their files (not their entries) leave the disk too.
    void DeleteVideos();
    void DeleteSelectedFromDisk();
    // The 30-minute clean-up: every ".part" file of the cache folder.
    void ClearPartFiles();
    // Row button 2 ("编辑"): the editor for the row's video; a plain cache file
    // gets its entry when the edit is confirmed. "videos.xml" saved.
    void EditRow(QTreeWidgetItem* row);
    // mniConfig / btnConfig: the settings dialog, the list refreshed on OK.
    void ShowSettings();
    // The end of editing a tag node's text (`item` a tag, or a new node below
    // "我的标签" or a tag when `is_new`): trimmed; empty or a sibling's name is
    // refused with the Part's message (a refused new node goes). true when
    // the tag was added or renamed and "specials.xml" saved.
    bool FinishTagEdit(QTreeWidgetItem* item, const QString& text, bool is_new);
    // mniDeleteSpecial: the selected tag and its sub-tags, without asking.
    void DeleteTag(QTreeWidgetItem* item);
    // Seam: shows a message (a message box by default).
    std::function<void(const QString& text)> Message;
    // A click on column 0, 1 or 2 of the list: the sort of the Part (the
    // same column again flips the direction; the first sort ever flips it).
    void SortByColumn(int column);
    // The start item's check, caption and image follow the core's state.
    void UpdateStartItem();

    // A seam for tests: answers the delete question instead of a dialog.
    std::function<bool(const QString& text)> ConfirmDelete;
    std::function<QMessageBox::StandardButton(const QString& text)> AskTagDelete;

    QTreeWidget* trvSpecials;
    QTreeWidget* lswVideos;
    QLabel* pnlStatus0;
    QLabel* pnlStatus1;
    QSystemTrayIcon* tryMain;
    QMenu* ppmMain;
    QAction *mniStart, *mniMyVideo, *mniConfig, *mniUpdate, *mniAbout, *mniExit;
    QTimer* timClear;
    QMenu* ppmVideoList;
    QMenu* ppmSpecials;
    QAction *mniNewSpecial, *mniDeleteSpecial, *mniRenameSpecial;
    QAction *mniVideoSelectAll, *mniVideoDeleteList, *mniVideoEdit;
    class TfrmSetting* frmSetting;
    class TfrmVideoEditor* frmVideoEditor;
    class TfrmAbout* frmAbout;
    QTreeWidgetItem *nodeRecent, *nodeAll, *nodeMyTags;

  signals:
    void ExitRequested();

  protected:
    void closeEvent(QCloseEvent* e) override;

  private:
    void ShowAlert(const QString& header, const QString& text);
    TVideoCategory* CurrentTag() const;
    void AddRow(const TViewRow& row);

    TSpeedCore& core_;
    bool editing_tag_ = false;  // our own text changes are no user edits
    bool sort_direction_ = true;
    int sort_column_ = -1;
};

}  // namespace tarvospeed
