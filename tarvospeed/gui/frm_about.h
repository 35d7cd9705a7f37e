// TfrmAbout: the about box, shown modally from the tray menu. The link is the
// maker's download page, a deployment value ([web] download_page of
// "tarvospeed.ini"; none when unset).
#pragma once

#include <QLabel>
#include <QPushButton>

#include "frm_base.h"

namespace tarvospeed {

constexpr const char* DEFAULT_VERSION = "1.0.0 (Build 0)";

class TfrmAbout : public TfrmBase {
    Q_OBJECT
  public:
    explicit TfrmAbout(const QString& link, QWidget* parent = nullptr);

    QLabel* lblVersion;
    QLabel* lblLink;
    QPushButton* btnClose;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override;
};

}  // namespace tarvospeed
