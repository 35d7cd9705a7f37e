// TfrmWaiting ("塔沃加速器"): a small notice while copying or restarting. It
// shows a text, then its final text when Timer1 fires (or Done() is called),
// and closes when Timer2 fires after that.
#pragma once

#include <QLabel>
#include <QTimer>

#include "frm_base.h"

namespace tarvospeed {

class TfrmWaiting : public TfrmBase {
    Q_OBJECT
  public:
    explicit TfrmWaiting(QWidget* parent = nullptr);
    void ShowTimed(const QString& text, const QString& final_text, int ms);
    void ShowUntilDone(const QString& text, const QString& final_text);
    void Done();

    QLabel* lblMsg;
    QTimer* Timer1;
    QTimer* Timer2;

  private:
    QString final_;
};

}  // namespace tarvospeed
