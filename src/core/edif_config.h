// The host-side link-security (EDIF) configuration "auth-els.conf" as an ordered,
// singly linked list of entries in file order: section headers and brace lines,
// integer and string members, comments. No command of the utility uses it; it
// serves an agent of the same code base.
#pragma once

#include <cstdint>

// Groups of entries.
constexpr int16_t EDIF_GROUP_PREAMBLE = 0;          // lines before the first header
constexpr int16_t EDIF_GROUP_AUTH_ELS = 1;          // the top section
constexpr int16_t EDIF_GROUP_DISABLED_REMOTES = 2;
constexpr int16_t EDIF_GROUP_REMOTE = 3;            // one remote port
constexpr int16_t EDIF_GROUP_REKEY_CONFIG = 4;
constexpr int16_t EDIF_GROUP_REKEY = 5;             // one rekey set
constexpr int16_t EDIF_GROUP_SHARED_SECRET_CONFIG = 6;
constexpr int16_t EDIF_GROUP_SHARED_SECRET = 7;     // one shared secret
constexpr int16_t EDIF_GROUP_ALGORITHM_CONFIG = 8;
constexpr int16_t EDIF_GROUP_PROPOSALS = 9;

// Entry types.
constexpr int16_t EDIF_TYPE_SECTION = 1;   // section header or brace line
constexpr int16_t EDIF_TYPE_INTEGER = 2;
constexpr int16_t EDIF_TYPE_STRING = 4;    // members start as strings
constexpr int16_t EDIF_TYPE_COMMENT = 5;

// Option bit: the header is followed by an opening brace.
constexpr uint16_t EDIF_OPTION_BRACE = 0x2;

typedef struct _EDIFVAL {
    int64_t ival;
    char* sval;          // owned
    uint8_t disabled;    // 1: the entry is written commented out
} EDIFVAL;

typedef struct _EDIFCONF {
    char* name;          // owned: key, section name, or the whole text of a comment or brace line
    char* parent;        // owned: enclosing section, when known
    int16_t group;
    int16_t nameid;      // the number of a "remote_<n>" name; 1 once a look-up marked it
    int16_t type;
    int16_t format;
    uint16_t options;
    int16_t idx;         // position in the list from 0
    uint32_t count;      // members counted by the look-ups
    EDIFVAL value;
    _EDIFCONF* next;
} EDIFCONF;

// Releases every entry with its texts; the list becomes null.
void CoreEDifConfigDestroyList(EDIFCONF** list);
// idx := position from 0.
void CoreEDifConfigResyncList(EDIFCONF** list);
int configGetConfigListSize(const EDIFCONF* list);

// A new entry (name copied; a "remote_<n>" name gets n as nameid; a comment
// starts disabled) at the end, at the head, or right after `entry`. 1 (the
// new entry for configInsert), or 0 (null) when memory is exhausted.
int configAdd(EDIFCONF** list, const char* name, int16_t group, int16_t type, int16_t idx);
int configPush(EDIFCONF** list, const char* name, int16_t group, int16_t type, int16_t idx);
EDIFCONF* configInsert(EDIFCONF* entry, const char* name, int16_t group, int16_t type, int16_t idx);
// Unlinks the first entry whose idx is `idx` (the head too: *list then starts
// at the next one) and returns it for the caller to release with
// configFreeEntry; null when none.
EDIFCONF* configDelete(EDIFCONF** list, const char* name, int16_t group, int16_t idx);
void configFreeEntry(EDIFCONF* entry);

// The first entry with that name (ignoring case), group and index.
EDIFCONF* configSearch(EDIFCONF* list, const char* name, int16_t group, int16_t idx);
// The first entry with that name and group; *position its position.
EDIFCONF* configGetGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group, int* position);
// A member of `group` named `member` inside the section whose header is named
// `section`; *position its position. The section ends at the brace that
// closes it or at the next header of its own group.
EDIFCONF* configSearchGroupEntry(EDIFCONF* list, const char* section, const char* member, int16_t group,
                                 int* position);
// The same for a member of any group inside the section, whose header is of
// `group` and whose name contains `section`.
EDIFCONF* configSearchSectionEntry(EDIFCONF* list, const char* section, const char* member, int16_t group,
                                   int* position);

// The section (the even group) or set (the odd group) whose name contains
// `name`: marked (nameid 1), its members (for a section: its sets) counted
// into `count`, *position its position. A set with a `member` text must also
// hold a member of that name. Other groups: "<operation>: Invalid group!" and
// null. For remote ports (group 3) with no matching set, *position receives
// the next free remote number: the lowest n >= 1 no "remote_<n>" set uses.
EDIFCONF* configGetDisabledRemotesGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                             int* position);
EDIFCONF* configGetRekeyGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                   int* position);
EDIFCONF* configGetSharedSecretGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                          int* position);
EDIFCONF* configGetEncryptionAlgorithmGroupIndex(EDIFCONF* list, const char* name, const char* member,
                                                 int16_t group, int* position);

// Groups 3 and 7: 1 when no entry of the group has that name, else 0.
int configValidateGroupName(const EDIFCONF* list, const char* name, int16_t group);
// 1 when an enabled string entry of the group holds the value (ignoring case).
int configFindDuplicateStringValue(const EDIFCONF* list, const char* value, int16_t group);

// Setters of the entry found by configSearch: 1, or -1 when there is none.
int CoreEDifConfigSetInteger(EDIFCONF* list, const char* name, int64_t value, int16_t group, int16_t idx,
                             uint8_t disabled);
int CoreEDifConfigSetString(EDIFCONF* list, const char* name, const char* text, int16_t group, int16_t idx,
                            uint8_t disabled);
// The comment text of the entry of that name and group with index 0.
int configSetComment(EDIFCONF* list, const char* name, const char* text, int16_t group);
// Releases the old text, stores a copy (or null), sets the disabled mode and
// makes an integer a string; 1, or -1 for no entry (or no memory).
int __CoreConfigSetString(EDIFCONF** entry, const char* text, uint8_t disabled);
// Replaces the text of a comment entry; 1, else -1.
int __configSetComment(EDIFCONF** entry, const char* text);
// The text of a string entry, else null.
const char* CoreConfigGetString(const EDIFCONF* entry);
int CoreConfigGetDisabledMode(const EDIFCONF* entry);
int CoreConfigSetDisabledMode(EDIFCONF* entry, uint8_t mode);   // -1 for null, else 1
// 1 when every bit of the mask is set.
int configGetOption(const EDIFCONF* entry, uint16_t mask);
void configSetOption(EDIFCONF* entry, uint16_t mask, int on);
