#include "uFrmSmallPlayer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <filesystem>

#include "PlayerMessages.h"

namespace {

constexpr int kClientWidth = 674;
constexpr int kClientHeight = 456;
// Mouse moves in full-screen mode that count as the user being back.
constexpr int kMovesToWake = 30;

}  // namespace

TfrmSmallPlayer::TfrmSmallPlayer(const TDSPlayerConfig& config, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName("frmSmallPlayer");
    setWindowTitle(QString::fromUtf8(kPlayerCaption));
    resize(kClientWidth, kClientHeight);

    auto* left = new QWidget;
    fraVideoWindow = new TfraVideoWindow(left);
    fraDSControler = new TfraDSControler(left);
    auto* left_layout = new QVBoxLayout(left);
    left_layout->setContentsMargins(0, 0, 0, 0);
    left_layout->setSpacing(0);
    left_layout->addWidget(fraVideoWindow, 1);
    left_layout->addWidget(fraDSControler);
    fraMediaList = new TfraMediaList;
    splitMain = new QSplitter(Qt::Horizontal, this);
    splitMain->setObjectName("splitMain");
    splitMain->addWidget(left);
    splitMain->addWidget(fraMediaList);
    splitMain->setStretchFactor(0, 1);
    splitMain->setSizes({kClientWidth - 160, 160});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitMain);

    timTaskBar.setObjectName("timTaskBar");
    timTaskBar.setInterval(300);
    dlgOpenVideo = new QFileDialog(this);
    dlgOpenVideo->setObjectName("dlgOpenVideo");

    player_ = std::make_unique<TMediaPlayer>(fraVideoWindow->Surface(), config);
    fraDSControler->SetPlayer(player_.get());
    fraMediaList->SetPlayer(player_.get());
    player_->on_opened = [this](bool ok) { Opened(ok); };

    connect(fraVideoWindow, &TfraVideoWindow::clicked, this, [this] { player_->PauseResume(); });
    connect(fraVideoWindow, &TfraVideoWindow::doubleClicked, this, [this] {
        if (player_->State() == TDSPlayer::stopped) return;
        // The first click of the double-click paused or resumed; undo it.
        player_->PauseResume();
        ToggleFullScreen();
    });
    connect(fraVideoWindow, &TfraVideoWindow::mouseMoved, this, &TfrmSmallPlayer::MouseMoved);
    connect(fraVideoWindow, &TfraVideoWindow::mouseEntered, this,
            [this] { fraVideoWindow->timHideMouse.start(); });
    connect(fraVideoWindow, &TfraVideoWindow::mouseIdle, this, [this] {
        if (full_screen_) SetCursorHidden(true);
    });
    // The twin of showing and hiding the task bar: a stopped file ends full
    // screen, as the window's own timer does it.
    connect(&timTaskBar, &QTimer::timeout, this, [this] {
        if (full_screen_ && player_->State() == TDSPlayer::stopped) LeaveFullScreen();
    });
}

TfrmSmallPlayer::~TfrmSmallPlayer() {
    // The frames stay until QWidget's destructor; unbind them from the player
    // that goes first.
    fraDSControler->SetPlayer(nullptr);
    fraMediaList->SetPlayer(nullptr);
    player_.reset();
}

void TfrmSmallPlayer::ShowAndRaise() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TfrmSmallPlayer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timTaskBar.start();
}

void TfrmSmallPlayer::PlayFile(const std::string& path, const std::string& title) {
    const int index = player_->Index();
    if (isVisible() && index >= 0 && index < player_->Count() &&
        player_->Item(index).path == path) {
        ShowAndRaise();
        return;
    }
    player_->ClearList();
    player_->AddMedia(path,
                      title.empty() ? std::filesystem::path(path).filename().string() : title);
    ShowAndRaise();
    player_->PlayIndex(0);
}

void TfrmSmallPlayer::PlayList(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    player_->ClearList();
    for (const std::string& line : lines) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            player_->AddMedia(line, "");
        else
            player_->AddMedia(line.substr(0, eq), line.substr(eq + 1));
    }
    ShowAndRaise();
    player_->PlayIndex(0);
}

void TfrmSmallPlayer::Opened(bool) {
    const TDSPlayer& player = player_->Player();
    const char* text = player_message(player.LastOpenResult());
    if (!text) return;
    last_message_ = QString::fromUtf8(text) + "\n" + QString::fromStdString(player.FileName());
    if (message_) message_->close();
    // Not modal: the window, the play list and the program go on.
    message_ = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(kPlayerCaption),
                               last_message_, QMessageBox::Ok, this);
    message_->setAttribute(Qt::WA_DeleteOnClose);
    message_->setWindowModality(Qt::NonModal);
    message_->show();
}

void TfrmSmallPlayer::closeEvent(QCloseEvent* event) {
    if (full_screen_) LeaveFullScreen();
    player_->ClearList();
    player_->Stop();
    player_->Player().Release();
    timTaskBar.stop();
    QWidget::closeEvent(event);
}

void TfrmSmallPlayer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && full_screen_) {
        LeaveFullScreen();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmSmallPlayer::ToggleFullScreen() {
    if (full_screen_)
        LeaveFullScreen();
    else
        EnterFullScreen();
}

void TfrmSmallPlayer::EnterFullScreen() {
    full_screen_ = true;
    normal_bounds_ = geometry();
    fraDSControler->hide();
    fraMediaList->hide();
    splitMain->handle(1)->hide();
    setWindowFlag(Qt::FramelessWindowHint, true);
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
    showFullScreen();
    setGeometry(0, 0, screen.width(), screen.height() + 10);
    mouse_moves_ = 0;
}

void TfrmSmallPlayer::LeaveFullScreen() {
    full_screen_ = false;
    SetCursorHidden(false);
    fraVideoWindow->timHideMouse.stop();
    setWindowFlag(Qt::FramelessWindowHint, false);
    showNormal();
    setGeometry(normal_bounds_);
    fraDSControler->show();
    fraMediaList->show();
    splitMain->handle(1)->show();
}

void TfrmSmallPlayer::MouseMoved() {
    if (!full_screen_) return;
    if (++mouse_moves_ > kMovesToWake) {
        mouse_moves_ = 0;
        SetCursorHidden(false);
        fraVideoWindow->timHideMouse.start();
    }
}

void TfrmSmallPlayer::SetCursorHidden(bool hidden) {
    fraVideoWindow->setCursor(hidden ? Qt::CrossCursor : Qt::ArrowCursor);
    fraDSControler->setVisible(!hidden);
}
