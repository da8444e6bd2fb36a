#include "SettingsStore.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelvane {

int CMemorySettings::ReadInt(const std::string& section, const std::string& name, int defaultValue) const
{
    auto it = values_.find({section, name});
    if (it == values_.end()) return defaultValue;
    // Like the Qt store: the whole text must be a number in int range.
    const char* text = it->second.c_str();
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    if (end == text || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX) return defaultValue;
    return static_cast<int>(v);
}

std::string CMemorySettings::ReadString(const std::string& section, const std::string& name,
                                        const std::string& defaultValue) const
{
    auto it = values_.find({section, name});
    return it == values_.end() ? defaultValue : it->second;
}

void CMemorySettings::WriteInt(const std::string& section, const std::string& name, int value)
{
    values_[{section, name}] = std::to_string(value);
    Changed();
}

void CMemorySettings::WriteString(const std::string& section, const std::string& name, const std::string& value)
{
    values_[{section, name}] = value;
    Changed();
}

void CMemorySettings::Remove(const std::string& section, const std::string& name)
{
    // Like a file: removing what is not there saves nothing.
    if (values_.erase({section, name}) != 0) Changed();
}

void CMemorySettings::Changed()
{
    if (batchDepth_ > 0) {
        unsaved_ = true;
    } else {
        ++saves_;
    }
}

void CMemorySettings::EndBatch()
{
    if (--batchDepth_ == 0 && unsaved_) {
        unsaved_ = false;
        ++saves_;
    }
}

bool CMemorySettings::Has(const std::string& section, const std::string& name) const
{
    return values_.count({section, name}) != 0;
}

}  // namespace kelvane
