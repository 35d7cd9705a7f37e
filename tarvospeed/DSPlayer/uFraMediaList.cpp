#include "uFraMediaList.h"

#include <QHeaderView>
#include <QVBoxLayout>

TfraMediaList::TfraMediaList(QWidget* parent) : QWidget(parent) {
    setObjectName("fraMediaList");
    lswPlayList = new QTreeWidget(this);
    lswPlayList->setObjectName("lswPlayList");
    lswPlayList->setColumnCount(1);
    lswPlayList->setHeaderLabels({QStringLiteral("节目单")});
    lswPlayList->setRootIsDecorated(false);
    lswPlayList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lswPlayList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lswPlayList->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lswPlayList);
    connect(lswPlayList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (player_) player_->PlayIndex(lswPlayList->indexOfTopLevelItem(item));
    });
}

TfraMediaList::~TfraMediaList() {
    if (player_) player_->SetListListener(nullptr);
}

void TfraMediaList::SetPlayer(TMediaPlayer* player) {
    if (player_) player_->SetListListener(nullptr);
    player_ = player;
    if (player_) player_->SetListListener(this);
}

void TfraMediaList::MediaAdded(const TMediaData& item) {
    auto* row = new QTreeWidgetItem(lswPlayList);
    row->setText(0, QString::fromStdString(item.title));
    row->setToolTip(0, QString::fromStdString(item.path));
}

void TfraMediaList::MediaCleared() { lswPlayList->clear(); }

void TfraMediaList::MediaSelected(int index) {
    QTreeWidgetItem* row = lswPlayList->topLevelItem(index);
    if (row) lswPlayList->setCurrentItem(row);
}
