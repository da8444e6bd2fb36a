#include "CTrackProperties.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"
#include "tracks/TrackTitles.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace kelvane {

namespace {

// The settings of the default timings, in column order.
const std::array<StringSetting, CTrackProperties::kTimingCount> kDefaultTimingSettings = {
    settings::PreSilence, settings::FadeIn, settings::FadeOut, settings::PostSilence};

// How a refused timing is named to the user.
const std::array<const char*, CTrackProperties::kTimingCount> kTimingNames = {"silence before", "fade-in",
                                                                             "fade-out", "silence after"};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A double with one decimal, as printf's "%.1f" would show it in the C locale.
// std::to_chars is used because printf follows the process locale, and the
// GUI's toolkit sets that from the user's environment: a German desktop would
// get "2,5", which the reader below (like the stored values) would not accept.
std::string Fixed1(double value, int minWidth)
{
    char buf[400];  // the largest double has 309 integer digits
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1);
    if (ec != std::errc()) return "0.0";
    std::string text(buf, end);
    if (static_cast<int>(text.size()) < minWidth) text.insert(0, static_cast<size_t>(minWidth) - text.size(), ' ');
    return text;
}

}  // namespace

CTrackProperties::CTrackProperties(CQuillon3Doc& doc, std::string& defaultArtist, bool& keepFileNameTitles,
                                   int32_t focusRow)
    : doc_(doc), docDefaultArtist_(defaultArtist), docKeepFileNameTitles_(keepFileNameTitles),
      defaultArtist_(defaultArtist)
{
    const int32_t n = doc_.TrackCount();
    rows_.reserve(static_cast<size_t>(n));
    for (int32_t t = 1; t <= n; ++t) rows_.push_back(MakeRow(t, doc_.tracks[t]));
    selected_.assign(rows_.size(), false);
    if (n >= 1) {
        album_ = doc_.tracks[1].album;
        genre_ = doc_.tracks[1].genre;
    }
    for (int k = 0; k < kTimingCount; ++k) defaultTimings_[k] = doc_.Settings().Get(kDefaultTimingSettings[k]);

    const int32_t first = ValidRow(focusRow) ? focusRow : RowOfCurrentEvent();
    if (ValidRow(first)) selected_[static_cast<size_t>(first)] = true;
}

CTrackProperties::Row CTrackProperties::MakeRow(int32_t track, const TrackRecord& record) const
{
    Row row;
    row.number = std::to_string(track);
    row.length = FormatLength(record.start, record.end, doc_.sampleRate);
    row.title = record.title;
    row.artist = record.artist;
    row.timings[kPreSilence] = FormatSeconds(record.preSilence, doc_.sampleRate);
    row.timings[kFadeIn] = FormatSeconds(record.fadeIn, doc_.sampleRate);
    row.timings[kFadeOut] = FormatSeconds(record.fadeOut, doc_.sampleRate);
    row.timings[kPostSilence] = FormatSeconds(record.postSilence, doc_.sampleRate);
    return row;
}

int32_t CTrackProperties::RowOfCurrentEvent() const
{
    const EventRecord* ev = doc_.CurrentEvent();
    if (!ev) return -1;
    // A boundary marker belongs to its track even at the track's end, which
    // lies outside [start, end).
    if (ev->IsMarker()) return event::MarkerTrack(ev->width) - 1;
    for (int32_t t = 1; t <= RowCount(); ++t) {
        const TrackRecord& tr = doc_.tracks[t];
        if (ev->pos >= tr.start && ev->pos < tr.end) return t - 1;
    }
    return -1;
}

const CTrackProperties::Row& CTrackProperties::RowAt(int32_t row) const
{
    if (!ValidRow(row)) throw std::out_of_range("track properties row");
    return rows_[static_cast<size_t>(row)];
}

// --- selection ----------------------------------------------------------------

bool CTrackProperties::Select(int32_t row, bool selected)
{
    if (!ValidRow(row)) return false;
    selected_[static_cast<size_t>(row)] = selected;
    return true;
}

bool CTrackProperties::SelectOnly(int32_t row)
{
    if (!ValidRow(row)) return false;
    ClearSelection();
    selected_[static_cast<size_t>(row)] = true;
    return true;
}

void CTrackProperties::ClearSelection()
{
    selected_.assign(rows_.size(), false);
}

bool CTrackProperties::IsSelected(int32_t row) const
{
    return ValidRow(row) && selected_[static_cast<size_t>(row)];
}

std::vector<int32_t> CTrackProperties::SelectedRows() const
{
    std::vector<int32_t> rows;
    for (int32_t r = 0; r < RowCount(); ++r)
        if (selected_[static_cast<size_t>(r)]) rows.push_back(r);
    return rows;
}

int32_t CTrackProperties::SelectedCount() const
{
    int32_t count = 0;
    for (bool s : selected_) count += s ? 1 : 0;
    return count;
}

// --- defaults -----------------------------------------------------------------

std::string CTrackProperties::DefaultArtistText() const
{
    return defaultArtist_.empty() ? std::string(kNotSet) : defaultArtist_;
}

CTrackProperties::Editor CTrackProperties::DefaultsEditor() const
{
    return MakeEditor(-1);
}

void CTrackProperties::ChangeDefaults(const EditValues& values)
{
    defaultArtist_ = Trim(values.artist);
    for (int k = 0; k < kTimingCount; ++k) {
        defaultTimings_[k] = Trim(values.timings[k]);
        doc_.Settings().Set(kDefaultTimingSettings[k], defaultTimings_[k]);
    }
}

void CTrackProperties::CopyArtistToSelected()
{
    for (int32_t r : SelectedRows()) rows_[static_cast<size_t>(r)].artist = defaultArtist_;
}

void CTrackProperties::CopyTimingsToSelected()
{
    for (int32_t r : SelectedRows()) rows_[static_cast<size_t>(r)].timings = defaultTimings_;
}

// --- the per-track editor ---------------------------------------------------------

CTrackProperties::Editor CTrackProperties::EditorFor(int32_t row) const
{
    if (!ValidRow(row)) throw std::out_of_range("track properties row");
    return MakeEditor(row);
}

CTrackProperties::Editor CTrackProperties::MakeEditor(int32_t row) const
{
    Editor editor;
    for (const Row& r : rows_) {
        if (r.artist.empty()) continue;
        bool seen = false;
        for (const std::string& a : editor.artistChoices) seen = seen || a == r.artist;
        if (!seen) editor.artistChoices.push_back(r.artist);
    }
    if (row == -1) {
        editor.caption = kDefaultsCaption;
        editor.hasTitle = false;
        editor.hasTrackButtons = false;
        editor.values.artist = defaultArtist_;
        editor.values.timings = defaultTimings_;
        return editor;
    }
    const Row& r = rows_[static_cast<size_t>(row)];
    editor.caption = "Track " + std::to_string(row + 1) + " Properties";
    editor.values.title = r.title;
    editor.values.artist = r.artist;
    editor.values.timings = r.timings;
    editor.prevEnabled = row > 0;
    editor.nextEnabled = row + 1 < RowCount();
    // The button that still leads somewhere takes Enter; in the middle of the
    // table neither is singled out and the dialog's own default (OK) stays.
    if (editor.nextEnabled && !editor.prevEnabled) editor.defaultButton = DefaultButton::Next;
    else if (editor.prevEnabled && !editor.nextEnabled) editor.defaultButton = DefaultButton::Prev;
    return editor;
}

bool CTrackProperties::SetRowValues(int32_t row, const EditValues& values)
{
    if (!ValidRow(row)) return false;
    Row& r = rows_[static_cast<size_t>(row)];
    r.title = Trim(values.title);
    r.artist = Trim(values.artist);
    for (int k = 0; k < kTimingCount; ++k) r.timings[k] = Trim(values.timings[k]);
    return true;
}

int32_t CTrackProperties::StoreAndMove(int32_t row, const EditValues& values, int step)
{
    if (!SetRowValues(row, values)) return -1;
    int32_t next = row + (step > 0 ? 1 : step < 0 ? -1 : 0);
    if (!ValidRow(next)) next = row;
    SelectOnly(next);
    return next;
}

// --- storing ------------------------------------------------------------------

bool CTrackProperties::Store()
{
    IInteraction& ui = doc_.Ui();
    // The dialog is modal, so the table cannot change under it; should a
    // caller keep a model across an edit of the tracks anyway, its rows would
    // land on the wrong tracks.
    if (doc_.TrackCount() != RowCount()) {
        ui.MessageBox("The tracks have changed since their properties were shown.\n"
                      "The properties were not stored.",
                      kCaption, MbButtons::Ok, MbIcon::Warning);
        return false;
    }

    // Everything is converted before anything is written, so that a refused
    // value leaves the track table as it was.
    std::vector<std::array<int32_t, kTimingCount>> units(rows_.size());
    for (int32_t r = 0; r < RowCount(); ++r) {
        for (int k = 0; k < kTimingCount; ++k) {
            const std::string& text = rows_[static_cast<size_t>(r)].timings[k];
            const std::optional<int32_t> u = SecondsToUnits(ReadSeconds(text), doc_.sampleRate);
            if (!u) {
                ui.MessageBox("The " + std::string(kTimingNames[k]) + " of track " + std::to_string(r + 1) +
                                  " (\"" + Trim(text) + "\" seconds) is too long.\n"
                                  "The properties were not stored.",
                              kCaption, MbButtons::Ok, MbIcon::Warning);
                return false;
            }
            units[static_cast<size_t>(r)][k] = *u;
        }
    }

    bool changed = false;
    auto assign = [&changed](auto& field, const auto& value) {
        if (field != value) {
            field = value;
            changed = true;
        }
    };
    const std::string album = Trim(album_);
    const std::string genre = Trim(genre_);
    for (int32_t i = 0; i < doc_.tracks.Size(); ++i) {
        assign(doc_.tracks[i].album, album);
        assign(doc_.tracks[i].genre, genre);
    }
    for (int32_t t = 1; t <= RowCount(); ++t) {
        TrackRecord& tr = doc_.tracks[t];
        const Row& row = rows_[static_cast<size_t>(t - 1)];
        const auto& u = units[static_cast<size_t>(t - 1)];
        assign(tr.title, row.title);
        assign(tr.artist, row.artist);
        assign(tr.preSilence, u[kPreSilence]);
        assign(tr.fadeIn, u[kFadeIn]);
        assign(tr.fadeOut, u[kFadeOut]);
        assign(tr.postSilence, u[kPostSilence]);
    }
    if (RowCount() >= 1) assign(doc_.tracks[0].title, doc_.tracks[1].title);

    // All three of these hang on a selected event, as the dialog has always
    // done; after any scan the first event is selected, so in practice they
    // always happen.
    if (doc_.CurrentEvent()) {
        // The same base name as the default-title rule uses, so that the flag
        // protects exactly the titles that rule would replace. An empty one
        // would match every untitled track; it names no file.
        const std::string base = InputBaseName(doc_);
        if (!base.empty()) {
            for (int32_t t = 1; t <= RowCount(); ++t)
                if (doc_.tracks[t].title == base) docKeepFileNameTitles_ = true;
        }
        docDefaultArtist_ = defaultArtist_;
        doc_.NotifyUpdate();
    }
    if (changed) {
        doc_.SetModifiedFlag();
        doc_.NotifyTracksChanged();  // the Tracks menu shows the titles
    }
    return true;
}

// --- the arithmetic -----------------------------------------------------------------

double CTrackProperties::ReadSeconds(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    const size_t numberStart = i;
    size_t intDigits = 0;      // integer digits after leading zeros
    bool leadingZeros = true;
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        if (text[i] != '0') leadingZeros = false;
        if (!leadingZeros) ++intDigits;
        ++digits;
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++digits;
            ++i;
        }
    }
    if (digits == 0) return 0.0;  // not a number: reads as 0

    // An exponent counts only when digits follow it ("2e" is 2).
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) expNegative = text[j++] == '-';
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) {
                if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
                ++j;
            }
            if (expNegative) exponent = -exponent;
            i = j;
        }
    }

    // from_chars takes no '+' and ignores the locale; the sign is applied here.
    std::string number(text.substr(numberStart, i - numberStart));
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: which of the two follows from
        // the number's decimal magnitude.
        const bool huge = static_cast<int64_t>(intDigits) + exponent > 0;
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::optional<int32_t> CTrackProperties::SecondsToUnits(double seconds, int32_t sampleRate)
{
    // Evaluated as written, (seconds x rate) x 4, in double. The factor 4 is
    // a power of two and so exact, which makes this the same double as
    // seconds x (rate x 4): 0.7 x 176400 = 123479.99999999999 either way,
    // truncated to 123479 (a float product would give 123480).
    const double product = seconds * static_cast<double>(sampleRate) * 4.0;
    // NaN fails both comparisons.
    if (!(product > -2147483649.0 && product < 2147483648.0)) return std::nullopt;
    return static_cast<int32_t>(std::trunc(product));
}

std::string CTrackProperties::FormatSeconds(int32_t units, int32_t sampleRate)
{
    if (sampleRate <= 0) return Fixed1(0.0, 4);
    return Fixed1(static_cast<double>(units) / (static_cast<double>(sampleRate) * 4.0), 4);
}

std::string CTrackProperties::FormatTimingField(std::string_view text)
{
    const double seconds = ReadSeconds(text);
    if (!std::isfinite(seconds)) return std::string(text);
    return Fixed1(seconds, 3);
}

std::string CTrackProperties::FormatLength(int32_t start, int32_t end, int32_t sampleRate)
{
    const int64_t unitsPerSecond = static_cast<int64_t>(sampleRate > 0 ? sampleRate : 0) * 4;
    const int64_t seconds = unitsPerSecond > 0 ? (static_cast<int64_t>(end) - start) / unitsPerSecond : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%2lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return buf;
}

CTrackProperties::ColumnWidths CTrackProperties::ComputeColumnWidths(int tableWidth, int timingTextWidth)
{
    ColumnWidths widths;
    widths.timing = timingTextWidth;
    // Integer halves, as pixel widths are.
    widths.title = (tableWidth - 4 * timingTextWidth - 74) / 2;
    widths.artist = widths.title;
    return widths;
}

std::string CTrackProperties::Trim(std::string_view text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

}  // namespace kelvane
