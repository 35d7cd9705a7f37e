// TfrmSetting ("参数设置") with its frame TfraConfig: the cache folder, the
// space limit and the auto-start. Saving writes the registry (and the
// autostart entry) through the core, and offers to restart the helpers when
// the folder or the limit changed.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <functional>

#include "frm_waiting.h"
#include "speed/speed_core.h"

namespace tarvospeed {

class TfraConfig : public QWidget {
    Q_OBJECT
  public:
    explicit TfraConfig(QWidget* parent = nullptr);
    // Loads the registry into the fields.
    void LoadConfig(const std::string& program_folder);
    // Checks the fields with the messages; true when they may be saved.
    bool Validate();
    void UpdateSpaceLabel();

    QLineEdit* edtTempPath;
    QPushButton* btnBrowse;
    QSpinBox* edtMaxSpace;
    QLabel* lblDiskSpace;
    QCheckBox* chkStart;

    TSettingData Loaded, Edited;
    std::int64_t FreeBytes = 0;
    // Seam: shows a message (a message box by default).
    std::function<void(const QString& text)> Message;
};

class TfrmSetting : public QDialog {
    Q_OBJECT
  public:
    TfrmSetting(TSpeedCore& core, std::string program_folder, std::string program_path,
                QWidget* parent = nullptr);
    void ShowSettings();  // loads the frame
    // Save (btnOk): validates, writes, asks about the restart. true when saved.
    bool Save();

    TfraConfig* fraConfig;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    TfrmWaiting* Waiting;
    // Seam: the restart question; true for "是".
    std::function<bool(const QString& text)> Ask;

  private:
    TSpeedCore& core_;
    std::string folder_, program_path_;
};

}  // namespace tarvospeed
