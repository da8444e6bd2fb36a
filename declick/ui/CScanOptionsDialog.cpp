#include "CScanOptionsDialog.h"

#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace kelvane {

namespace so = scanoptions;

namespace {

QSlider* MakeSlider(int high, const char* tip, QWidget* parent)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(0, high);
    s->setPageStep(1);
    s->setTickPosition(QSlider::TicksBelow);
    s->setTickInterval(1);
    s->setToolTip(tip);
    return s;
}

QRadioButton* MakeRadio(const char* text, const char* tip, QWidget* parent)
{
    auto* r = new QRadioButton(text, parent);
    r->setToolTip(tip);
    return r;
}

}  // namespace

CScanOptionsDialog::CScanOptionsDialog(Kind kind, const ScanOptionsValues& values, QWidget* parent,
                                       const QString& caption, const QString& explanation)
    : QDialog(parent), kind_(kind), values_(values)
{
    setObjectName(kind == Kind::AutoScan ? "autoScanOptions" : "scanOptions");
    setWindowTitle(kind == Kind::AutoScan ? QString(so::kAutoScanTitle) : caption);
    // A re-scan looks for clicks whatever the source of the recording.
    if (kind == Kind::Scan) values_.source = settings::kSourceVinyl;
    Build(explanation);
    SetAdvancedShown(false);
    Refresh();
}

void CScanOptionsDialog::Build(const QString& explanation)
{
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (!explanation.isEmpty()) layout->addWidget(new QLabel(explanation, this));

    auto* top = new QHBoxLayout;
    auto* sourceGroup = new QGroupBox(so::kSourceGroup, this);
    auto* sourceLayout = new QVBoxLayout(sourceGroup);
    vinyl_ = MakeRadio(so::kVinyl, so::kTipVinyl, sourceGroup);
    tape_ = MakeRadio(so::kTape, so::kTipTape, sourceGroup);
    sourceLayout->addWidget(vinyl_);
    sourceLayout->addWidget(tape_);
    // The re-scan dialog scans for clicks only; its source is the record's.
    sourceGroup->setVisible(kind_ == Kind::AutoScan);
    top->addWidget(sourceGroup);

    thresholdGroup_ = new QGroupBox(this);
    auto* thresholdLayout = new QVBoxLayout(thresholdGroup_);
    mainLabel_ = new QLabel(thresholdGroup_);
    mainSlider_ = MakeSlider(5, so::kTipMainSlider, thresholdGroup_);
    restore_ = new QPushButton(so::kRestoreDefault, thresholdGroup_);
    restore_->setToolTip(so::kTipRestoreDefault);
    thresholdLayout->addWidget(mainLabel_);
    thresholdLayout->addWidget(mainSlider_);
    thresholdLayout->addWidget(restore_, 0, Qt::AlignRight);
    top->addWidget(thresholdGroup_, 1);
    layout->addLayout(top);

    auto* splitGroup = new QGroupBox(so::kTrackSplitting, this);
    auto* splitLayout = new QHBoxLayout(splitGroup);
    split_ = new QCheckBox(so::kEnable, splitGroup);
    split_->setToolTip(so::kTipSplit);
    gapless_ = new QCheckBox(so::kGapless, splitGroup);
    splitLayout->addWidget(split_);
    splitLayout->addWidget(gapless_);
    splitGroup->setVisible(kind_ == Kind::AutoScan);
    layout->addWidget(splitGroup);

    // The re-scan's extras, hidden: the passes of a super-scan are chosen
    // by the command itself.
    passes_ = new QComboBox(this);
    passes_->setToolTip(so::kPassesTip);
    for (int n = 1; n <= 10; ++n) passes_->addItem(QString::number(n));
    userCorrections_ = new QCheckBox(so::kUserCorrections, this);
    cuts_ = new QCheckBox(so::kCuts, this);
    for (QWidget* w : {static_cast<QWidget*>(passes_), static_cast<QWidget*>(userCorrections_), static_cast<QWidget*>(cuts_)})
        w->hide();

    auto* noteRow = new QHBoxLayout;
    note_ = new QLabel(this);
    note_->setObjectName("advancedNote");
    advanced_ = new QPushButton(so::kAdvancedShow, this);
    advanced_->setToolTip(so::kTipAdvanced);
    noteRow->addWidget(note_, 1);
    noteRow->addWidget(advanced_);
    layout->addLayout(noteRow);

    advancedBlock_ = new QWidget(this);
    auto* adv = new QGridLayout(advancedBlock_);
    adv->setContentsMargins(0, 0, 0, 0);
    auto addSliderGroup = [&](const char* title, QSlider*& slider, QLabel*& label, int high, const char* tip, int row,
                              int col) {
        auto* group = new QGroupBox(title, advancedBlock_);
        auto* l = new QVBoxLayout(group);
        label = new QLabel(group);
        slider = MakeSlider(high, tip, group);
        l->addWidget(label);
        l->addWidget(slider);
        adv->addWidget(group, row, col);
    };
    addSliderGroup(so::kAgcGroup, agc_, agcLabel_, 3, so::kTipAgc, 0, 0);
    addSliderGroup(so::kDiscriminatorGroup, discriminator_, discriminatorLabel_, 3, so::kTipDiscriminator, 0, 1);
    addSliderGroup(so::kMinMagnitudeGroup, minMagnitude_, minMagnitudeLabel_, 10, so::kTipMinMagnitude, 0, 2);
    modeGroup_ = new QGroupBox(so::kModeGroup, advancedBlock_);
    auto* modeLayout = new QVBoxLayout(modeGroup_);
    differential_ = MakeRadio(so::kDifferential, so::kTipDifferential, modeGroup_);
    perChannel_ = MakeRadio(so::kPerChannel, so::kTipPerChannel, modeGroup_);
    modeLayout->addWidget(differential_);
    modeLayout->addWidget(perChannel_);
    adv->addWidget(modeGroup_, 1, 0);
    auto* widthGroup = new QGroupBox(so::kWidthGroup, advancedBlock_);
    auto* widthLayout = new QVBoxLayout(widthGroup);
    normal_ = MakeRadio(so::kNormal, so::kTipNormal, widthGroup);
    narrow_ = MakeRadio(so::kNarrow, so::kTipNarrow, widthGroup);
    widthLayout->addWidget(normal_);
    widthLayout->addWidget(narrow_);
    adv->addWidget(widthGroup, 1, 1);
    advDefaults_ = new QPushButton(so::kAdvDefaults, advancedBlock_);
    advDefaults_->setToolTip(so::kTipAdvDefaults);
    adv->addWidget(advDefaults_, 1, 2, Qt::AlignBottom | Qt::AlignRight);
    layout->addWidget(advancedBlock_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(kind_ == Kind::AutoScan ? "OK" : so::kScan, QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    auto changed = [this](auto apply) {
        return [this, apply](auto... args) {
            if (refreshing_) return;
            apply(args...);
            Refresh();
        };
    };
    connect(vinyl_, &QRadioButton::toggled, this, changed([this](bool on) {
        if (on) values_.source = settings::kSourceVinyl;
    }));
    connect(tape_, &QRadioButton::toggled, this, changed([this](bool on) {
        if (on) values_.source = settings::kSourceTape;
    }));
    connect(mainSlider_, &QSlider::valueChanged, this, changed([this](int v) { SetMainSlider(values_, v); }));
    connect(agc_, &QSlider::valueChanged, this, changed([this](int v) { values_.agc = v; }));
    connect(discriminator_, &QSlider::valueChanged, this, changed([this](int v) { values_.discriminator = v; }));
    connect(minMagnitude_, &QSlider::valueChanged, this, changed([this](int v) { values_.minMagnitude = v; }));
    connect(differential_, &QRadioButton::toggled, this, changed([this](bool on) {
        values_.mode = on ? settings::kModeDifferential : settings::kModePerChannel;
    }));
    connect(narrow_, &QRadioButton::toggled, this, changed([this](bool on) {
        values_.corWidth = on ? settings::kCorWidthNarrow : settings::kCorWidthNormal;
    }));
    connect(split_, &QCheckBox::toggled, this, changed([this](bool on) { values_.splitTracks = on ? 1 : 0; }));
    connect(gapless_, &QCheckBox::toggled, this, changed([this](bool on) { values_.gapless = on ? 1 : 0; }));
    connect(restore_, &QPushButton::clicked, this, changed([this](bool) { RestoreBasicDefaults(values_); }));
    connect(advDefaults_, &QPushButton::clicked, this, changed([this](bool) { RestoreAdvancedDefaults(values_); }));
    connect(advanced_, &QPushButton::clicked, this, [this] { SetAdvancedShown(!AdvancedShown()); });
}

bool CScanOptionsDialog::AdvancedShown() const { return !advancedBlock_->isHidden(); }

void CScanOptionsDialog::SetAdvancedShown(bool shown)
{
    advancedBlock_->setVisible(shown);
    advanced_->setText(shown ? so::kAdvancedHide : so::kAdvancedShow);
}

void CScanOptionsDialog::Highlight(QWidget* widget, bool on)
{
    widget->setStyleSheet(on ? "color: rgb(0, 0, 192); font-weight: bold" : "");
}

void CScanOptionsDialog::Refresh()
{
    refreshing_ = true;
    const ScanOptionsValues& v = values_;
    vinyl_->setChecked(!v.Tape());
    tape_->setChecked(v.Tape());
    const SliderRange range = kelvane::MainSlider(v);
    mainSlider_->setRange(range.low, range.high);
    mainSlider_->setValue(range.value);
    mainLabel_->setText(QString::fromStdString(MainSliderLabel(v)));
    Highlight(mainLabel_, MainSliderHighlighted(v));
    split_->setChecked(v.splitTracks != 0);
    gapless_->setChecked(v.gapless != 0);
    gapless_->setEnabled(v.splitTracks != 0);
    agc_->setValue(v.agc);
    discriminator_->setValue(v.discriminator);
    minMagnitude_->setValue(v.minMagnitude);
    agcLabel_->setText(QString::fromStdString(AgcLabel(v.agc)));
    discriminatorLabel_->setText(QString::fromStdString(DiscriminatorLabel(v.discriminator)));
    minMagnitudeLabel_->setText(QString::fromStdString(MinMagnitudeLabel(v.minMagnitude)));
    Highlight(agcLabel_, v.agc != 0);
    Highlight(discriminatorLabel_, v.discriminator != 0);
    Highlight(minMagnitudeLabel_, v.minMagnitude != 0);
    differential_->setChecked(v.mode == settings::kModeDifferential);
    perChannel_->setChecked(v.mode != settings::kModeDifferential);
    normal_->setChecked(v.corWidth != settings::kCorWidthNarrow);
    narrow_->setChecked(v.corWidth == settings::kCorWidthNarrow);
    Highlight(differential_, v.mode == settings::kModeDifferential);
    Highlight(narrow_, v.corWidth == settings::kCorWidthNarrow);
    const bool detector = DetectorControlsEnabled(v);
    for (QWidget* w : {static_cast<QWidget*>(modeGroup_), static_cast<QWidget*>(agc_), static_cast<QWidget*>(agcLabel_),
                       static_cast<QWidget*>(discriminator_), static_cast<QWidget*>(discriminatorLabel_),
                       static_cast<QWidget*>(minMagnitude_), static_cast<QWidget*>(minMagnitudeLabel_)})
        w->setEnabled(detector);
    note_->setText(QString::fromStdString(AdvancedNote(v)));
    note_->setStyleSheet(AdvancedAtDefault(v) ? "" : "color: red");
    refreshing_ = false;
}

}  // namespace kelvane
