// Text templates of the configuration tables (firmware preload table, FC and
// PEP board configuration): the table's version and the bytes to lay over the
// table read from the adapter. The format is described in docs/board-templates.md.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mgmt/sd_types.h"

// Longest template file read (a template only patches bytes of a table).
constexpr std::size_t BRDTPL_MAX_FILE_SIZE = 1024 * 1024;
// Bound of the offsets a template may name before the region is known; the
// region's own size bounds them when the template is applied.
constexpr SD_UINT32 BRDTPL_MAX_TABLE_SIZE = 0x1000000;

struct BoardTemplatePatch {
    SD_UINT32 offset = 0;
    std::vector<SD_UINT8> bytes;
};

struct BoardTemplate {
    std::array<char, 4> table{};                  // the table's signature ("JKOZ", "CBF(", "IKOZ")
    std::array<SD_UINT8, 4> version{};            // major, minor, subminor, test
    std::vector<BoardTemplatePatch> patches;      // in file order
};

// Parses a template for a table of `tableSignature` that must fit `maxTableSize`
// bytes. True on success; false with a reason (for the debug log) when the
// text is not a well-formed template of that table.
bool ParseBoardTemplate(std::string_view text, std::string_view tableSignature, SD_UINT32 maxTableSize,
                        BoardTemplate* pTemplate, std::string* pReason);

// Reads and parses a template file. 0; 1 when the file cannot be opened or
// read or is not a regular file (said to the user); 13 when it is not a
// well-formed template (too large, malformed).
int LoadBoardTemplateFile(const char* path, std::string_view tableSignature, SD_UINT32 maxTableSize,
                          BoardTemplate* pTemplate);

// Lays the patches over the table and stores the template's version in the
// table's version bytes. False (table unchanged) when a patch does not fit.
bool ApplyBoardTemplate(const BoardTemplate& tpl, std::span<SD_UINT8> table);
