#include "CKelvaneBar.h"

#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>

namespace kelvane {

namespace {

QLineEdit* ValueBox(const QString& text, QWidget* parent)
{
    auto* e = new QLineEdit(text, parent);
    e->setReadOnly(true);
    e->setMaximumWidth(48);
    return e;
}

}  // namespace

CKelvaneBar::CKelvaneBar(ISettingsStore& store, QWidget* parent) : QWidget(parent), store_(store)
{
    setObjectName("kelvaneBar");
    auto* row = new QHBoxLayout(this);
    wave_ = new QPushButton("Wave", this);
    wave_->setToolTip("set display to show waveform");
    track_ = new QPushButton("Track", this);
    track_->setToolTip("set display to show tracks");
    row->addWidget(wave_);
    row->addWidget(track_);

    hSpin_ = new QSpinBox(this);
    hSpin_->setRange(1, 20);
    hSpin_->setValue(4);
    hEdit_ = ValueBox("50", this);
    hLabel_ = new QLabel("H Smp/Div", this);
    row->addWidget(hEdit_);
    row->addWidget(hSpin_);
    row->addWidget(hLabel_);

    sepSpin_ = new QSpinBox(this);
    sepSpin_->setRange(0, 8);
    sepSpin_->setValue(2);
    sepEdit_ = ValueBox("2", this);
    row->addWidget(new QLabel("Trace Sep", this));
    row->addWidget(sepEdit_);
    row->addWidget(sepSpin_);
    connect(sepSpin_, &QSpinBox::valueChanged, this, &CKelvaneBar::SetTraceSeparation);

    for (const char* tip : {"play/show left channel", "play/show right channel"}) {
        auto* b = new QToolButton(this);
        channels_[tip[10] == 'l' ? 0 : 1] = b;
        b->setCheckable(true);
        b->setChecked(true);
        b->setText(tip[10] == 'l' ? "L" : "R");
        b->setToolTip(tip);
        row->addWidget(b);
    }

    row->addWidget(new QLabel("Cursor Position", this));
    cursor_ = new QLabel(CursorText(0, 44100), this);
    row->addWidget(cursor_);

    speed_ = new QSlider(Qt::Horizontal, this);
    speed_->setRange(1, 5);
    speed_->setValue(1);
    speed_->setToolTip("playback speed slider");
    speed_->setMaximumWidth(80);
    speedLabel_ = new QLabel("Playback Speed\nX 1", this);
    connect(speed_, &QSlider::valueChanged, this, [this](int v) {
        speedLabel_->setText(v == 1 ? QString("Playback Speed\nX 1") : QString("Playback Speed\nX 1/%1").arg(v));
    });
    row->addWidget(speed_);
    row->addWidget(speedLabel_);

    vSpin_ = new QSpinBox(this);
    // One past each end, so that a step outside 1..6 reaches the rule
    // below and is refused there.
    vSpin_->setRange(0, 7);
    vSpin_->setValue(verticalPosition_);
    vEdit_ = ValueBox("500", this);
    row->addWidget(new QLabel("V mV/Div", this));
    row->addWidget(vEdit_);
    row->addWidget(vSpin_);
    connect(vSpin_, &QSpinBox::valueChanged, this, [this](int v) {
        if (!SetVerticalPosition(v)) {
            const QSignalBlocker block(vSpin_);
            vSpin_->setValue(verticalPosition_);
        }
    });
    autoScale_ = new QCheckBox("Auto S.", this);
    autoScale_->setToolTip("auto scale the vertical range");
    autoScale_->setChecked(store_.Get(settings::AutoScale) != 0);
    vSpin_->setEnabled(!autoScale_->isChecked());
    connect(autoScale_, &QCheckBox::toggled, this, [this](bool on) {
        vSpin_->setEnabled(!on);
        store_.Set(settings::AutoScale, on ? 1 : 0);
    });
    row->addWidget(autoScale_);
    row->addStretch();
}

bool CKelvaneBar::SetVerticalPosition(int position)
{
    if (autoScale_->isChecked() || position < 1 || position > 6) return false;
    verticalPosition_ = position;
    verticalValue_ = kVerticalSteps[position - 1];
    vEdit_->setText(QString::number(verticalValue_));
    return true;
}

void CKelvaneBar::ShowScale(int index, const QString& value, const QString& unit)
{
    const QSignalBlocker block(hSpin_);
    hSpin_->setValue(index);
    hEdit_->setText(value);
    hLabel_->setText(unit);
}

void CKelvaneBar::SetTraceSeparation(int position)
{
    position = std::clamp(position, 0, 8);
    sepEdit_->setText(QString::number(position));
    store_.Set(settings::TraceSep, position * 50);
}

QString CKelvaneBar::CursorText(qint64 frames, int sampleRate)
{
    const qint64 f = std::llabs(frames);
    const qint64 rate = sampleRate > 0 ? sampleRate : 44100;
    return QString::asprintf("%s%02d:%02d:%03d", frames < 0 ? "-" : "", static_cast<int>(f / (rate * 60)),
                             static_cast<int>((f / rate) % 60), static_cast<int>((f % rate) * 1000 / rate));
}

void CKelvaneBar::SetCursorFrames(qint64 frames, int sampleRate) { cursor_->setText(CursorText(frames, sampleRate)); }

QString CKelvaneBar::CursorShown() const { return cursor_->text(); }

}  // namespace kelvane
