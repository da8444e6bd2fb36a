#include "CommandSet.h"

#include <cstring>

namespace kelvane {

namespace {

// clang-format off
constexpr CommandEntry kCommands[] = {
    {"open", "&File", nullptr, "Open...\tCtrl+O", "Ctrl+O", "Open an existing wave file and process it\nOpen", ":/icons/document-open.png", Rule::Always},
    {"mergeOpen", "&File", nullptr, "Merge Open...\tCtrl+M", "Ctrl+M", "Join several wave files into one recording\nMerge Open", nullptr, Rule::NotBuilt},
    {"save", "&File", nullptr, "Save...\tCtrl+S", "Ctrl+S", "Save the tracks as separate files\nSave", nullptr, Rule::NotBuilt, Command::Save, false, true},
    {"saveClose", "&File", nullptr, "Save && Close...", "", "Save the tracks and close the wave file\nSave and Close", nullptr, Rule::NotBuilt, Command::Save},
    {"record", "&File", nullptr, "Record New Wave File...\tCtrl+R", "Ctrl+R", "Record a new wave file from the sound card\nRecord", ":/icons/media-record.png", Rule::NotBuilt, Command::RescanAll, false, true},
    {"paths", "&File", nullptr, "Paths...", "", "Choose the folders for temporary and output files\nPaths", nullptr, Rule::Always, Command::RescanAll, false, true},
    {"devices", "&File", nullptr, "Devices...", "", "Choose the sound devices for playback and recording\nDevices", nullptr, Rule::NotBuilt},
    {"encoders", "&File", nullptr, "External Encoders...", "", "Choose an external encoder and its command line\nExternal Encoders", nullptr, Rule::NotBuilt},
    {"exit", "&File", nullptr, "E&xit", "", "Quit the application; prompts to save the tracks\nExit", nullptr, Rule::Always, Command::RescanAll, false, true},

    {"grid", "&View", nullptr, "Grid", "", "Show or hide the grid of the waveform view\nGrid", nullptr, Rule::Loaded, Command::RescanAll, true},
    {"scale", "&View", nullptr, "Scale", "", "Show or hide the scale of the waveform view\nScale", nullptr, Rule::Always, Command::RescanAll, true},
    {"bgClassic", "&View", "Background", "Classic", "", "Classic background for the waveform view\nClassic", nullptr, Rule::Always, Command::RescanAll, true},
    {"bgWhite", "&View", "Background", "White", "", "White background for the waveform view\nWhite", nullptr, Rule::Always, Command::RescanAll, true},
    {"bgGrey", "&View", "Background", "Grey", "", "Grey background for the waveform view\nGrey", nullptr, Rule::Always, Command::RescanAll, true},
    {"toolbar", "&View", nullptr, "Toolbar", "", "Show or hide the toolbar\nToggle ToolBar", nullptr, Rule::Always, Command::RescanAll, true, true},
    {"statusBar", "&View", nullptr, "Status Bar", "", "Show or hide the status bar\nToggle StatusBar", nullptr, Rule::Always, Command::RescanAll, true},
    {"splash", "&View", nullptr, "Show Splash Screen", "", "Show the splash screen when the program starts\nSplash Screen", nullptr, Rule::Always, Command::RescanAll, true, true},

    {"rescanClicks", "&Waveform", nullptr, "Re-Scan Clicks...", "", "Scan the whole wave file for clicks again\nRe-Scan Clicks", ":/icons/view-refresh.png", Rule::Core, Command::RescanClicks},
    {"superScan", "&Waveform", nullptr, "Super-Scan Clicks...", "", "Scan the whole wave file again in several passes\nSuper-Scan Clicks", nullptr, Rule::Core, Command::SuperScanClicks},
    {"rescanTracks", "&Waveform", nullptr, "Re-Scan Tracks...", "", "Find the tracks of the wave file again\nRe-Scan Tracks", nullptr, Rule::Core, Command::RescanTracks, false, true},
    {"rescanAll", "&Waveform", nullptr, "Re-Scan All...", "", "Process the whole wave file again from the original\nRe-Scan All", nullptr, Rule::Core, Command::RescanAll},
    {"autoScanOptions", "&Waveform", nullptr, "Auto-Scan Options...", "", "Set the options used when a wave file is loaded\nAuto-Scan Options", ":/icons/preferences-system.png", Rule::Always, Command::RescanAll, false, true},
    {"removeHiss", "&Waveform", nullptr, "Remove Hiss Filter", "", "Restore the wave as it was before the hiss filter\nRemove Hiss Filter", nullptr, Rule::NotBuilt, Command::RemoveHissFilter, false, true},
    {"hissFilter", "&Waveform", nullptr, "Hiss Filter...", "", "Reduce the hiss of the wave file\nHiss Filter", nullptr, Rule::NotBuilt, Command::HissFilter},
    {"noiseProfile", "&Waveform", nullptr, "Edit Noise Profile...", "", "Edit the noise profile of the hiss filter\nEdit Noise Profile", nullptr, Rule::NotBuilt, Command::EditNoiseProfile},
    {"status", "&Waveform", nullptr, "Status...", "", "Show the processing status of the wave file\nStatus", nullptr, Rule::Always, Command::RescanAll, false, true},

    {"nextMarker", "&Tracks", nullptr, "Next Track Marker", "", "Move to the next track boundary marker\nNext Track Marker", ":/icons/go-next.png", Rule::Loaded},
    {"prevMarker", "&Tracks", nullptr, "Previous Track Marker", "", "Move to the previous track boundary marker\nPrevious Track Marker", ":/icons/go-previous.png", Rule::Loaded},
    {"splitTrack", "&Tracks", nullptr, "Split Track", "", "Convert the current Position Marker to a Track Boundary Marker\nSplit Track", ":/icons/edit-cut.png", Rule::Core, Command::SplitTrack, false, true},
    {"mergeTracks", "&Tracks", nullptr, "Merge Tracks", "", "Remove the current Track Boundary Marker and join its tracks\nMerge Tracks", ":/icons/list-add.png", Rule::NotBuilt, Command::MergeTracks},
    {"playFromStart", "&Tracks", "Play Track", "Play FromStart\tP", "P;Shift+P", "Play the current track from its start\nPlay From Start", ":/icons/media-playback-start.png", Rule::NotBuilt, Command::RescanAll, false, true},
    {"playFromCursor", "&Tracks", "Play Track", "Play From Cursor\tSPACE", "Shift+Space", "Play the current track from the cursor\nPlay From Cursor", ":/icons/media-seek-forward.png", Rule::NotBuilt},
    {"audition", "&Tracks", nullptr, "Audition Track Boundary", "Backspace;Return", "Play the seconds around the current track boundary\nAudition Track Boundary", ":/icons/help-faq.png", Rule::NotBuilt},
    {"pause", "&Tracks", nullptr, "Pause\tSPACE", "", "Pause playback\nPause", ":/icons/media-playback-pause.png", Rule::NotBuilt},
    {"skipBack", "&Tracks", nullptr, "Skip Back\tBACKSPACE", "", "Skip back a few seconds\nSkip Back", nullptr, Rule::NotBuilt},
    {"cancelPlayback", "&Tracks", nullptr, "Cancel Playback\tEsc", "Esc;0", "Stop playback\nCancel Playback", ":/icons/media-playback-stop.png", Rule::NotBuilt},
    {"fadeLinear", "&Tracks", "Fade Type", "Linear", "", "Fade tracks in and out linearly\nLinear Fades", nullptr, Rule::Core, Command::FadeLinear, true, true},
    {"fadeLog", "&Tracks", "Fade Type", "Logarithmic", "", "Fade tracks in and out logarithmically\nLogarithmic Fades", nullptr, Rule::Core, Command::FadeLogarithmic, true},
    {"properties", "&Tracks", nullptr, "Properties...", "", "Edit the titles, fades and silences of the tracks\nTrack Properties", ":/icons/document-properties.png", Rule::NotBuilt, Command::Properties},
    {"gapless", "&Tracks", nullptr, "Gapless (use Disc-at-Once)", "", "Close the gaps between the tracks (Disc-at-Once)\nGapless", nullptr, Rule::Core, Command::Gapless, true},

    {"blockRemove", "&Block", nullptr, "Remove Corrections", "", "Remove the corrections in the selected block\nRemove Corrections", nullptr, Rule::Core, Command::RemoveCorrections},
    {"blockRescan", "&Block", nullptr, "Re-Scan Clicks...", "", "Scan the selected block for clicks again\nRe-Scan Block", nullptr, Rule::Core, Command::RescanClicksBlock},
    {"blockSuperScan", "&Block", nullptr, "Super-Scan Clicks...", "", "Scan the selected block again in several passes\nSuper-Scan Block", nullptr, Rule::Core, Command::SuperScanClicksBlock},
    {"blockMerge", "&Block", nullptr, "Merge Tracks in Block", "", "Join the tracks that meet inside the selected block\nMerge Tracks in Block", nullptr, Rule::Core, Command::MergeTracksInBlock, false, true},
    {"playOriginal", "&Block", nullptr, "Play Block - Original", "", "Play the selected block as it was recorded\nPlay Original", nullptr, Rule::NotBuilt, Command::RescanAll, false, true},
    {"playCorrected", "&Block", nullptr, "Play  Block - Corrected", "", "Play the selected block with its corrections\nPlay Corrected", nullptr, Rule::NotBuilt},
    {"cancelBlock", "&Block", nullptr, "Cancel Block\tQ", "Q", "Cancel the selected block\nCancel Block", nullptr, Rule::Core, Command::CancelBlock, false, true},

    {"tip", "&Help", nullptr, "Tip of the Day...", "", "Show a tip about the program\nTip of the Day", nullptr, Rule::Always},
    {"helpTopics", "&Help", nullptr, "&Help Topics", "F1", "List the help topics\nHelp Topics", ":/icons/help-contents.png", Rule::NotBuilt},
    {"support", "&Help", nullptr, "On-line support", "", "Open the support page in the web browser\nOn-line support", nullptr, Rule::Always},
    {"about", "&Help", nullptr, "&About Kelvane...", "", "Display program information, version number and copyright\nAbout", nullptr, Rule::Always, Command::RescanAll, false, true},

    // Toolbar only.
    {"zoomOut", nullptr, nullptr, "Zoom Out", "4", "Show more of the wave in the waveform view\nZoom Out", ":/icons/zoom-out.png", Rule::Loaded},
    {"zoomIn", nullptr, nullptr, "Zoom In", "6", "Show less of the wave in the waveform view\nZoom In", ":/icons/zoom-in.png", Rule::Loaded},
    {"contextHelp", nullptr, nullptr, "Help", "Shift+F1", "Display help for clicked on buttons, menus and windows\nHelp", ":/icons/help-browser.png", Rule::Always},
};
// clang-format on

}  // namespace

std::span<const CommandEntry> CommandEntries() { return kCommands; }

const CommandEntry* FindCommand(const char* key)
{
    for (const CommandEntry& c : kCommands)
        if (std::strcmp(c.key, key) == 0) return &c;
    return nullptr;
}

std::vector<std::vector<const char*>> ToolbarGroups()
{
    return {{"open", "record"},
            {"rescanClicks", "autoScanOptions"},
            {"playFromStart", "playFromCursor"},
            {"pause", "cancelPlayback"},
            {"splitTrack", "mergeTracks", "audition", "properties", "prevMarker", "nextMarker"},
            {"zoomOut", "zoomIn"},
            {"helpTopics", "contextHelp"}};
}

std::vector<const char*> StripContextCommands() { return {"playFromStart", "playFromCursor", "splitTrack", "properties"}; }

}  // namespace kelvane
