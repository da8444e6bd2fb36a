#pragma once
// The fixed command set of the main window: every menu command in menu
// order with its text, accelerators, prompt (status-bar line, then tooltip)
// and toolbar icon, and the rule its enabling comes from. The frame builds
// its menus, toolbar and QActions from this table and nothing else.

#include "document/CommandState.h"

#include <span>
#include <vector>

namespace kelvane {

enum class Rule {
    Always,      // the frame's own commands: open, exit, toggles of the bars
    Loaded,      // a recording is loaded
    Core,        // QueryCommand(core) decides
    NotBuilt,    // its feature is still to come: shown, always disabled
};

struct CommandEntry {
    const char* key;        // the action's object name
    const char* menu;       // top-level menu title
    const char* submenu;    // a pop-up inside it, or nullptr
    const char* text;       // the menu text, "&" mnemonics and "\t" accelerator text included
    const char* shortcuts;  // ";"-separated key sequences, or ""
    const char* prompt;     // "status-bar prompt\ntooltip"
    const char* icon;       // toolbar icon in the resources, or nullptr
    Rule rule;
    Command core = Command::RescanAll;  // with Rule::Core
    bool checkable = false;
    bool separatorBefore = false;
};

std::span<const CommandEntry> CommandEntries();
const CommandEntry* FindCommand(const char* key);

// The toolbar: groups of command keys, separators between the groups.
std::vector<std::vector<const char*>> ToolbarGroups();

// The track strip's context menu.
std::vector<const char*> StripContextCommands();

}  // namespace kelvane
