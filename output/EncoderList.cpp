#include "output/EncoderList.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "document/CProgressWnd.h"
#include "settings/SettingsStore.h"

namespace kelvane {
namespace fs = std::filesystem;

namespace {

constexpr std::array<KnownEncoder, 12> kKnownEncoders{{
    {"lame.exe", "mp3", "--vbr-new -V2 --ta %A --tt %T --tl %L --tg %G --tn %N --add-id3v2 %IN %OUT", true},
    {"fastencc.exe", "mp3", "%IN %OUT -br 160000", true},
    {"WM8EUTIL.exe", "wma", "-input %IN -output %OUT -a_setting 160_44_2", true},
    {"faac.exe", "mp4", "-b 160 --artist %A --title %T --album %L --genre %G --track %N  -o %OUT %IN", true},
    {"flac.exe", "flac", "-f -o %OUT -T TITLE=%T -T ALBUM=%L -T ARTIST=%A -T GENRE=%G -T TRACKNUMBER=%N %IN", true},
    {"wavpack.exe", "wv", "-h %IN %OUT", true},
    {"oggenc2.exe", "ogg", "-q 7 -o %OUT -t %T -l %L -a %A -G %G -N %N %IN", true},
    {"mppenc.exe", "mpc", "--standard --overwrite --artist %A --title %T --album %L --genre %G --track %N %IN %OUT",
     true},
    {"NeroAacEnc.exe", "mp4", "-q 0.5 -if %IN -of %OUT", true},
    {"ssrc.exe", "wav", "--rate 44100 --bits 16 %IN %OUT", true},
    {"ssrc_hp.exe", "wav", "--rate 44100 --bits 16 %IN %OUT", true},
    // A script: there is nothing to run it with here, but a user may still
    // point an entry at it from the editor.
    {"wmcmd.vbs", "wma", "-input %IN -output %OUT -a_setting Q100_96_2_24", false},
}};

constexpr std::string_view kExe = ".exe";

// Folders nested deeper than this are not entered. Symbolic links are never
// followed, but a bind mount can still make a tree endless.
constexpr int kMaxSearchDepth = 64;

// Never holds a stored value: the settings files are text, and a NUL cannot
// be typed into them. Tells a missing value from an empty one.
const std::string kMissing(1, '\0');

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

bool EndsWithNoCase(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

std::string_view FileNamePart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// `name` is a bare file name.
bool NameMatches(std::string_view name, const KnownEncoder& known)
{
    const std::string_view program = known.program;
    if (EqualsNoCase(name, program)) return true;
    return EndsWithNoCase(program, kExe) && EqualsNoCase(name, program.substr(0, program.size() - kExe.size()));
}

struct FolderEntry {
    std::string name;
    bool isFolder = false;  // a real folder, not a link to one
};

// The entries of one folder in byte order of their names, so that every run
// searches (and so lists) the same way. Empty when it cannot be read.
std::vector<FolderEntry> ListFolder(const fs::path& folder)
{
    std::vector<FolderEntry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code statusError;
        const fs::file_status status = it->symlink_status(statusError);
        entries.push_back({it->path().filename().string(), !statusError && fs::is_directory(status)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

// Links are followed here: packaged encoders are often links into
// /etc/alternatives or a versioned folder.
bool IsExecutableFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::status(path, ec)) && !ec && ::access(path.c_str(), X_OK) == 0;
}

bool HasProgram(const std::vector<EncoderEntry>& list, const std::string& key)
{
    return std::any_of(list.begin(), list.end(), [&](const EncoderEntry& e) { return ProgramKey(e.path) == key; });
}

bool AddFromListing(const fs::path& folder, const std::vector<FolderEntry>& entries, const KnownEncoder& known,
                    std::vector<EncoderEntry>& list)
{
    if (HasProgram(list, ProgramKey(known.program))) return false;
    const FolderEntry* chosen = nullptr;
    for (const FolderEntry& entry : entries) {
        if (entry.isFolder || !NameMatches(entry.name, known) || !IsExecutableFile(folder / entry.name)) continue;
        if (entry.name == known.program) {
            chosen = &entry;
            break;
        }
        if (!chosen) chosen = &entry;
    }
    if (!chosen) return false;
    std::error_code ec;
    fs::path full = fs::absolute(folder / chosen->name, ec);
    if (ec) full = folder / chosen->name;
    list.push_back({full.string(), known.command, known.ext});
    return true;
}

void AddSearchedPrograms(const fs::path& folder, const std::vector<FolderEntry>& entries,
                         std::vector<EncoderEntry>& list)
{
    for (const KnownEncoder& known : kKnownEncoders) {
        if (known.searched) AddFromListing(folder, entries, known, list);
    }
}

// False when cancelled; the caller then stops at once, which is what keeps
// the cancel in force for the rest of the walk (Cancelled() clears its flag).
bool SearchFolder(const fs::path& folder, std::vector<EncoderEntry>& list, CProgressWnd* progress, int depth)
{
    if (progress) {
        progress->SetMessage(folder.string());
        if (progress->Cancelled()) return false;
    }
    const std::vector<FolderEntry> entries = ListFolder(folder);
    if (depth < kMaxSearchDepth) {
        for (const FolderEntry& entry : entries) {
            if (!entry.isFolder || entry.name.starts_with('.')) continue;
            if (!SearchFolder(folder / entry.name, list, progress, depth + 1)) return false;
        }
    }
    AddSearchedPrograms(folder, entries, list);
    return true;
}

std::string SlotName(const char* prefix, int slot)
{
    return prefix + std::to_string(slot);
}

void WriteIfChanged(ISettingsStore& store, const std::string& section, const std::string& name,
                    const std::string& value)
{
    if (store.ReadString(section, name, kMissing) != value) store.WriteString(section, name, value);
}

std::string HistoryName(int slot)
{
    return SlotName("Para", slot + 1);
}

bool IsAbsoluteFolder(const char* text)
{
    return text && text[0] == '/';
}

}  // namespace

std::span<const KnownEncoder> KnownEncoders()
{
    return kKnownEncoders;
}

const KnownEncoder* FindKnownEncoder(std::string_view fileName)
{
    const std::string_view name = FileNamePart(fileName);
    for (const KnownEncoder& known : kKnownEncoders) {
        if (NameMatches(name, known)) return &known;
    }
    return nullptr;
}

std::string ProgramKey(std::string_view pathOrName)
{
    std::string key(FileNamePart(pathOrName));
    std::transform(key.begin(), key.end(), key.begin(), AsciiUpper);
    if (EndsWithNoCase(key, kExe)) key.resize(key.size() - kExe.size());
    return key;
}

std::vector<EncoderEntry> LoadEncoders(const ISettingsStore& store)
{
    std::vector<EncoderEntry> list;
    for (int slot = 0; slot < kMaxStoredEncoders; ++slot) {
        EncoderEntry entry{store.ReadString(kSectionEncoders, SlotName("Enc", slot), ""),
                           store.ReadString(kSectionEncoders, SlotName("Command", slot), ""),
                           store.ReadString(kSectionEncoders, SlotName("Ext", slot), "")};
        if (entry.path.empty()) continue;
        std::error_code ec;
        if (!fs::is_regular_file(fs::status(entry.path, ec)) || ec) continue;
        list.push_back(std::move(entry));
    }
    return list;
}

void SaveEncoders(ISettingsStore& store, const std::vector<EncoderEntry>& list)
{
    const int stored = static_cast<int>(std::min<size_t>(list.size(), kMaxStoredEncoders));
    for (int slot = 0; slot < stored; ++slot) {
        const EncoderEntry& entry = list[static_cast<size_t>(slot)];
        WriteIfChanged(store, kSectionEncoders, SlotName("Enc", slot), entry.path);
        WriteIfChanged(store, kSectionEncoders, SlotName("Command", slot), entry.command);
        WriteIfChanged(store, kSectionEncoders, SlotName("Ext", slot), entry.ext);
    }
    for (int slot = stored; slot < kMaxStoredEncoders; ++slot) {
        store.Remove(kSectionEncoders, SlotName("Enc", slot));
        store.Remove(kSectionEncoders, SlotName("Command", slot));
        store.Remove(kSectionEncoders, SlotName("Ext", slot));
    }
}

bool AddFoundEncoder(const std::string& folder, const KnownEncoder& known, std::vector<EncoderEntry>& list)
{
    if (HasProgram(list, ProgramKey(known.program))) return false;
    return AddFromListing(folder, ListFolder(folder), known, list);
}

bool SearchEncoders(const std::string& folder, std::vector<EncoderEntry>& list, CProgressWnd* progress)
{
    return SearchFolder(folder, list, progress, 0);
}

namespace {

// Calls visit for each absolute folder of a PATH value, in order, until it
// returns true.
template <typename Visit>
void ForEachPathFolder(const char* pathVariable, Visit visit)
{
    if (!pathVariable) return;
    const std::string_view path(pathVariable);
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(':', begin);
        if (end == std::string_view::npos) end = path.size();
        const std::string part(path.substr(begin, end - begin));
        if (IsAbsoluteFolder(part.c_str()) && visit(part)) return;
        begin = end + 1;
    }
}

}  // namespace

void SearchPathFolders(std::vector<EncoderEntry>& list, const char* pathVariable)
{
    ForEachPathFolder(pathVariable, [&](const std::string& folder) {
        AddSearchedPrograms(folder, ListFolder(folder), list);
        return false;
    });
}

bool IsExecutableProgram(const std::string& path) { return IsExecutableFile(path); }

std::string FindProgramInPath(const std::string& name, const char* pathVariable)
{
    std::string found;
    if (name.empty() || name.find('/') != std::string::npos) return found;
    ForEachPathFolder(pathVariable, [&](const std::string& folder) {
        const std::string candidate = folder + "/" + name;
        if (IsExecutableFile(candidate)) found = candidate;
        return !found.empty();
    });
    return found;
}

std::string DefaultEncoderFolder()
{
    constexpr const char* kBelowDataHome = "/Tessaly Instruments/Kelvane/Encoders";
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (IsAbsoluteFolder(dataHome)) return std::string(dataHome) + kBelowDataHome;
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) {
        home = user->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.local/share" + kBelowDataHome;
}

std::string EncoderSearchFolder(const ISettingsStore& store)
{
    std::string folder = store.Get(settings::EncoderPath);
    return folder.empty() ? DefaultEncoderFolder() : folder;
}

std::vector<EncoderEntry> RefreshEncoderList(ISettingsStore& store, CProgressWnd* progress, const char* pathVariable)
{
    std::vector<EncoderEntry> list = LoadEncoders(store);
    const std::string folder = EncoderSearchFolder(store);
    if (!folder.empty()) SearchEncoders(folder, list, progress);
    SearchPathFolders(list, pathVariable);
    if (list.size() > static_cast<size_t>(kMaxStoredEncoders)) list.resize(kMaxStoredEncoders);
    SaveEncoders(store, list);
    return list;
}

bool ValidCommandLine(std::string_view command)
{
    return command.find("%IN") != std::string_view::npos;
}

std::vector<std::string> LoadCommandHistory(const ISettingsStore& store)
{
    std::vector<std::string> history;
    for (int slot = 0; slot < kCommandHistorySize; ++slot) {
        std::string line = store.ReadString(kSectionSettings, HistoryName(slot), "");
        if (!line.empty()) history.push_back(std::move(line));
    }
    return history;
}

void SaveCommandHistory(ISettingsStore& store, const std::vector<std::string>& history)
{
    int slot = 0;
    for (const std::string& line : history) {
        if (slot == kCommandHistorySize) break;
        if (line.empty()) continue;
        store.WriteString(kSectionSettings, HistoryName(slot++), line);
    }
    for (; slot < kCommandHistorySize; ++slot) store.Remove(kSectionSettings, HistoryName(slot));
}

bool StoreCommandLine(ISettingsStore& store, const std::string& command, const std::string& encoderDefault)
{
    if (!ValidCommandLine(command)) return false;
    store.Set(settings::Parameters, command);
    if (command == encoderDefault) return true;

    std::array<std::string, kCommandHistorySize> slots;
    for (int slot = 0; slot < kCommandHistorySize; ++slot) {
        slots[static_cast<size_t>(slot)] = store.ReadString(kSectionSettings, HistoryName(slot), "");
    }
    if (std::find(slots.begin(), slots.end(), command) != slots.end()) return true;

    const auto empty = std::find(slots.begin(), slots.end(), std::string());
    if (empty != slots.end()) {
        store.WriteString(kSectionSettings, HistoryName(static_cast<int>(empty - slots.begin())), command);
        return true;
    }
    for (int slot = 0; slot + 1 < kCommandHistorySize; ++slot) {
        store.WriteString(kSectionSettings, HistoryName(slot), slots[static_cast<size_t>(slot + 1)]);
    }
    store.WriteString(kSectionSettings, HistoryName(kCommandHistorySize - 1), command);
    return true;
}

}  // namespace kelvane
