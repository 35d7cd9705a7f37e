#include "frm_waiting.h"

#include <QVBoxLayout>
#include <climits>

namespace tarvospeed {

TfrmWaiting::TfrmWaiting(QWidget* parent)
    : TfrmBase(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
    setObjectName("frmWaiting");
    setWindowTitle("塔沃加速器");
    resize(337, 86);
    lblMsg = new QLabel("正在复制文件，请稍候...", this);
    lblMsg->setObjectName("lblMsg");
    lblMsg->setAlignment(Qt::AlignCenter);
    (new QVBoxLayout(this))->addWidget(lblMsg);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setSingleShot(true);
    Timer2->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Done(); });
    connect(Timer2, &QTimer::timeout, this, [this] { close(); });
}

void TfrmWaiting::ShowTimed(const QString& text, const QString& final_text, int ms) {
    lblMsg->setText(text);
    final_ = final_text;
    Timer2->stop();
    Timer1->start(ms);
    show();
    repaint();
}

void TfrmWaiting::ShowUntilDone(const QString& text, const QString& final_text) {
    ShowTimed(text, final_text, INT_MAX);
}

void TfrmWaiting::Done() {
    lblMsg->setText(final_);
    Timer1->stop();
    Timer2->start();
}

}  // namespace tarvospeed
