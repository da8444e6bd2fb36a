#include "tests/support/RecordingProgress.h"

namespace kelvane::test {

std::optional<size_t> ProgressLog::FirstBackwardStep() const
{
    size_t nextRange = 0;
    for (size_t i = 1; i < positions.size(); ++i) {
        bool rangeReset = false;
        while (nextRange < rangeStarts.size() && rangeStarts[nextRange] <= i) {
            rangeReset = rangeReset || rangeStarts[nextRange] == i;
            ++nextRange;
        }
        if (!rangeReset && positions[i] < positions[i - 1]) return i;
    }
    return std::nullopt;
}

RecordingProgress::RecordingProgress(bool savingLayout) : log_(std::make_shared<ProgressLog>())
{
    SetSavingLayout(savingLayout);
    log_->savingLayout = savingLayout;
    log_->stageNames.resize(kStageCount);
}

RecordingProgress::~RecordingProgress()
{
    log_->destroyed = true;
}

void RecordingProgress::CancelAtPump(int n)
{
    cancelAtPump_ = n > 0 ? log_->pumps + n : 0;
}

void RecordingProgress::CancelAtPos(int32_t pos)
{
    cancelAtPos_ = pos;
}

void RecordingProgress::Pump()
{
    ++log_->pumps;
    if (cancelAtPump_ != 0 && log_->pumps == cancelAtPump_) {
        cancelAtPump_ = 0;
        ++log_->cancelsRequested;
        RequestCancel();
    }
}

void RecordingProgress::Changed(Field field)
{
    ProgressLog& log = *log_;
    switch (field) {
    case Field::Caption:
        log.captions.push_back(Caption());
        break;
    case Field::Range:
        log.rangeStarts.push_back(log.positions.size());
        log.ranges.emplace_back(RangeLow(), RangeHigh());
        break;
    case Field::Pos:
        log.positions.push_back(Pos());
        if (cancelAtPos_ && Pos() >= *cancelAtPos_) {
            cancelAtPos_.reset();
            ++log.cancelsRequested;
            RequestCancel();
        }
        break;
    case Field::Percent:
        log.percents.push_back(Percent());
        break;
    case Field::Message:
        log.messages.push_back(Message());
        break;
    case Field::Message2:
        log.messages2.push_back(Message2());
        break;
    case Field::Stages:
        // Names and the current/marked pair share one notification; record
        // the pair only when it moved, so renaming does not add fake steps.
        for (int i = 0; i < kStageCount; ++i) log.stageNames[static_cast<size_t>(i)] = StageName(i);
        if (log.stages.empty() ? (CurrentStage() != -1 || MarkedStage() != -1)
                               : log.stages.back() != std::make_pair(CurrentStage(), MarkedStage()))
            log.stages.emplace_back(CurrentStage(), MarkedStage());
        break;
    case Field::CancelButton:
        log.cancelEnabled.push_back(CancelEnabled());
        break;
    }
}

}  // namespace kelvane::test
