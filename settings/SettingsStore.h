#pragma once
// The persistent preferences: every setting is declared once, here, with its
// section, its stored name and its default. The core reads and writes through
// ISettingsStore; the programs back it with QSettings, tests with memory.

#include <map>
#include <string>
#include <utility>

namespace kelvane {

inline constexpr const char* kSectionMain = "SettingsZR";
inline constexpr const char* kSectionSettings = "Settings";
inline constexpr const char* kSectionTip = "TipZR";
inline constexpr const char* kSectionEncoders = "Encoders";
inline constexpr const char* kSectionRecent = "Recent File List";

struct IntSetting {
    const char* section;
    const char* name;
    int defaultValue;
};

struct StringSetting {
    const char* section;
    const char* name;
    const char* defaultValue;
};

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // Raw access: a missing value yields the given default.
    virtual int ReadInt(const std::string& section, const std::string& name, int defaultValue) const = 0;
    virtual std::string ReadString(const std::string& section, const std::string& name,
                                   const std::string& defaultValue) const = 0;
    virtual void WriteInt(const std::string& section, const std::string& name, int value) = 0;
    virtual void WriteString(const std::string& section, const std::string& name, const std::string& value) = 0;
    // Forgets a value, so that reads yield their default again. Removing a
    // value that is not there does nothing (and, for a file, leaves it as it is).
    virtual void Remove(const std::string& section, const std::string& name) = 0;

    int Get(const IntSetting& s) const { return ReadInt(s.section, s.name, s.defaultValue); }
    std::string Get(const StringSetting& s) const { return ReadString(s.section, s.name, s.defaultValue); }
    void Set(const IntSetting& s, int value) { WriteInt(s.section, s.name, value); }
    void Set(const StringSetting& s, const std::string& value) { WriteString(s.section, s.name, value); }

    // Many values saved as one (a dialog's OK): while a Batch lives, a store
    // that keeps a file only collects the writes and removals, and saves
    // them together when the outermost Batch ends. Reads see every write at
    // once either way.
    class Batch {
    public:
        explicit Batch(ISettingsStore& store) : store_(store) { store_.BeginBatch(); }
        ~Batch() { store_.EndBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        ISettingsStore& store_;
    };

protected:
    virtual void BeginBatch() {}
    virtual void EndBatch() {}
};

// Kept in memory only: the store of tests, and of `--no-settings` runs, which
// start from the defaults and leave no trace.
class CMemorySettings final : public ISettingsStore {
public:
    int ReadInt(const std::string& section, const std::string& name, int defaultValue) const override;
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) const override;
    void WriteInt(const std::string& section, const std::string& name, int value) override;
    void WriteString(const std::string& section, const std::string& name, const std::string& value) override;
    void Remove(const std::string& section, const std::string& name) override;

    bool Has(const std::string& section, const std::string& name) const;
    size_t Count() const { return values_.size(); }
    // How often a store that keeps a file would have saved it: once for
    // every change outside a Batch, once for an outermost Batch that changed
    // anything.
    int Saves() const { return saves_; }

protected:
    void BeginBatch() override { ++batchDepth_; }
    void EndBatch() override;

private:
    void Changed();

    std::map<std::pair<std::string, std::string>, std::string> values_;
    int batchDepth_ = 0;
    bool unsaved_ = false;
    int saves_ = 0;
};

namespace settings {

// Radio-button choices are stored as the number of the chosen button.
inline constexpr int kSourceVinyl = 1095;
inline constexpr int kSourceTape = 1096;
inline constexpr int kModeDifferential = 1004;
inline constexpr int kModePerChannel = 1005;
inline constexpr int kCorWidthNormal = 1303;
inline constexpr int kCorWidthNarrow = 1295;
inline constexpr int kTempModeSystem = 1135;
inline constexpr int kTempModeSameFolder = 1136;
inline constexpr int kTempModeUser = 1142;

// Document and scan settings.
inline constexpr IntSetting Sensitivity{kSectionMain, "Sensitivity", -1};
inline constexpr IntSetting SplitTracks{kSectionMain, "Split Tracks", 1};
inline constexpr IntSetting Source{kSectionMain, "Source", kSourceVinyl};
inline constexpr IntSetting Subtractor{kSectionMain, "Subtractor", 2};
inline constexpr IntSetting Gapless{kSectionMain, "Gapless", 0};
inline constexpr IntSetting Mode{kSectionMain, "Mode", kModePerChannel};
inline constexpr IntSetting Agc{kSectionMain, "AGC", 0};
inline constexpr IntSetting Discriminator{kSectionMain, "Discriminator", 0};
inline constexpr IntSetting MinMagnitude{kSectionMain, "Min Magnitude", 0};
inline constexpr IntSetting CorWidth{kSectionMain, "Cor Width", kCorWidthNormal};
inline constexpr IntSetting TempMode{kSectionMain, "Temp Mode", kTempModeSystem};
inline constexpr StringSetting TempPath{kSectionMain, "Temp Path", ""};
inline constexpr StringSetting OutputPath{kSectionMain, "Output Path", ""};
inline constexpr IntSetting FadeLinear{kSectionMain, "Fade Linear", 0};
inline constexpr IntSetting FileType{kSectionMain, "File Type", 1239};
inline constexpr IntSetting ExternalEncoder{kSectionMain, "External Encoder", 0};
inline constexpr IntSetting ExternalIndex{kSectionMain, "External Index", -1};
inline constexpr IntSetting ApeLevel{kSectionMain, "Ape Level", 2};
inline constexpr IntSetting OggQuality{kSectionMain, "Ogg Quality", 5};
inline constexpr IntSetting FlacLevel{kSectionMain, "Flac Level", 1};
inline constexpr StringSetting Encoder{kSectionMain, "Encoder", ""};
inline constexpr StringSetting Parameters{kSectionMain, "Parameters", ""};
inline constexpr StringSetting EncoderPath{kSectionMain, "Encoder Path", ""};
inline constexpr IntSetting ResampleRate{kSectionMain, "Resample Rate", 44100};
inline constexpr IntSetting ResampleBits{kSectionMain, "Resample Bits", 16};
inline constexpr IntSetting ResampleDither{kSectionMain, "Resample Dither", 0};
inline constexpr IntSetting ResamplePdf{kSectionMain, "Resample PDF", 0};
inline constexpr IntSetting Resample2Pass{kSectionMain, "Resample 2pass", 0};

// Application and view settings.
inline constexpr IntSetting Splash{kSectionSettings, "Splash", 1};
inline constexpr IntSetting TipStartUp{kSectionTip, "StartUp", 0};
inline constexpr IntSetting TipFilePos{kSectionTip, "FilePos", 0};
inline constexpr IntSetting InputDevice{kSectionMain, "InputDevice", -1};
inline constexpr IntSetting OutputDevice{kSectionMain, "OutputDevice", -1};
inline constexpr StringSetting PathName{kSectionMain, "PathName", ""};
inline constexpr StringSetting RecordPath{kSectionMain, "RecordPath", ""};
inline constexpr IntSetting RecordRate{kSectionMain, "RecordRate", 44100};
inline constexpr IntSetting RecordBits{kSectionMain, "RecordBits", 16};
inline constexpr IntSetting RecMode{kSectionMain, "RecMode", 1102};
inline constexpr IntSetting RecTime{kSectionMain, "RecTime", 1};
inline constexpr StringSetting VolControl{kSectionMain, "VolControl", ""};
inline constexpr IntSetting Background{kSectionMain, "Background", 0};
inline constexpr IntSetting ThinTrace{kSectionMain, "ThinTrace", 0};
inline constexpr IntSetting Graticule{kSectionMain, "Graticule", 1};
inline constexpr IntSetting ShowTrackTimes{kSectionMain, "ShowTrackTimes", 1};
inline constexpr IntSetting TraceSep{kSectionMain, "Trace Sep", 100};
inline constexpr IntSetting WaveScale{kSectionMain, "Wave Scale", 4};
inline constexpr IntSetting TrackScale{kSectionMain, "Track Scale", 4};
inline constexpr IntSetting AutoScale{kSectionMain, "AutoScale", 0};
inline constexpr IntSetting ListSel{kSectionMain, "ListSel", 1165};
inline constexpr IntSetting ListMag{kSectionMain, "ListMag", 0};
inline constexpr IntSetting ConvertMode{kSectionMain, "Convert Mode", 1269};
inline constexpr IntSetting ConvertRatio{kSectionMain, "Convert Ratio", 1000};
inline constexpr StringSetting PreSilence{kSectionMain, "PreSilence", "0"};
inline constexpr StringSetting FadeIn{kSectionMain, "FadeIn", "0"};
inline constexpr StringSetting FadeOut{kSectionMain, "FadeOut", "0"};
inline constexpr StringSetting PostSilence{kSectionMain, "PostSilence", "0"};
inline constexpr StringSetting NamingRule{kSectionMain, "NamingRule", ""};
inline constexpr StringSetting Rule1{kSectionMain, "Rule1", ""};
inline constexpr StringSetting Rule2{kSectionMain, "Rule2", ""};
inline constexpr StringSetting Rule3{kSectionMain, "Rule3", ""};
inline constexpr StringSetting Para1{kSectionSettings, "Para1", ""};
inline constexpr StringSetting Para2{kSectionSettings, "Para2", ""};
inline constexpr StringSetting Para3{kSectionSettings, "Para3", ""};
inline constexpr StringSetting Para4{kSectionSettings, "Para4", ""};
inline constexpr StringSetting Para5{kSectionSettings, "Para5", ""};
inline constexpr StringSetting Para6{kSectionSettings, "Para6", ""};
inline constexpr IntSetting Normalise{kSectionMain, "Normalise", 0};
inline constexpr IntSetting Scale{kSectionMain, "Scale", 0};
inline constexpr IntSetting Resample{kSectionMain, "Resample", 0};
inline constexpr IntSetting SaveSettings{kSectionMain, "SaveSettings", 0};
inline constexpr StringSetting NormGain{kSectionMain, "NormGain", "-1"};

// The main window's placement; "Flags" -1 means none was stored.
inline constexpr IntSetting PlacementFlags{kSectionMain, "Flags", -1};
inline constexpr IntSetting PlacementTop{kSectionMain, "Top", 0};
inline constexpr IntSetting PlacementBottom{kSectionMain, "Bottom", 0};
inline constexpr IntSetting PlacementLeft{kSectionMain, "Left", 0};
inline constexpr IntSetting PlacementRight{kSectionMain, "Right", 0};
inline constexpr IntSetting PlacementShow{kSectionMain, "Show", 1};
// The track strip's density line of the corrections.
inline constexpr IntSetting Signature{kSectionMain, "Signature", 0};
// Whether the toolbar and the status bar are shown.
inline constexpr IntSetting ShowToolbar{kSectionSettings, "Toolbar", 1};
inline constexpr IntSetting ShowStatusBar{kSectionSettings, "Status Bar", 1};
// The recent-file list, newest first.
inline constexpr int kRecentFiles = 4;
inline constexpr StringSetting RecentFile[kRecentFiles] = {
    {kSectionRecent, "File1", ""}, {kSectionRecent, "File2", ""}, {kSectionRecent, "File3", ""}, {kSectionRecent, "File4", ""}};

}  // namespace settings
}  // namespace kelvane
