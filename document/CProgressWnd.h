#pragma once
// The progress window of a long operation: range, percentage text, stage list
// and the cancel flag. The logic lives here so that every front end shows the
// same thing; a front end overrides the hooks to draw and to pump its events.
// Single-threaded: the cancel flag is set from Pump() on the same thread.

#include <array>
#include <cstdint>
#include <string>

namespace kelvane {

class CProgressWnd {
public:
    static constexpr int kStageCount = 7;
    static constexpr int kShownStages = 5;

    CProgressWnd() = default;
    virtual ~CProgressWnd() = default;
    CProgressWnd(const CProgressWnd&) = delete;
    CProgressWnd& operator=(const CProgressWnd&) = delete;

    void SetRange(int32_t low, int32_t high);
    void SetPos(int32_t pos);  // pumps first
    void StepIt();             // pumps first
    void SetStep(int32_t step) { step_ = step; }
    void SetCaption(const std::string& text);
    void SetMessage(const std::string& text);
    void SetMessage2(const std::string& text);
    void SetStageName(int index, const std::string& name);
    void SetStage(int current, int marked);
    void EnableCancel(bool enable);

    // Pumps pending events, then returns the cancel flag and clears it.
    bool Cancelled();
    // The Cancel button.
    void RequestCancel() { cancelRequested_ = true; }

    // "%d%%": (pos - low) * 100 / (high - low); 100 shows as 100, others mod 100.
    static std::string PercentText(int32_t pos, int32_t low, int32_t high);

    int32_t RangeLow() const { return rangeLow_; }
    int32_t RangeHigh() const { return rangeHigh_; }
    int32_t Pos() const { return pos_; }
    const std::string& Caption() const { return caption_; }
    const std::string& Message() const { return message_; }
    const std::string& Message2() const { return message2_; }
    const std::string& Percent() const { return percent_; }
    const std::string& StageName(int i) const { return stageNames_.at(static_cast<size_t>(i)); }
    int CurrentStage() const { return currentStage_; }
    int MarkedStage() const { return markedStage_; }
    bool CancelEnabled() const { return cancelEnabled_; }
    bool SavingLayout() const { return savingLayout_; }
    void SetSavingLayout(bool saving) { savingLayout_ = saving; }

protected:
    // Lets the front end process its pending events (painting, the Cancel
    // button). Must never start another operation.
    virtual void Pump() {}
    // Called after a visible field changed, so the front end can redraw.
    enum class Field { Caption, Range, Pos, Percent, Message, Message2, Stages, CancelButton };
    virtual void Changed(Field) {}

private:
    void UpdatePercent();

    int32_t rangeLow_ = 0;
    int32_t rangeHigh_ = 100;
    int32_t pos_ = 0;
    int32_t step_ = 10;
    bool cancelRequested_ = false;
    bool cancelEnabled_ = true;
    bool savingLayout_ = false;
    std::string caption_ = "Scanning Waveform";
    std::string message_;
    std::string message2_;
    std::string percent_ = " 0 %";
    std::array<std::string, kStageCount> stageNames_{};
    int currentStage_ = -1;
    int markedStage_ = -1;
};

}  // namespace kelvane
