#include "CProgressWnd.h"

#include <cstdio>

namespace kelvane {

std::string CProgressWnd::PercentText(int32_t pos, int32_t low, int32_t high)
{
    // 64-bit intermediate: positions reach 2^31 and the product would overflow.
    int64_t span = static_cast<int64_t>(high) - low;
    int64_t pct = span == 0 ? 0 : (static_cast<int64_t>(pos) - low) * 100 / span;
    if (pct != 100) pct %= 100;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%c", static_cast<int>(pct), '%');
    return buf;
}

void CProgressWnd::SetRange(int32_t low, int32_t high)
{
    rangeLow_ = low;
    rangeHigh_ = high;
    Changed(Field::Range);
}

void CProgressWnd::UpdatePercent()
{
    std::string text = PercentText(pos_, rangeLow_, rangeHigh_);
    if (text != percent_) {
        percent_ = std::move(text);
        Changed(Field::Percent);
    }
}

void CProgressWnd::SetPos(int32_t pos)
{
    Pump();
    pos_ = pos;
    Changed(Field::Pos);
    UpdatePercent();
}

void CProgressWnd::StepIt()
{
    Pump();
    pos_ += step_;
    Changed(Field::Pos);
    UpdatePercent();
}

void CProgressWnd::SetCaption(const std::string& text)
{
    caption_ = text;
    Changed(Field::Caption);
}

void CProgressWnd::SetMessage(const std::string& text)
{
    message_ = text;
    Changed(Field::Message);
}

void CProgressWnd::SetMessage2(const std::string& text)
{
    message2_ = text;
    Changed(Field::Message2);
}

void CProgressWnd::SetStageName(int index, const std::string& name)
{
    if (index < 0 || index >= kStageCount) return;
    stageNames_[static_cast<size_t>(index)] = name;
    Changed(Field::Stages);
}

void CProgressWnd::SetStage(int current, int marked)
{
    currentStage_ = current;
    markedStage_ = marked;
    Changed(Field::Stages);
}

void CProgressWnd::EnableCancel(bool enable)
{
    cancelEnabled_ = enable;
    Changed(Field::CancelButton);
}

bool CProgressWnd::Cancelled()
{
    Pump();
    bool was = cancelRequested_;
    cancelRequested_ = false;
    return was;
}

}  // namespace kelvane
