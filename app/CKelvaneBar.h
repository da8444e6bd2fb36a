#pragma once
// The display bar: the display and playback controls above the waveform
// view, with their ranges and first values. It is created hidden and shows
// with the waveform view; its choices are stored as the settings name them.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;

namespace kelvane {

class ISettingsStore;

class CKelvaneBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kVerticalSteps[6] = {20, 50, 100, 200, 500, 1000};

    CKelvaneBar(ISettingsStore& store, QWidget* parent = nullptr);

    // Spin position 1..6 of "V mV/Div"; others, and any while "Auto S." is
    // checked, change nothing. Returns whether it changed.
    bool SetVerticalPosition(int position);
    int VerticalValue() const { return verticalValue_; }
    // "Trace Sep" position, clamped to 0..8; stored as position x 50.
    void SetTraceSeparation(int position);
    // "%s%02d:%02d:%03d" of a frame count from the reference point.
    static QString CursorText(qint64 frames, int sampleRate);
    void SetCursorFrames(qint64 frames, int sampleRate);
    QString CursorShown() const;

    // The waveform view's scale as the bar shows it: the index in the spin,
    // the value and its unit ("H Smp/Div", ...) beside it.
    void ShowScale(int index, const QString& value, const QString& unit);

    QSpinBox* VerticalSpin() const { return vSpin_; }
    QSpinBox* HorizontalSpin() const { return hSpin_; }
    QSpinBox* SeparationSpin() const { return sepSpin_; }
    QPushButton* WaveButton() const { return wave_; }
    QPushButton* TrackButton() const { return track_; }
    // "play/show left channel" and "play/show right channel".
    QToolButton* ChannelButton(int channel) const { return channels_[channel]; }
    QCheckBox* AutoScaleBox() const { return autoScale_; }

private:
    ISettingsStore& store_;
    QPushButton* wave_ = nullptr;
    QToolButton* channels_[2] = {};
    QPushButton* track_ = nullptr;
    QSpinBox* hSpin_ = nullptr;
    QLineEdit* hEdit_ = nullptr;
    QLabel* hLabel_ = nullptr;
    QSpinBox* sepSpin_ = nullptr;
    QLineEdit* sepEdit_ = nullptr;
    QSpinBox* vSpin_ = nullptr;
    QLineEdit* vEdit_ = nullptr;
    QCheckBox* autoScale_ = nullptr;
    QLabel* cursor_ = nullptr;
    QSlider* speed_ = nullptr;
    QLabel* speedLabel_ = nullptr;
    int verticalPosition_ = 5;
    int verticalValue_ = 500;
};

}  // namespace kelvane
