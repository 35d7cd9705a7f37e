#include "frm_video_preview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "frm_about.h"
#include "frm_setting.h"
#include "frm_video_editor.h"
#include "platform/folder_walk.h"
#include "platform/self.h"

namespace tarvospeed {

namespace {

constexpr int ROLE_PATH = Qt::UserRole;
constexpr int ROLE_STATE = Qt::UserRole + 1;  // the node's state index
constexpr int ROLE_TAG = Qt::UserRole + 2;    // a tag node's index
constexpr int ROLE_TIME = Qt::UserRole + 3;   // a row's date, for sorting
constexpr int ROLE_SIZE = Qt::UserRole + 4;   // a row's size in bytes

QString q(const std::string& s) { return QString::fromStdString(s); }

void add_tag_nodes(QTreeWidgetItem* parent, const TCategoryNode& node) {
    for (const auto& child : node.Children) {
        auto* item = new QTreeWidgetItem(parent, {q(child->Text)});
        item->setData(0, ROLE_STATE, TAG_STATE_INDEX);
        item->setData(0, ROLE_TAG, child->Data ? child->Data->Index : 0);
        add_tag_nodes(item, *child);
    }
}

}  // namespace

TfrmVideoPreview::TfrmVideoPreview(TSpeedCore& core, QWidget* parent)
    : TfrmBase(parent), core_(core) {
    setObjectName("frmVideoPreview");
    setWindowTitle("塔沃-视频加速器");
    resize(800, 500);

    trvSpecials = new QTreeWidget(this);
    trvSpecials->setObjectName("trvSpecials");
    trvSpecials->setHeaderHidden(true);
    trvSpecials->setSelectionMode(QAbstractItemView::SingleSelection);
    trvSpecials->setStyleSheet("QTreeWidget { background: rgb(240, 240, 255); border: none; }");
    nodeRecent = new QTreeWidgetItem(trvSpecials, {"近3天下载的视频"});
    nodeRecent->setData(0, ROLE_STATE, NODE_RECENT);
    nodeAll = new QTreeWidgetItem(trvSpecials, {"所有视频"});
    nodeAll->setData(0, ROLE_STATE, NODE_ALL);
    nodeMyTags = new QTreeWidgetItem(trvSpecials, {"我的标签"});
    nodeMyTags->setData(0, ROLE_STATE, NODE_MY_TAGS);

    lswVideos = new QTreeWidget(this);
    lswVideos->setObjectName("lswVideos");
    lswVideos->setRootIsDecorated(false);
    lswVideos->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lswVideos->setSelectionBehavior(QAbstractItemView::SelectRows);
    lswVideos->setHeaderLabels({"视频", "下载时间", "文件大小", "操作"});
    lswVideos->setColumnWidth(0, 150);
    lswVideos->setColumnWidth(1, 120);
    lswVideos->setColumnWidth(2, 97);
    lswVideos->setColumnWidth(3, 90);
    lswVideos->setToolTip("双击使用默认播放器播放");
    lswVideos->setDragEnabled(true);

    auto* split = new QSplitter(this);
    split->setObjectName("splVideo");
    split->addWidget(trvSpecials);
    split->addWidget(lswVideos);
    split->setStretchFactor(1, 1);
    pnlStatus0 = new QLabel(this);
    pnlStatus0->setObjectName("ftbMain0");
    pnlStatus1 = new QLabel(this);
    pnlStatus1->setObjectName("ftbMain1");
    auto* status = new QHBoxLayout;
    status->addWidget(pnlStatus0, 400);
    status->addWidget(pnlStatus1, 50);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(status);

    ppmMain = new QMenu(this);
    ppmMain->setObjectName("ppmMain");
    mniStart = ppmMain->addAction("启动加速(&S)");
    mniStart->setObjectName("mniStart");
    mniStart->setCheckable(true);
    mniMyVideo = ppmMain->addAction("我的视频(&M)");
    mniMyVideo->setObjectName("mniMyVideo");
    mniConfig = ppmMain->addAction("参数设置(&C)");
    mniConfig->setObjectName("mniConfig");
    mniUpdate = ppmMain->addAction("在线升级(&U)");
    mniUpdate->setObjectName("mniUpdate");
    mniAbout = ppmMain->addAction("关于产品(&A)");
    mniAbout->setObjectName("mniAbout");
    mniExit = ppmMain->addAction("退出(&X)");
    mniExit->setObjectName("mniExit");
    tryMain = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
    tryMain->setObjectName("tryMain");
    tryMain->setToolTip("Quorlen塔沃视频加速器");
    tryMain->setContextMenu(ppmMain);

    connect(mniStart, &QAction::triggered, this, [this] { ToggleAcceleration(); });
    connect(mniMyVideo, &QAction::triggered, this, [this] { ShowMainWindow(); });
    connect(mniExit, &QAction::triggered, this, [this] { emit ExitRequested(); });
    connect(mniUpdate, &QAction::triggered, this, [this] {
        // No updater program is part of this system.
        QMessageBox::information(this, "在线更新", "目前没有可用更新，请以后再试！");
    });
    connect(tryMain, &QSystemTrayIcon::activated, this, [this] { ShowMainWindow(); });
    connect(trvSpecials, &QTreeWidget::itemSelectionChanged, this, [this] { LoadVideos(); });
    connect(lswVideos->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { SortByColumn(column); });

    ppmVideoList = new QMenu(this);
    ppmVideoList->setObjectName("ppmVideoList");
    mniVideoSelectAll = ppmVideoList->addAction("全选(&A)");
    mniVideoSelectAll->setObjectName("mniVideoSelectAll");
    mniVideoDeleteList = ppmVideoList->addAction("删除(&D)");
    mniVideoDeleteList->setObjectName("mniVideoDeleteList");
    mniVideoEdit = ppmVideoList->addAction("编辑");
    mniVideoEdit->setObjectName("mniVideoEdit");
    lswVideos->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lswVideos, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        ppmVideoList->popup(lswVideos->viewport()->mapToGlobal(p));
    });
    connect(mniVideoSelectAll, &QAction::triggered, lswVideos, &QTreeWidget::selectAll);
    connect(mniVideoDeleteList, &QAction::triggered, this, [this] { DeleteVideos(); });
    connect(mniVideoEdit, &QAction::triggered, this, [this] { EditRow(lswVideos->currentItem()); });
    connect(mniConfig, &QAction::triggered, this, [this] { ShowSettings(); });

    ppmSpecials = new QMenu(this);
    ppmSpecials->setObjectName("ppmSpecials");
    mniNewSpecial = ppmSpecials->addAction("添加新标签(&N)");
    mniNewSpecial->setObjectName("mniNewSpecial");
    mniDeleteSpecial = ppmSpecials->addAction("删除标签(&D)");
    mniDeleteSpecial->setObjectName("mniDeleteSpecial");
    mniRenameSpecial = ppmSpecials->addAction("修改标签名称(&F)");
    mniRenameSpecial->setObjectName("mniRenameSpecial");
    trvSpecials->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(trvSpecials, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QTreeWidgetItem* item = trvSpecials->itemAt(p);
        if (!item || item->data(0, ROLE_STATE).toInt() <= NODE_ALL) return;
        trvSpecials->setCurrentItem(item);
        bool tag = item->data(0, ROLE_STATE).toInt() == TAG_STATE_INDEX;
        mniDeleteSpecial->setVisible(tag);
        mniRenameSpecial->setVisible(tag);
        ppmSpecials->popup(trvSpecials->viewport()->mapToGlobal(p));
    });
    connect(mniNewSpecial, &QAction::triggered, this, [this] {
        QTreeWidgetItem* parent = trvSpecials->currentItem();
        if (!parent) return;
        editing_tag_ = true;
        auto* node = new QTreeWidgetItem(parent, {""});
        node->setData(0, ROLE_STATE, TAG_STATE_INDEX);
        node->setData(0, ROLE_TAG, 0);  // 0: not yet a tag
        node->setFlags(node->flags() | Qt::ItemIsEditable);
        editing_tag_ = false;
        parent->setExpanded(true);
        trvSpecials->editItem(node);
    });
    connect(mniRenameSpecial, &QAction::triggered, this, [this] {
        if (QTreeWidgetItem* item = trvSpecials->currentItem()) {
            item->setFlags(item->flags() | Qt::ItemIsEditable);
            trvSpecials->editItem(item);
        }
    });
    connect(mniDeleteSpecial, &QAction::triggered, this,
            [this] { DeleteTag(trvSpecials->currentItem()); });
    connect(trvSpecials, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (editing_tag_ || item->data(0, ROLE_STATE).toInt() != TAG_STATE_INDEX) return;
        FinishTagEdit(item, item->text(0), item->data(0, ROLE_TAG).toInt() == 0);
    });
    Message = [this](const QString& text) { QMessageBox::information(this, "塔沃提示", text); };
    frmSetting = new TfrmSetting(core_, platform::program_folder(), platform::program_path(), this);
    frmVideoEditor = new TfrmVideoEditor(core_, this);
    frmAbout = new TfrmAbout(q(core_.Proxy.DownloadPage), this);
    frmAbout->setWindowFlags(frmAbout->windowFlags() | Qt::Window);
    connect(mniAbout, &QAction::triggered, this, [this] {
        if (!frmAbout->isVisible()) frmAbout->show();
    });

    timClear = new QTimer(this);
    timClear->setObjectName("timClear");
    timClear->setInterval(CLEAR_PART_INTERVAL_MS);
    connect(timClear, &QTimer::timeout, this, [this] { ClearPartFiles(); });
    timClear->start();

    AskTagDelete = [this](const QString& text) {
        return QMessageBox::question(this, "塔沃提示", text,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    };
    ConfirmDelete = [this](const QString& text) {
        return QMessageBox::question(this, "塔沃提示", text) == QMessageBox::Yes;
    };
    core_.OnVideoReady = [this](const std::string& header, const std::string& text, TVideoItem&) {
        trvSpecials->setCurrentItem(nodeRecent);
        LoadVideos();
        if (lswVideos->topLevelItemCount() > 0)
            lswVideos->setCurrentItem(lswVideos->topLevelItem(0));
        ShowAlert(q(header), q(text));
    };

    UpdateStartItem();
    LoadTags();
    if (QSystemTrayIcon::isSystemTrayAvailable()) tryMain->show();
}

void TfrmVideoPreview::UpdateStartItem() {
    bool on = core_.Accelerating();
    mniStart->setChecked(on);
    mniStart->setText(on ? "停止加速(&S)" : "启动加速(&S)");
    mniStart->setProperty("imageIndex", on ? 6 : 5);
    mniStart->setIcon(style()->standardIcon(on ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
}

void TfrmVideoPreview::ToggleAcceleration() {
    // The action toggles its own check before this runs; the core follows it.
    if (core_.Accelerating())
        core_.StopAcceleration();
    else
        core_.StartAcceleration();
    UpdateStartItem();
}

void TfrmVideoPreview::LoadTags() {
    editing_tag_ = true;  // building the nodes is no user edit
    qDeleteAll(nodeMyTags->takeChildren());
    add_tag_nodes(nodeMyTags, core_.Manager->Categories.Root());
    editing_tag_ = false;
    trvSpecials->expandAll();
}

void TfrmVideoPreview::ShowMainWindow() {
    LoadTags();
    show();
    raise();
    activateWindow();
}

TVideoCategory* TfrmVideoPreview::CurrentTag() const {
    QTreeWidgetItem* item = trvSpecials->currentItem();
    if (!item || item->data(0, ROLE_STATE).toInt() != TAG_STATE_INDEX) return nullptr;
    return core_.Manager->Categories.FindByIndex(item->data(0, ROLE_TAG).toInt());
}

void TfrmVideoPreview::AddRow(const TViewRow& row) {
    std::string title = row.Title;
    std::size_t slash = title.find_last_of("/\\");
    if (slash != std::string::npos) title = title.substr(slash + 1);
    std::int64_t size = row.Video ? row.Video->Size : row.File->FileSize;
    auto* item = new QTreeWidgetItem(
        lswVideos, {q(title), q(local_time_text(row.Time())),
                    QString::number(static_cast<double>(size) / 1024.0, 'f', 0) + "KB", "操作"});
    item->setData(0, ROLE_PATH, q(row.Path()));
    item->setData(0, ROLE_TIME, static_cast<qlonglong>(row.Time()));
    item->setData(0, ROLE_SIZE, static_cast<qlonglong>(size));
    item->setTextAlignment(3, Qt::AlignCenter);
}

void TfrmVideoPreview::LoadVideos() {
    lswVideos->clear();
    QTreeWidgetItem* node = trvSpecials->currentItem();
    if (!node) return;
    int state = node->data(0, ROLE_STATE).toInt();
    const TViewList* rows = nullptr;
    if (state == TAG_STATE_INDEX) {
        if (TVideoCategory* tag = CurrentTag()) rows = &core_.Manager->TagVideos(*tag);
    } else if (state == NODE_ALL) {
        rows = &core_.Manager->AllVideos();
    } else if (state == NODE_RECENT) {
        rows = &core_.Manager->RecentVideos();
    }
    if (!rows) return;
    for (const TViewRow& row : *rows) AddRow(row);
    sort_direction_ = true;
    SortByColumn(1);
    std::int64_t free_bytes = platform::disk_free_bytes(core_.Manager->CachePath);
    std::int64_t free_mb = free_bytes < 0 ? 0 : free_bytes / 1048576;
    pnlStatus0->setText(
        QString("当前所有视频占用的空间: %1 M").arg(core_.Manager->ScannedSize() / 1048576));
    pnlStatus1->setText(QString("当前磁盘剩余空间: %1 M").arg(free_mb));
}

bool TfrmVideoPreview::FinishTagEdit(QTreeWidgetItem* item, const QString& text, bool is_new) {
    QString name = text.trimmed();
    TVideoCategoryTree& tree = core_.Manager->Categories;
    auto refuse = [&](const QString& message) {
        Message(message);
        editing_tag_ = true;
        if (is_new) {
            delete item;
        } else if (TVideoCategory* tag = tree.FindByIndex(item->data(0, ROLE_TAG).toInt())) {
            item->setText(0, q(tag->Name));  // the old name stays
        }
        editing_tag_ = false;
        return false;
    };
    if (name.isEmpty()) return refuse("请输入有效的标签名,中文,字母均可");
    const QString taken = QString("已经有个标签叫做\"%1\"了").arg(name);
    QTreeWidgetItem* parent_item = item->parent();
    TCategoryNode* parent = nullptr;
    if (parent_item && parent_item != nodeMyTags)
        parent = tree.FindNode(parent_item->data(0, ROLE_TAG).toInt());
    if (is_new) {
        TCategoryNode* node = nullptr;
        TVideoCategory* tag = tree.AddCategory(parent, name.toStdString(), &node);
        if (!tag) return refuse(taken);
        editing_tag_ = true;
        item->setText(0, name);
        item->setData(0, ROLE_TAG, tag->Index);
        editing_tag_ = false;
    } else {
        TCategoryNode* node = tree.FindNode(item->data(0, ROLE_TAG).toInt());
        if (!node || !tree.RenameCategory(node, name.toStdString())) return refuse(taken);
        editing_tag_ = true;
        item->setText(0, name);
        editing_tag_ = false;
    }
    if (tree.SaveToXml(core_.SpecialsFile()) != 0) Message("cannot save specials.xml");
    return true;
}

void TfrmVideoPreview::DeleteTag(QTreeWidgetItem* item) {
    if (!item || item->data(0, ROLE_STATE).toInt() != TAG_STATE_INDEX) return;
    TVideoCategoryTree& tree = core_.Manager->Categories;
    tree.DeleteCategory(tree.FindNode(item->data(0, ROLE_TAG).toInt()));
    delete item;
    if (tree.SaveToXml(core_.SpecialsFile()) != 0) Message("cannot save specials.xml");
}

void TfrmVideoPreview::SortByColumn(int column) {
    if (column < 0 || column > 2) return;
    if (sort_column_ < 0 || sort_column_ == column) sort_direction_ = !sort_direction_;
    sort_column_ = column;
    QList<QTreeWidgetItem*> items;
    while (lswVideos->topLevelItemCount() > 0) items.append(lswVideos->takeTopLevelItem(0));
    auto compare = [column](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        if (column == 0)
            return QString::localeAwareCompare(a->text(0).toLower(), b->text(0).toLower());
        if (column == 1) {
            qlonglong ta = a->data(0, ROLE_TIME).toLongLong(),
                      tb = b->data(0, ROLE_TIME).toLongLong();
            return ta > tb ? -1 : ta < tb ? 1 : 0;  // newer first
        }
        qlonglong sa = a->data(0, ROLE_SIZE).toLongLong(), sb = b->data(0, ROLE_SIZE).toLongLong();
        return sa < sb ? -1 : sa > sb ? 1 : 0;  // smaller first
    };
    const bool natural = sort_direction_;
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        int c = compare(a, b);
        return natural ? c < 0 : c > 0;
    });
    lswVideos->addTopLevelItems(items);
}

bool TfrmVideoPreview::DropOnTag(QTreeWidgetItem* tag_item) {
    if (!tag_item || tag_item->data(0, ROLE_STATE).toInt() != TAG_STATE_INDEX) return false;
    TVideoCategory* tag =
        core_.Manager->Categories.FindByIndex(tag_item->data(0, ROLE_TAG).toInt());
    if (!tag) return false;
    for (QTreeWidgetItem* row : lswVideos->selectedItems()) {
        std::string path = row->data(0, ROLE_PATH).toString().toStdString();
        TVideoItem* entry = core_.Manager->Videos.FindByPath(path);
        if (!entry) {
            // A cache file without an entry becomes one, titled as its row.
            auto item = std::make_unique<TVideoItem>();
            item->Title = row->text(0).toStdString();
            item->Path = path;
            item->ReadFileData();
            entry = item.get();
            core_.Manager->AddVideo(std::move(item));
        }
        core_.Manager->AddToTag(*tag, *entry);
    }
    core_.SaveLibrary();
    trvSpecials->viewport()->update();
    return true;
}

void TfrmVideoPreview::DeleteSelectedFromDisk() {
    const QList<QTreeWidgetItem*> rows = lswVideos->selectedItems();
    if (rows.isEmpty() || !ConfirmDelete("确定从磁盘上删除吗？")) return;
    std::vector<std::string> paths;
    for (QTreeWidgetItem* row : rows) {
        std::string path = row->data(0, ROLE_PATH).toString().toStdString();
        // The thumbnail goes with its video.
        if (TVideoItem* v = core_.Manager->Videos.FindByPath(path); v && !v->GrabPath.empty())
            platform::file_remove(v->GrabPath);
        paths.push_back(path);
    }
    core_.DeleteFromDisk(paths);
    for (QTreeWidgetItem* row : rows) delete row;
}

void TfrmVideoPreview::DeleteVideos() {
    TVideoCategory* tag = CurrentTag();
    if (!tag) {
        DeleteSelectedFromDisk();
        return;
    }
    const QList<QTreeWidgetItem*> rows = lswVideos->selectedItems();
    if (rows.isEmpty()) return;
    QMessageBox::StandardButton answer = AskTagDelete(
        QString("将从\"%1\"标签中删除，同时也删除磁盘文件吗?\r\n删除请按\"是\", 否则请按\"否\"。")
            .arg(q(tag->Name)));
    if (answer == QMessageBox::Cancel) return;
    std::vector<std::string> paths;
    for (QTreeWidgetItem* row : rows) {
        std::string path = row->data(0, ROLE_PATH).toString().toStdString();
        if (TVideoItem* v = core_.Manager->Videos.FindByPath(path)) {
            v->RemoveSpecial(tag->Index);
            if (answer == QMessageBox::Yes && !v->GrabPath.empty())
                platform::file_remove(v->GrabPath);
        }
        paths.push_back(path);
    }
    if (answer == QMessageBox::Yes) core_.DeleteFromDisk(paths, true);
    for (QTreeWidgetItem* row : rows) delete row;
    core_.SaveLibrary();
}

void TfrmVideoPreview::ClearPartFiles() {
    TSysFileList parts;
    parts.Scan(core_.Manager->CachePath, ".part");
    for (std::size_t i = 0; i < parts.Count(); ++i) parts.Item(i).DeleteFile();
}

void TfrmVideoPreview::EditRow(QTreeWidgetItem* row) {
    if (!row) return;
    std::string path = row->data(0, ROLE_PATH).toString().toStdString();
    TVideoItem* entry = core_.Manager->Videos.FindByPath(path);
    TVideoItem* edited = frmVideoEditor->EditVideo(path, entry);
    if (!edited) return;
    if (!entry) core_.Manager->AddVideo(frmVideoEditor->TakeNewEntry());
    core_.SaveLibrary();
    row->setText(0, q(edited->Title));
}

void TfrmVideoPreview::ShowSettings() {
    if (frmSetting->isVisible()) {
        frmSetting->raise();
        return;
    }
    frmSetting->ShowSettings();
    if (frmSetting->exec() == QDialog::Accepted) {
        UpdateStartItem();
        LoadVideos();
    }
}

void TfrmVideoPreview::ShowAlert(const QString& header, const QString& text) {
    // The desktop's own notice through the tray; without a tray, a message
    // in the window's status line.
    if (tryMain->isVisible())
        tryMain->showMessage(header, text);
    else
        pnlStatus0->setText(header + text);
}

void TfrmVideoPreview::closeEvent(QCloseEvent* e) {
    hide();
    e->ignore();
}

}  // namespace tarvospeed
