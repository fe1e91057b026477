// The command line: two passes over the arguments, and the dispatcher that runs
// the one selected operation. Every switch and command word is declared once, in
// the table returned by CliWords(), with its forms, its usage text and its work.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/sdm_device.h"

// Operation codes.
constexpr int VORN_OP_NONE = 0;
constexpr int VORN_OP_USAGE = 1;
constexpr int VORN_OP_VERSION = 2;
constexpr int VORN_OP_HOST_INFO = 3;
constexpr int VORN_OP_GENERAL_INFO = 4;
constexpr int VORN_OP_FLASH_VERSIONS = 5;
constexpr int VORN_OP_FLASH_FROM_FILE = 6;
constexpr int VORN_OP_PEP_BC_VERSION = 7;
constexpr int VORN_OP_FLASH_DESCRIPTOR = 8;
constexpr int VORN_OP_EXTRACT = 9;
constexpr int VORN_OP_MCTP_ENABLE = 10;
constexpr int VORN_OP_MCTP_DISABLE = 11;
constexpr int VORN_OP_MPI_STATE = 12;
constexpr int VORN_OP_PCI_VENDOR = 13;

// Results of ParseArg.
constexpr int VORN_PARSE_OK = 0;
constexpr int VORN_PARSE_USAGE = 1;
constexpr int VORN_PARSE_VERSION = 2;
constexpr int VORN_PARSE_INVALID = 8;
constexpr int VORN_PARSE_NO_MEMORY = 11;
constexpr int VORN_PARSE_BAD_ADAPTER = 16;

// At most this many command words (the next one makes the line invalid).
constexpr int VORN_MAX_COMMAND_WORDS = 255;

enum class CliKind : uint8_t { Switch, Command, NoWord };
enum class CliArg : uint8_t { None, Adapter, Directory, AdapterAndFile };
enum class CliHelp : uint8_t { None, Option, HbaType };

struct CliWord {
    std::array<const char*, 4> forms;   // "-" and "/" spellings (unused slots null)
    CliKind kind;
    int (*onSwitch)();                  // switches: acts at once; 0 go on, 1 usage, 2 version
    int operation;                      // commands and operations without a word
    CliArg arg;
    int (*runAll)();                    // the operation (all adapters)
    int (*runOne)(SDMDevice* port);     // the operation for one adapter
    CliHelp help;
    std::array<const char*, 2> usage;   // usage lines (each printed with a newline)
};

std::span<const CliWord> CliWords();

int ParseArg(int argc, char** argv);
int FirstPassParseArg(int argc, char** argv);
int SecondPassParseArg();
void CleanUpArgumentList();
int ProcessArg();

int ParseUserInputForAdapter(const char* text);
int CheckAdapterNumber(const char* text);
int CheckAdapterWWN(const char* text);
