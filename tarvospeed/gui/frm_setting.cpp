#include "frm_setting.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>

#include "platform/folder_walk.h"
#include "speed/config_store.h"
#include "speed/text_util.h"

namespace tarvospeed {

namespace {

constexpr const char* CAPTION = "塔沃视频加速器";

std::string with_slash(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

}  // namespace

TfraConfig::TfraConfig(QWidget* parent) : QWidget(parent) {
    setObjectName("fraConfig");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("将视频保存到: ", this), 0, 0);
    edtTempPath = new QLineEdit(this);
    edtTempPath->setObjectName("edtTempPath");
    edtTempPath->setMaxLength(260);
    grid->addWidget(edtTempPath, 0, 1);
    btnBrowse = new QPushButton("浏览(&B)", this);
    btnBrowse->setObjectName("btnBrowse");
    grid->addWidget(btnBrowse, 0, 2);
    grid->addWidget(new QLabel("下载文件占用磁盘不超过:", this), 1, 0);
    edtMaxSpace = new QSpinBox(this);
    edtMaxSpace->setObjectName("edtMaxSpace");
    edtMaxSpace->setRange(0, 1 << 30);
    edtMaxSpace->setValue(100);
    grid->addWidget(edtMaxSpace, 1, 1);
    lblDiskSpace = new QLabel("M ( 最小100M)", this);
    lblDiskSpace->setObjectName("lblDiskSpace");
    grid->addWidget(lblDiskSpace, 1, 2);
    chkStart = new QCheckBox("开机自动启动塔沃加速器", this);
    chkStart->setObjectName("chkStart");
    grid->addWidget(chkStart, 2, 0, 1, 3);
    Message = [this](const QString& text) { QMessageBox::information(this, CAPTION, text); };
    connect(edtTempPath, &QLineEdit::textChanged, this, [this] { UpdateSpaceLabel(); });
    connect(btnBrowse, &QPushButton::clicked, this, [this] {
        for (;;) {
            QString dir = QFileDialog::getExistingDirectory(
                this, "请选择一个目录用于保存您使用加速器下载的视频文件。",
                QString::fromStdString(Edited.CachePath));
            if (dir.isEmpty()) return;
            std::string message;
            if (FolderCheck(dir.toStdString(), false, message)) {
                edtTempPath->setText(dir);
                Edited.CachePath = with_slash(dir.toStdString());
                return;
            }
            Message(QString::fromStdString(message));
        }
    });
}

void TfraConfig::LoadConfig(const std::string& program_folder) {
    chkStart->setChecked(ReadAutoStart());
    Loaded = TSettingData{};
    LoadSettings(Loaded, program_folder);
    if (Loaded.CachePath.empty()) Loaded.CachePath = program_folder + "cache/";
    if (Loaded.MaxSpace == 0) Loaded.MaxSpace = DEFAULT_MAX_SPACE_MB;
    Edited = Loaded;
    edtTempPath->setText(QString::fromStdString(Edited.CachePath));
    edtMaxSpace->setValue(std::max(Edited.MaxSpace, MIN_SPACE_MB));
    edtTempPath->setFocus();
    edtTempPath->selectAll();
    UpdateSpaceLabel();
}

void TfraConfig::UpdateSpaceLabel() {
    std::int64_t free = platform::disk_free_bytes(edtTempPath->text().toStdString());
    FreeBytes = free < 0 ? 0 : free;
    lblDiskSpace->setText(
        QString("M   (最小100M, 目前剩余磁盘空间为: %1 M)").arg(FreeBytes / 1048576));
}

bool TfraConfig::Validate() {
    std::string path = edtTempPath->text().trimmed().toStdString();
    bool ok = true;
    if (path.empty()) {
        Message("请选定或输入保存视频的文件路径");
        ok = false;
    } else {
        std::string message;
        if (!FolderCheck(with_slash(path), true, message)) {
            Message(QString::fromStdString(message));
            ok = false;
        }
    }
    if (!ok) {
        edtTempPath->setFocus();
        edtTempPath->selectAll();
        return false;
    }
    int space = edtMaxSpace->value();
    if (space < MIN_SPACE_MB) {
        Message("下载空间最少为100M");
        edtMaxSpace->setFocus();
        edtMaxSpace->selectAll();
        return false;
    }
    if (FreeBytes < static_cast<std::int64_t>(space) * 1024 * 1024) {
        Message("您设置的下载占用空间已经超过了磁盘的剩余空间。");
        return false;
    }
    return true;
}

TfrmSetting::TfrmSetting(TSpeedCore& core, std::string program_folder, std::string program_path,
                         QWidget* parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint),
      core_(core),
      folder_(std::move(program_folder)),
      program_path_(std::move(program_path)) {
    setObjectName("frmSetting");
    setWindowTitle("参数设置");
    resize(612, 204);
    fraConfig = new TfraConfig(this);
    btnOk = new QPushButton("保存(&S)", this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton("取消(&C)", this);
    btnCancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fraConfig);
    layout->addLayout(buttons);
    Waiting = new TfrmWaiting(this);
    Ask = [this](const QString& text) {
        return QMessageBox::question(this, "", text) == QMessageBox::Yes;
    };
    connect(btnOk, &QPushButton::clicked, this, [this] {
        if (Save()) accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] {
        fraConfig->LoadConfig(folder_);
        reject();
    });
}

void TfrmSetting::ShowSettings() { fraConfig->LoadConfig(folder_); }

bool TfrmSetting::Save() {
    if (!fraConfig->Validate()) return false;
    TSettingData& edited = fraConfig->Edited;
    edited.CachePath =
        with_slash(full_path(fraConfig->edtTempPath->text().trimmed().toStdString()));
    edited.MaxSpace = fraConfig->edtMaxSpace->value();
    WriteAutoStart(fraConfig->chkStart->isChecked(), program_path_);
    SaveSettings(edited);
    setting_data() = edited;
    core_.Manager->CachePath = edited.CachePath;

    const TSettingData& loaded = fraConfig->Loaded;
    QString question;
    if (!same_text(with_slash(loaded.CachePath), edited.CachePath)) {
        question =
            "修改视频文件保存目录不会立即生效，\r\n点击“是”，将终止可能正在进行的视频下载，"
            "并重新启动Quorlen视频加速器，\r\n点击“否”，"
            "对视频文件保存目录的修改将在下次启动视频加速器的时候生效。";
    } else if (loaded.MaxSpace != edited.MaxSpace) {
        question =
            "修改下载磁盘空间限制不会立即生效，\r\n点击“是”，将终止可能正在进行的视频下载，"
            "并重新启动Quorlen视频加速器，\r\n点击“否”，"
            "对下载磁盘空间限制的修改将在下次启动视频加速器的时候生效。";
    }
    if (!question.isEmpty() && Ask(question)) {
        core_.StopAcceleration();
        Waiting->ShowTimed("正在启动加速器,请稍候...", "加速器已成功启动!", 2000);
        core_.StartAcceleration();
    }
    fraConfig->Loaded = edited;
    return true;
}

}  // namespace tarvospeed
