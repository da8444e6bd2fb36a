#pragma once
// The "Track Properties" dialog without its widgets: the table of tracks as
// texts, the album and genre fields, the default artist and timings, the
// per-track editor and the storing of it all into the track table. The GUI
// shows what this holds and forwards the user's actions; the track table is
// written only by Store() (the default timings go to the settings at once,
// from ChangeDefaults).
//
// Rows are 0-based: row r is track r + 1 (element 0, the whole recording,
// has no row). Timings are held as the texts the user sees, in seconds, and
// become position units only when stored.
//
// The caller refreshes the default track titles (RefreshTrackTitles) before
// constructing the model, as the command does before the dialog opens.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

class CQuillon3Doc;
struct TrackRecord;

class CTrackProperties {
public:
    // The four timings, in the order of the table's columns and of the
    // default-timing settings.
    enum Timing : int { kPreSilence = 0, kFadeIn = 1, kFadeOut = 2, kPostSilence = 3, kTimingCount = 4 };
    using TimingTexts = std::array<std::string, kTimingCount>;

    // One table row, as shown.
    struct Row {
        std::string number;   // "%d"
        std::string length;   // "%2d:%02d", whole minutes and seconds of end - start
        std::string title;
        std::string artist;
        TimingTexts timings;  // "%4.1f" seconds when built; any text once edited
    };

    // The fields of the per-track editor (and of "Change", which has no title).
    struct EditValues {
        std::string title;
        std::string artist;
        TimingTexts timings;
    };

    enum class DefaultButton { Ok, Next, Prev };

    // What the per-track editor shows for one row.
    struct Editor {
        std::string caption;                     // "Track %d Properties" / "Default Artist and Timings"
        bool hasTitle = true;                    // false for the defaults editor
        bool hasTrackButtons = true;             // "Next Track" / "Prev. Track"
        EditValues values;
        std::vector<std::string> artistChoices;  // every non-empty artist of the table, once, table order
        bool nextEnabled = false;
        bool prevEnabled = false;
        DefaultButton defaultButton = DefaultButton::Ok;
    };

    struct ColumnWidths {
        int number = 30;
        int length = 40;
        int title = 0;
        int artist = 0;
        int timing = 0;  // each of the four timing columns
    };

    static constexpr std::array<const char*, 8> kColumnTitles = {"#",    "Len.", "Title", "Artist",
                                                                 "S/I.", "F/I",  "F/0",   "S/O"};
    // The timing columns are as wide as this text.
    static constexpr const char* kTimingWidthText = "  S/O  ";
    // The editor's fade-in and fade-out fields accept at most this many typed characters.
    static constexpr int kFadeFieldMaxChars = 4;
    static constexpr const char* kNotSet = "Not Set";
    static constexpr const char* kDefaultsCaption = "Default Artist and Timings";
    static constexpr const char* kCaption = "Track Properties";

    // Reads the tracks of `doc` and the default timings from its settings.
    // `defaultArtist` and `keepFileNameTitles` are the document-lifetime
    // values this dialog keeps; they are read now and written only by
    // Store(), and must outlive the model. `focusRow` is the row to select
    // (the save dialog's focused line); when it names no row, the row of the
    // track holding the current event is selected, if any.
    CTrackProperties(CQuillon3Doc& doc, std::string& defaultArtist, bool& keepFileNameTitles,
                     int32_t focusRow = -1);

    // --- the table ------------------------------------------------------------
    int32_t RowCount() const { return static_cast<int32_t>(rows_.size()); }
    const std::vector<Row>& Rows() const { return rows_; }
    // Throws std::out_of_range for a row that does not exist.
    const Row& RowAt(int32_t row) const;

    // --- selection (full rows, several at once) -------------------------------
    // Rows that do not exist are ignored (false).
    bool Select(int32_t row, bool selected = true);
    bool SelectOnly(int32_t row);
    void ClearSelection();
    bool IsSelected(int32_t row) const;
    std::vector<int32_t> SelectedRows() const;
    int32_t SelectedCount() const;
    bool CanEdit() const { return SelectedCount() == 1; }          // "Edit" and double-click
    bool CanCopyDefaults() const { return SelectedCount() >= 1; }  // "Artist" and "Timings"

    // --- album and genre (for every element, stored trimmed) -----------------
    const std::string& Album() const { return album_; }
    const std::string& Genre() const { return genre_; }
    void SetAlbum(std::string album) { album_ = std::move(album); }
    void SetGenre(std::string genre) { genre_ = std::move(genre); }

    // --- defaults -------------------------------------------------------------
    const std::string& DefaultArtist() const { return defaultArtist_; }
    // The default artist as shown: "Not Set" when empty.
    std::string DefaultArtistText() const;
    const TimingTexts& DefaultTimings() const { return defaultTimings_; }
    Editor DefaultsEditor() const;
    // "Change" confirmed: the artist is held here (the document gets it from
    // Store()), the timing texts are written to their settings at once. Texts
    // are trimmed; the title is ignored.
    void ChangeDefaults(const EditValues& values);

    // "Artist" / "Timings": the default artist, or the four default timing
    // texts, into every selected row.
    void CopyArtistToSelected();
    void CopyTimingsToSelected();

    // --- the per-track editor -------------------------------------------------
    // Throws std::out_of_range for a row that does not exist.
    Editor EditorFor(int32_t row) const;
    // The editor's "OK": the values into the row, texts trimmed. False (and
    // nothing changed) for a row that does not exist.
    bool SetRowValues(int32_t row, const EditValues& values);
    // "Next Track" (step +1) / "Prev. Track" (step -1): stores the values into
    // the row and returns the row the editor moves to, which becomes the only
    // selected row. At either end of the table the editor stays (the button
    // is disabled there) and the values are still stored. Returns -1 for a
    // row that does not exist.
    int32_t StoreAndMove(int32_t row, const EditValues& values, int step);

    // --- storing --------------------------------------------------------------
    // "OK": writes album, genre, titles, artists and timings into the track
    // table, gives element 0 track 1's title, then (with an event selected)
    // notes titles equal to the input's base name in keepFileNameTitles and
    // keeps the default artist. A timing whose units do not fit 32 bits is
    // reported through the document's message box and nothing is stored
    // (false); the table keeps what the user typed.
    bool Store();

    // --- the arithmetic, for the GUI and for the tests ------------------------
    // A typed text read as a decimal number: leading blanks, an optional sign,
    // digits with an optional decimal point, an optional exponent; anything
    // after that is ignored, and a text that does not begin as a number reads
    // as 0. Locale-independent ('.' is the decimal point). A number too large
    // for a double reads as +/-infinity.
    static double ReadSeconds(std::string_view text);
    // trunc(seconds x sampleRate x 4) position units, or nothing when that
    // does not fit a signed 32-bit value (or is not a number).
    static std::optional<int32_t> SecondsToUnits(double seconds, int32_t sampleRate);
    // Position units as the table shows them: "%4.1f" seconds.
    static std::string FormatSeconds(int32_t units, int32_t sampleRate);
    // The editor's reformatting when a timing field loses the focus: the text
    // read as a number, shown "%3.1f". A number too large to show is left as
    // typed so that Store() can name it.
    static std::string FormatTimingField(std::string_view text);
    // end - start as "%2d:%02d" whole minutes and seconds.
    static std::string FormatLength(int32_t start, int32_t end, int32_t sampleRate);
    // The column widths for a table `tableWidth` pixels wide, where the text
    // "  S/O  " is `timingTextWidth` pixels wide.
    static ColumnWidths ComputeColumnWidths(int tableWidth, int timingTextWidth);
    // Leading and trailing blanks (spaces, tabs, line breaks) removed.
    static std::string Trim(std::string_view text);

private:
    Row MakeRow(int32_t track, const TrackRecord& record) const;
    // Row -1 is the defaults editor.
    Editor MakeEditor(int32_t row) const;
    int32_t RowOfCurrentEvent() const;
    bool ValidRow(int32_t row) const { return row >= 0 && row < RowCount(); }

    CQuillon3Doc& doc_;
    std::string& docDefaultArtist_;
    bool& docKeepFileNameTitles_;
    std::vector<Row> rows_;
    std::vector<bool> selected_;
    std::string album_;
    std::string genre_;
    std::string defaultArtist_;
    TimingTexts defaultTimings_;
};

}  // namespace kelvane
