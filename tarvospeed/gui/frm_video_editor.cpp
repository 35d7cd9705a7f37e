#include "frm_video_editor.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPixmap>

namespace tarvospeed {

namespace {

constexpr int ROLE_TAG = Qt::UserRole;

void copy_tags(QTreeWidgetItem* parent, QTreeWidget* tree, const TCategoryNode& node,
               const TVideoItem& entry) {
    for (const auto& child : node.Children) {
        if (!child->Data) continue;
        auto* item = parent ? new QTreeWidgetItem(parent, {QString::fromStdString(child->Text)})
                            : new QTreeWidgetItem(tree, {QString::fromStdString(child->Text)});
        item->setData(0, ROLE_TAG, child->Data->Index);
        item->setCheckState(0, entry.HasSpecial(child->Data->Index) ? Qt::Checked : Qt::Unchecked);
        copy_tags(item, tree, *child, entry);
    }
}

void checked_tags(QTreeWidgetItem* item, std::vector<int>& out) {
    if (item->checkState(0) == Qt::Checked) out.push_back(item->data(0, ROLE_TAG).toInt());
    for (int i = 0; i < item->childCount(); ++i) checked_tags(item->child(i), out);
}

}  // namespace

TfrmVideoEditor::TfrmVideoEditor(TSpeedCore& core, QWidget* parent) : QDialog(parent), core_(core) {
    setObjectName("frmVideoEditor");
    setWindowTitle("我的视频收藏信息");
    resize(724, 500);
    auto* grid = new QGridLayout(this);
    auto* lblGrabPic = new QLabel(
        "        视频下载后，会自动给您截取一张缩略图,您在用鼠标划过视频列表时,"
        "可以看到这个截图,如果您对我们自动截取的缩略图不满意,也可以在视频播放过程中点击下面"
        "\"截取缩略图\"按钮,获取您想要的视频截图.",
        this);
    lblGrabPic->setObjectName("lblGrabPic");
    lblGrabPic->setWordWrap(true);
    grid->addWidget(lblGrabPic, 0, 0, 1, 3);
    ImageGrabbed = new QLabel(this);
    ImageGrabbed->setObjectName("ImageGrabbed");
    ImageGrabbed->setFixedSize(120, 90);
    grid->addWidget(ImageGrabbed, 1, 0);
    ButtonGrab = new QPushButton("截取缩略图", this);
    ButtonGrab->setObjectName("ButtonGrab");
    grid->addWidget(ButtonGrab, 1, 1);
    grid->addWidget(new QLabel("标题", this), 2, 0);
    edtTitle = new QLineEdit(this);
    edtTitle->setObjectName("edtTitle");
    edtTitle->setMaxLength(40);
    grid->addWidget(edtTitle, 2, 1);
    grid->addWidget(new QLabel("(必填,小于20个字)", this), 2, 2);
    grid->addWidget(new QLabel("简介", this), 3, 0);
    mmoDescr = new QPlainTextEdit(this);
    mmoDescr->setObjectName("mmoDescr");
    grid->addWidget(mmoDescr, 3, 1, 1, 2);
    grid->addWidget(new QLabel("标签", this), 4, 0);
    trvCategory = new QTreeWidget(this);
    trvCategory->setObjectName("trvCategory");
    trvCategory->setHeaderHidden(true);
    grid->addWidget(trvCategory, 4, 1, 1, 2);
    ButtonOK = new QPushButton("确定", this);
    ButtonOK->setObjectName("ButtonOK");
    ButtonCancel = new QPushButton("取消", this);
    ButtonCancel->setObjectName("ButtonCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);
    grid->addLayout(buttons, 5, 0, 1, 3);

    Message = [this](const QString& text) { QMessageBox::information(this, "塔沃加速器", text); };
    connect(ButtonGrab, &QPushButton::clicked, this, [this] { Grab(); });
    connect(ButtonOK, &QPushButton::clicked, this, [this] {
        if (Confirm()) accept();
    });
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    // A click on a node toggles its mark, not only its box.
    connect(trvCategory, &QTreeWidget::itemClicked, this, [](QTreeWidgetItem* item, int) {
        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    });
}

void TfrmVideoEditor::Prepare(const std::string& path, TVideoItem* entry) {
    path_ = path;
    new_entry_.reset();
    if (entry == nullptr) {
        new_entry_ = std::make_unique<TVideoItem>();
        new_entry_->Title = UNNAMED_TITLE;
        new_entry_->Path = path;
        new_entry_->ReadFileData();
        entry = new_entry_.get();
    }
    entry_ = entry;
    edtTitle->setText(QString::fromStdString(entry->Title));
    QString descr = QString::fromStdString(entry->Descr);
    descr.replace("\r\n", "\n");
    mmoDescr->setPlainText(descr);
    trvCategory->clear();
    copy_tags(nullptr, trvCategory, core_.Manager->Categories.Root(), *entry);
    trvCategory->expandAll();
    QPixmap pic(QString::fromStdString(entry->GrabPath));
    if (entry->GrabPath.empty() || pic.isNull()) {
        ImageGrabbed->clear();
        Grab();  // no thumbnail yet: take one now
    } else {
        ImageGrabbed->setPixmap(pic);
    }
    edtTitle->setFocus();
    edtTitle->selectAll();
}

void TfrmVideoEditor::Grab() {
    std::string error;
    if (core_.Manager->GrabThumbnail(*entry_, error) == 0)
        ImageGrabbed->setPixmap(QPixmap(QString::fromStdString(entry_->GrabPath)));
}

bool TfrmVideoEditor::Confirm() {
    QString title = edtTitle->text().trimmed();
    if (title.isEmpty()) {
        Message("请填写标题.");
        edtTitle->setFocus();
        return false;
    }
    entry_->Title = title.toStdString();
    std::vector<int> tags;
    for (int i = 0; i < trvCategory->topLevelItemCount(); ++i)
        checked_tags(trvCategory->topLevelItem(i), tags);
    entry_->Specials = tags;
    QString descr = mmoDescr->toPlainText();
    descr.replace("\n", "\r\n");
    entry_->Descr = descr.toStdString();
    return true;
}

TVideoItem* TfrmVideoEditor::EditVideo(const std::string& path, TVideoItem* entry) {
    Prepare(path, entry);
    if (exec() != QDialog::Accepted) {
        new_entry_.reset();
        return nullptr;
    }
    return entry_;
}

}  // namespace tarvospeed
