#pragma once
// "Auto-Scan Options" and "Scan Options": the scanner's settings as sliders
// and radios bound to ScanOptionsValues, every label text and rule taken from
// declick/ScanOptions.h. The advanced block hides behind "Advanced >>".

#include "declick/ScanOptions.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QComboBox;

namespace kelvane {

class CScanOptionsDialog : public QDialog {
    Q_OBJECT
public:
    enum class Kind { AutoScan, Scan };
    // Scan: the caption names the operation ("Re-Scan Block", ...) and the
    // explanation sits above the controls.
    CScanOptionsDialog(Kind kind, const ScanOptionsValues& values, QWidget* parent = nullptr,
                       const QString& caption = {}, const QString& explanation = {});

    const ScanOptionsValues& Values() const { return values_; }
    bool AdvancedShown() const;

    // The controls, for tests and screenshots.
    QSlider* MainSlider() const { return mainSlider_; }
    QLabel* MainLabel() const { return mainLabel_; }
    QLabel* Note() const { return note_; }
    QRadioButton* VinylButton() const { return vinyl_; }
    QRadioButton* TapeButton() const { return tape_; }
    QPushButton* AdvancedButton() const { return advanced_; }
    QPushButton* RestoreDefaultButton() const { return restore_; }
    QPushButton* AdvDefaultsButton() const { return advDefaults_; }
    QSlider* AgcSlider() const { return agc_; }
    QSlider* DiscriminatorSlider() const { return discriminator_; }
    QSlider* MinMagnitudeSlider() const { return minMagnitude_; }
    QRadioButton* DifferentialButton() const { return differential_; }
    QRadioButton* NarrowButton() const { return narrow_; }

    void SetAdvancedShown(bool shown);

private:
    void Build(const QString& explanation);
    // Puts values_ onto every control and label.
    void Refresh();
    void Highlight(QWidget* widget, bool on);

    Kind kind_;
    ScanOptionsValues values_;
    bool refreshing_ = false;
    QRadioButton* vinyl_ = nullptr;
    QRadioButton* tape_ = nullptr;
    QSlider* mainSlider_ = nullptr;
    QLabel* mainLabel_ = nullptr;
    QGroupBox* thresholdGroup_ = nullptr;
    QCheckBox* split_ = nullptr;
    QCheckBox* gapless_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* advanced_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* advDefaults_ = nullptr;
    QWidget* advancedBlock_ = nullptr;
    QSlider* agc_ = nullptr;
    QLabel* agcLabel_ = nullptr;
    QSlider* discriminator_ = nullptr;
    QLabel* discriminatorLabel_ = nullptr;
    QSlider* minMagnitude_ = nullptr;
    QLabel* minMagnitudeLabel_ = nullptr;
    QGroupBox* modeGroup_ = nullptr;
    QRadioButton* differential_ = nullptr;
    QRadioButton* perChannel_ = nullptr;
    QRadioButton* normal_ = nullptr;
    QRadioButton* narrow_ = nullptr;
    QComboBox* passes_ = nullptr;
    QCheckBox* userCorrections_ = nullptr;
    QCheckBox* cuts_ = nullptr;
};

}  // namespace kelvane
