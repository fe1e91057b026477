// Reading, writing and showing "auth-els.conf", the host-side link-security
// configuration that the IPsec service reads, in the service's brace-and-indent
// layout; where the file lives (agent.properties) and the service reload.
#pragma once

#include "core/edif_config.h"

inline constexpr const char* EDIF_CONFIG_FILE_NAME = "auth-els.conf";

// Takes the directory that "node.agent.edif.config.path", else
// "node.agent.edif.source.path", of agent.properties names when it holds a
// regular "auth-els.conf"; 0, or -1 when neither does (or there is no
// agent.properties).
int CoreFindEDiffConfigPath();
// At most 259 characters; -1 for null (the directory stays) or a longer
// path (the directory becomes empty, never a cut one), else 0.
int CoreSetEDiffConfigPath(const char* path);
// The directory ("" when none was found).
const char* CoreGetEDiffConfigPath();
// Runs "/usr/sbin/swanctl --reload-settings" when that program is executable;
// its status, else -1.
int CoreRestartStrongSwanService();

// Reads the file into a new list (an existing one is destroyed first): 1; -2
// when the file cannot be opened or is no regular file; -1 on a read error.
int CoreEDifConfigCreateListFromFile(EDIFCONF** list, const char* path);
// Turns one line into entries. The parser's state (current group, next index,
// brace counts) runs on from line to line; reading a file starts it afresh.
void CoreConfigParseString(EDIFCONF** list, const char* line);
// Renumbers the list and writes it in the service's layout, then one empty
// line: 1; 0 for an empty list; -1 when the file cannot be written. The file is
// replaced whole: it is written under a new name beside it, then renamed.
int CoreEDifConfigWriteToFile(EDIFCONF* list, const char* path);
// The same layout, line by line, on the core log (trace level).
void CoreEDifConfigDisplay(const EDIFCONF* list);
