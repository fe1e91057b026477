// The in-memory list of "auth-els.conf" entries: building, look-ups and setters.
#include "core/edif_config.h"

#include <strings.h>

#include <cstring>
#include <set>

#include "core/core_log.h"
#include "core/edif_strings.h"

namespace {

char* copy_text(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t n = std::strlen(text);
    auto* out = static_cast<char*>(CoreMalloc(n + 1));
    if (out != nullptr) std::memcpy(out, text, n + 1);
    return out;
}

bool same_name(const char* a, const char* b) { return a != nullptr && b != nullptr && strcasecmp(a, b) == 0; }

// Case-insensitive substring test.
bool name_contains(const char* name, const char* text) {
    if (name == nullptr || text == nullptr) return false;
    const size_t n = std::strlen(text);
    for (const char* p = name; *p != '\0'; ++p)
        if (strncasecmp(p, text, n) == 0) return true;
    return n == 0;
}

bool is_brace(const EDIFCONF* e, char brace) {
    return e->type == EDIF_TYPE_SECTION && e->name != nullptr && e->name[0] == brace;
}

bool is_header(const EDIFCONF* e) { return e->type == EDIF_TYPE_SECTION && !is_brace(e, '{') && !is_brace(e, '}'); }

bool is_member(const EDIFCONF* e) { return e->type == EDIF_TYPE_INTEGER || e->type == EDIF_TYPE_STRING; }

EDIFCONF* new_entry(const char* name, int16_t group, int16_t type, int16_t idx) {
    auto* e = static_cast<EDIFCONF*>(CoreZMalloc(sizeof(EDIFCONF)));
    if (e == nullptr) return nullptr;
    e->name = copy_text(name != nullptr ? name : "");
    if (e->name == nullptr) {
        CoreFree(e);
        return nullptr;
    }
    e->group = group;
    e->type = type;
    e->idx = idx;
    if (std::strncmp(e->name, "remote_", 7) == 0) {
        const int id = CoreGetRemoteNameID(e->name);
        if (id >= 0 && id <= 0x7FFF) e->nameid = static_cast<int16_t>(id);
    }
    if (type == EDIF_TYPE_COMMENT) e->value.disabled = 1;
    return e;
}

// Visits the entries of the section headed by `header`: from the entry after
// it up to the brace that closes it, or up to the next header of its own group.
template <class Visit>
void for_each_in_section(EDIFCONF* header, Visit visit) {
    int depth = 0;
    bool opened = false;
    for (EDIFCONF* e = header->next; e != nullptr; e = e->next) {
        if (depth == 0 && is_header(e) && e->group == header->group) return;
        if (is_brace(e, '{')) {
            ++depth;
            opened = true;
        } else if (is_brace(e, '}')) {
            if (--depth <= 0) return;
        }
        if (!opened && !is_member(e) && e->type != EDIF_TYPE_COMMENT) return;
        if (visit(e)) return;
    }
}

// The set/section look-ups; `even` is the section's group, `even + 1` its sets'.
EDIFCONF* group_index(const char* op, EDIFCONF* list, const char* name, const char* member, int16_t group,
                      int* position, int16_t even) {
    if (group != even && group != even + 1) {
        CoreLogMessage(ZV_MSG_DEBUG, "%s: Invalid group!", op);
        return nullptr;
    }
    int pos = 0;
    for (EDIFCONF* e = list; e != nullptr; e = e->next, ++pos) {
        if (!is_header(e) || e->group != group || !name_contains(e->name, name)) continue;
        uint32_t count = 0;
        bool hasMember = member == nullptr || group == even;
        for_each_in_section(e, [&](EDIFCONF* m) {
            if (group == even) {
                if (is_header(m) && m->group == even + 1) ++count;
            } else if (is_member(m)) {
                ++count;
                if (member != nullptr && same_name(m->name, member)) hasMember = true;
            }
            return false;
        });
        if (!hasMember) continue;
        e->nameid = 1;
        e->count = count;
        if (position != nullptr) *position = pos;
        return e;
    }
    if (group == EDIF_GROUP_REMOTE && position != nullptr) {
        std::set<int> used;
        for (const EDIFCONF* e = list; e != nullptr; e = e->next)
            if (is_header(e) && e->group == EDIF_GROUP_REMOTE && CoreIsRemoteGroupStr(e->name))
                used.insert(CoreGetRemoteNameID(e->name));
        int next = 1;
        while (used.count(next) != 0) ++next;
        *position = next;
    }
    return nullptr;
}

}  // namespace

void configFreeEntry(EDIFCONF* entry) {
    if (entry == nullptr) return;
    CoreFree(entry->name);
    CoreFree(entry->parent);
    CoreFree(entry->value.sval);
    CoreFree(entry);
}

void CoreEDifConfigDestroyList(EDIFCONF** list) {
    if (list == nullptr) return;
    EDIFCONF* e = *list;
    while (e != nullptr) {
        EDIFCONF* next = e->next;
        configFreeEntry(e);
        e = next;
    }
    *list = nullptr;
}

void CoreEDifConfigResyncList(EDIFCONF** list) {
    if (list == nullptr) return;
    int16_t idx = 0;
    for (EDIFCONF* e = *list; e != nullptr; e = e->next) e->idx = idx++;
}

int configGetConfigListSize(const EDIFCONF* list) {
    int n = 0;
    for (; list != nullptr; list = list->next) ++n;
    return n;
}

int configAdd(EDIFCONF** list, const char* name, int16_t group, int16_t type, int16_t idx) {
    if (list == nullptr) return 0;
    EDIFCONF* e = new_entry(name, group, type, idx);
    if (e == nullptr) return 0;
    EDIFCONF** tail = list;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = e;
    return 1;
}

int configPush(EDIFCONF** list, const char* name, int16_t group, int16_t type, int16_t idx) {
    if (list == nullptr) return 0;
    EDIFCONF* e = new_entry(name, group, type, idx);
    if (e == nullptr) return 0;
    e->next = *list;
    *list = e;
    return 1;
}

EDIFCONF* configInsert(EDIFCONF* entry, const char* name, int16_t group, int16_t type, int16_t idx) {
    if (entry == nullptr) return nullptr;
    EDIFCONF* e = new_entry(name, group, type, idx);
    if (e == nullptr) return nullptr;
    e->next = entry->next;
    entry->next = e;
    return e;
}

EDIFCONF* configDelete(EDIFCONF** list, const char* /*name*/, int16_t /*group*/, int16_t idx) {
    if (list == nullptr) return nullptr;
    // The head is unlinked like any other entry, so the list never keeps a
    // pointer to an entry the caller is about to release.
    for (EDIFCONF** link = list; *link != nullptr; link = &(*link)->next) {
        EDIFCONF* e = *link;
        if (e->idx != idx) continue;
        *link = e->next;
        e->next = nullptr;
        return e;
    }
    return nullptr;
}

EDIFCONF* configSearch(EDIFCONF* list, const char* name, int16_t group, int16_t idx) {
    for (EDIFCONF* e = list; e != nullptr; e = e->next)
        if (e->group == group && e->idx == idx && same_name(e->name, name)) return e;
    return nullptr;
}

EDIFCONF* configGetGroupIndex(EDIFCONF* list, const char* name, const char* /*member*/, int16_t group,
                              int* position) {
    int pos = 0;
    for (EDIFCONF* e = list; e != nullptr; e = e->next, ++pos) {
        if (e->group != group || !same_name(e->name, name)) continue;
        if (position != nullptr) *position = pos;
        return e;
    }
    return nullptr;
}

namespace {
EDIFCONF* search_in_section(EDIFCONF* list, const char* section, const char* member, int16_t group, int* position,
                            bool byGroup) {
    int pos = 0;
    for (EDIFCONF* h = list; h != nullptr; h = h->next, ++pos) {
        if (!is_header(h)) continue;
        if (byGroup ? !same_name(h->name, section) : (h->group != group || !name_contains(h->name, section)))
            continue;
        EDIFCONF* found = nullptr;
        int at = pos;
        int found_at = -1;
        for_each_in_section(h, [&](EDIFCONF* e) {
            ++at;
            if (is_member(e) && same_name(e->name, member) && (!byGroup || e->group == group)) {
                found = e;
                found_at = at;
                return true;
            }
            return false;
        });
        if (found != nullptr) {
            if (position != nullptr) *position = found_at;
            return found;
        }
    }
    return nullptr;
}
}  // namespace

EDIFCONF* configSearchGroupEntry(EDIFCONF* list, const char* section, const char* member, int16_t group,
                                 int* position) {
    return search_in_section(list, section, member, group, position, true);
}

EDIFCONF* configSearchSectionEntry(EDIFCONF* list, const char* section, const char* member, int16_t group,
                                   int* position) {
    return search_in_section(list, section, member, group, position, false);
}

EDIFCONF* configGetDisabledRemotesGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                             int* position) {
    return group_index("configGetDisabledRemotesGroupIndex", list, name, member, group, position,
                       EDIF_GROUP_DISABLED_REMOTES);
}

EDIFCONF* configGetRekeyGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                   int* position) {
    return group_index("configGetRekeyGroupIndex", list, name, member, group, position, EDIF_GROUP_REKEY_CONFIG);
}

EDIFCONF* configGetSharedSecretGroupIndex(EDIFCONF* list, const char* name, const char* member, int16_t group,
                                          int* position) {
    return group_index("configGetSharedSecretGroupIndex", list, name, member, group, position,
                       EDIF_GROUP_SHARED_SECRET_CONFIG);
}

EDIFCONF* configGetEncryptionAlgorithmGroupIndex(EDIFCONF* list, const char* name, const char* member,
                                                 int16_t group, int* position) {
    return group_index("configGetEncryptionAlgorithmGroupIndex", list, name, member, group, position,
                       EDIF_GROUP_ALGORITHM_CONFIG);
}

int configValidateGroupName(const EDIFCONF* list, const char* name, int16_t group) {
    if (group != EDIF_GROUP_REMOTE && group != EDIF_GROUP_SHARED_SECRET) {
        CoreLogMessage(ZV_MSG_DEBUG, "configValidateGroupName: Invalid group!");
        return 0;
    }
    for (const EDIFCONF* e = list; e != nullptr; e = e->next) {
        if (e->group != group || !same_name(e->name, name)) continue;
        CoreLogMessage(ZV_MSG_DEBUG, "configValidateGroupName: Found duplicate name=%s group=%d index=%d", e->name,
                       e->group, e->idx);
        return 0;
    }
    return 1;
}

int configFindDuplicateStringValue(const EDIFCONF* list, const char* value, int16_t group) {
    for (const EDIFCONF* e = list; e != nullptr; e = e->next)
        if (e->group == group && e->type == EDIF_TYPE_STRING && e->value.disabled == 0 &&
            same_name(e->value.sval, value))
            return 1;
    return 0;
}

int CoreEDifConfigSetInteger(EDIFCONF* list, const char* name, int64_t value, int16_t group, int16_t idx,
                             uint8_t disabled) {
    EDIFCONF* e = configSearch(list, name, group, idx);
    if (e == nullptr) return -1;
    CoreFree(e->value.sval);
    e->value.sval = nullptr;
    e->value.ival = value;
    e->value.disabled = disabled;
    e->type = EDIF_TYPE_INTEGER;
    return 1;
}

int __CoreConfigSetString(EDIFCONF** entry, const char* text, uint8_t disabled) {
    if (entry == nullptr || *entry == nullptr) return -1;
    EDIFCONF* e = *entry;
    char* copy = nullptr;
    if (text != nullptr && (copy = copy_text(text)) == nullptr) return -1;
    CoreFree(e->value.sval);
    e->value.sval = copy;
    e->value.disabled = disabled;
    if (e->type == EDIF_TYPE_INTEGER || e->type == 3) e->type = EDIF_TYPE_STRING;
    return 1;
}

int CoreEDifConfigSetString(EDIFCONF* list, const char* name, const char* text, int16_t group, int16_t idx,
                            uint8_t disabled) {
    EDIFCONF* e = configSearch(list, name, group, idx);
    return __CoreConfigSetString(&e, text, disabled);
}

int __configSetComment(EDIFCONF** entry, const char* text) {
    if (entry == nullptr || *entry == nullptr || (*entry)->type != EDIF_TYPE_COMMENT) return -1;
    char* copy = copy_text(text != nullptr ? text : "");
    if (copy == nullptr) return -1;
    CoreFree((*entry)->name);
    (*entry)->name = copy;
    return 1;
}

int configSetComment(EDIFCONF* list, const char* name, const char* text, int16_t group) {
    EDIFCONF* e = configSearch(list, name, group, 0);
    return __configSetComment(&e, text);
}

const char* CoreConfigGetString(const EDIFCONF* entry) {
    return (entry != nullptr && entry->type == EDIF_TYPE_STRING) ? entry->value.sval : nullptr;
}

int CoreConfigGetDisabledMode(const EDIFCONF* entry) { return entry != nullptr ? entry->value.disabled : 0; }

int CoreConfigSetDisabledMode(EDIFCONF* entry, uint8_t mode) {
    if (entry == nullptr) return -1;
    entry->value.disabled = mode;
    return 1;
}

int configGetOption(const EDIFCONF* entry, uint16_t mask) {
    return (entry != nullptr && (entry->options & mask) == mask) ? 1 : 0;
}

void configSetOption(EDIFCONF* entry, uint16_t mask, int on) {
    if (entry == nullptr) return;
    if (on != 0) entry->options = static_cast<uint16_t>(entry->options | mask);
    else entry->options = static_cast<uint16_t>(entry->options & ~mask);
}
