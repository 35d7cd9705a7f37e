// TfrmSmallPlayer: the built-in player window ("塔沃播放器"): the video area
// and the control frame on the left, the play list on the right.
//
// Created once at program start and reused: every `PlayFile` or `PlayList`
// replaces its list. A file that cannot be played as a whole is reported in a
// message box that does not block (the window and the program go on); the
// last one shown is `LastMessage`. Closing the window clears the list and
// stops playback. Full screen: a click on the video pauses or resumes, a
// double-click toggles full screen, Esc leaves it.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "MediaPlayer.h"
#include "uFraControler.h"
#include "uFraMediaList.h"
#include "uFraVideoWindow.h"

class TfrmSmallPlayer : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmSmallPlayer(const TDSPlayerConfig& config = {}, QWidget* parent = nullptr);
    ~TfrmSmallPlayer() override;

    // Plays one file; `title` "" shows the file name.
    void PlayFile(const std::string& path, const std::string& title);
    // Lines of path "=" title; an empty list changes nothing.
    void PlayList(const std::vector<std::string>& lines);

    TMediaPlayer& MediaPlayer() { return *player_; }
    bool FullScreenMode() const { return full_screen_; }
    // The text of the last message box ("" when none was shown).
    QString LastMessage() const { return last_message_; }

    TfraVideoWindow* fraVideoWindow;
    TfraDSControler* fraDSControler;
    TfraMediaList* fraMediaList;
    QSplitter* splitMain;
    QTimer timTaskBar;
    QFileDialog* dlgOpenVideo;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void ShowAndRaise();
    void Opened(bool ok);
    void ToggleFullScreen();
    void EnterFullScreen();
    void LeaveFullScreen();
    void MouseMoved();
    void SetCursorHidden(bool hidden);

    std::unique_ptr<TMediaPlayer> player_;
    bool full_screen_ = false;
    QRect normal_bounds_;
    int mouse_moves_ = 0;
    QString last_message_;
    QPointer<QMessageBox> message_;
};
