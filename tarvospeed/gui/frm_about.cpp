#include "frm_about.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGridLayout>
#include <QUrl>

namespace tarvospeed {

TfrmAbout::TfrmAbout(const QString& link, QWidget* parent)
    : TfrmBase(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName("frmAbout");
    setWindowTitle("关于产品");
    setWindowModality(Qt::ApplicationModal);
    resize(446, 185);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("产品名称： 塔沃—视频加速器", this), 0, 0, 1, 2);
    // No version resource on this platform: the program's own version text.
    lblVersion = new QLabel(QString("当前版本：") + DEFAULT_VERSION, this);
    lblVersion->setObjectName("lblVersion");
    grid->addWidget(lblVersion, 1, 0, 1, 2);
    grid->addWidget(new QLabel("产品主页： ", this), 2, 0);
    lblLink = new QLabel(link, this);
    lblLink->setObjectName("lblLink");
    lblLink->setCursor(Qt::PointingHandCursor);
    lblLink->setStyleSheet("color: blue;");
    lblLink->installEventFilter(this);
    grid->addWidget(lblLink, 2, 1);
    btnClose = new QPushButton("关闭", this);
    btnClose->setObjectName("btnClose");
    grid->addWidget(btnClose, 3, 1, Qt::AlignRight);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
}

bool TfrmAbout::eventFilter(QObject* o, QEvent* e) {
    if (o == lblLink) {
        if (e->type() == QEvent::Enter) lblLink->setStyleSheet("color: red;");
        if (e->type() == QEvent::Leave) lblLink->setStyleSheet("color: blue;");
        if (e->type() == QEvent::MouseButtonRelease && !lblLink->text().isEmpty())
            QDesktopServices::openUrl(QUrl(lblLink->text()));
    }
    return TfrmBase::eventFilter(o, e);
}

}  // namespace tarvospeed
