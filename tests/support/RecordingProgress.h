#pragma once
// A progress window that remembers everything shown in it and can press
// Cancel on cue. The code under test owns the window (it gets a unique_ptr
// from CreateProgress), so the record lives in a shared ProgressLog that the
// test keeps after the window is gone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document/CProgressWnd.h"

namespace kelvane::test {

struct ProgressLog {
    bool savingLayout = false;              // as created
    std::vector<int32_t> positions;         // every SetPos/StepIt result, in order
    std::vector<size_t> rangeStarts;        // positions.size() at each SetRange
    std::vector<std::pair<int32_t, int32_t>> ranges;
    std::vector<std::string> captions;      // every SetCaption
    std::vector<std::string> messages;      // every SetMessage
    std::vector<std::string> messages2;     // every SetMessage2
    std::vector<std::string> percents;      // each new percentage text
    std::vector<std::pair<int, int>> stages;  // (current, marked) each time it moved
    std::vector<std::string> stageNames;    // names as last set
    std::vector<bool> cancelEnabled;        // every EnableCancel
    int pumps = 0;
    int cancelsRequested = 0;               // cancels this window pressed on cue
    bool destroyed = false;

    // Index into positions of the first value smaller than the one before it
    // with no SetRange in between; nullopt if positions only grow.
    std::optional<size_t> FirstBackwardStep() const;
};

class RecordingProgress : public CProgressWnd {
public:
    explicit RecordingProgress(bool savingLayout = false);
    ~RecordingProgress() override;

    // Presses Cancel during the nth Pump from now on counting from 1 (every
    // SetPos, StepIt and Cancelled pumps once). 0 disarms.
    void CancelAtPump(int n);
    // Presses Cancel once, when the position first reaches at least pos.
    void CancelAtPos(int32_t pos);

    std::shared_ptr<const ProgressLog> Log() const { return log_; }

protected:
    void Pump() override;
    void Changed(Field field) override;

private:
    std::shared_ptr<ProgressLog> log_;
    int cancelAtPump_ = 0;
    std::optional<int32_t> cancelAtPos_;
};

}  // namespace kelvane::test
