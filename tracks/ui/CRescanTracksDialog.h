#pragma once
// "Re-Scan for Tracks": the three choices, the target count and the gapless
// box of RescanTracksRequest. "Scan" hands the request to RescanTracks.

#include "tracks/RescanTracks.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace kelvane {

class CRescanTracksDialog : public QDialog {
    Q_OBJECT
public:
    CRescanTracksDialog(const RescanTracksRequest& initial, QWidget* parent = nullptr);

    RescanTracksRequest Request() const;

    QRadioButton* AutoDetectButton() const { return autoDetect_; }
    QRadioButton* UserAssistedButton() const { return userAssisted_; }
    QRadioButton* RemoveAllButton() const { return removeAll_; }
    QComboBox* TargetList() const { return target_; }
    QCheckBox* GaplessBox() const { return gapless_; }

private:
    QRadioButton* autoDetect_ = nullptr;
    QRadioButton* userAssisted_ = nullptr;
    QRadioButton* removeAll_ = nullptr;
    QComboBox* target_ = nullptr;
    QCheckBox* gapless_ = nullptr;
};

}  // namespace kelvane
