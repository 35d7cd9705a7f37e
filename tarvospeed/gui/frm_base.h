// TfrmBase: what every window of the program shares. A session-ending flag,
// cleared at creation and at each showing, set when the desktop session asks
// to end (the answer is always yes).
#pragma once

#include <QWidget>

namespace tarvospeed {

class TfrmBase : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmBase(QWidget* parent = nullptr, Qt::WindowFlags f = {});
    bool SessionEnding() const { return session_ending_; }
    void MarkSessionEnding() { session_ending_ = true; }

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    bool session_ending_ = false;
};

}  // namespace tarvospeed
