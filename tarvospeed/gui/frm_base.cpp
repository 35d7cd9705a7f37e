#include "frm_base.h"

namespace tarvospeed {

TfrmBase::TfrmBase(QWidget* parent, Qt::WindowFlags f) : QWidget(parent, f) {}

void TfrmBase::showEvent(QShowEvent* e) {
    session_ending_ = false;
    QWidget::showEvent(e);
}

}  // namespace tarvospeed
