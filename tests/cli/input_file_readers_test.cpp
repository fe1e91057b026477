// Every reader of the program's input files over the same plantings: each
// reads root's own file and refuses a link, a FIFO, a file others may write,
// a file another user put in a directory others may write and another user's
// file anywhere, saying the file and the reason. A reader added without the reader rule fails here
// (and the source check Readers.EveryOpenGoesThroughTheRule names it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "boardcfg/board_template.h"
#include "cli/flash_cfg.h"
#include "core/adapter_ssid_list.h"
#include "core/core_file_utils.h"
#include "core/core_log.h"
#include "core/edif_config_file.h"
#include "core/image_file.h"
#include "core/input_file.h"
#include "core/oss_services.h"
#include "core/preferences.h"
#include "core/properties_merge.h"
#include "engines/dorne_image_file.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "frontend/file_util.h"
#include "image/option_rom_validation.h"
#include "support/e2e_support.h"

namespace {
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct Reader {
    const char* what;
    std::string name;      // the file's name in the directory
    std::string content;   // what root's own file holds (the reader takes it)
    // Reads `path` (in `dir`): whether the file was read. `shown` is how the
    // reader names it.
    std::function<bool(const std::string& dir, const std::string& path)> read;
    bool namedRelative = false;   // opened by bare name from the working directory
};

std::vector<Reader> Readers() {
    const std::string image(4096, 'I');
    const std::string table = zvfix::AdapterTable({zvfix::TableRow(0x0289, 0x1A77)});
    const auto copyTo = [](const std::string& dir) { return dir + ".copy"; };
    return {
        {"image of any family", "img.bin", image,
         [](auto&, auto& p) {
             std::vector<SD_UINT8> bytes;
             return CoreReadImageFile(p.c_str(), {}, bytes) == ImageFileResult::Ok;
         }},
        {"Dorne image", "img.bin", image,
         [](auto&, auto& p) {
             std::vector<SD_UINT8> bytes;
             DorneMessage m;
             return DorneReadImageFile(p.c_str(), true, &bytes, m) == 0;
         }},
        {"-b file size", "img.bin", image,
         [](auto&, auto& p) {
             uint32_t size = 0;
             return getFileSize(p.c_str(), &size) == 0 && size == 4096;
         }},
        {"-b file test", "img.bin", image, [](auto&, auto& p) { return isFileExists(p.c_str()) == 1; }},
        {"option-ROM file", "img.bin", image,
         [](auto&, auto& p) {
             std::vector<SD_UINT8> buf(8192);
             SD_UINT32 size = static_cast<SD_UINT32>(buf.size());
             return validateOptionROMFile(p.c_str(), buf, &size) != 1;
         }},
        {"board template", "Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "2.0.0", {{0x40, {0x11}}}, {}}.Text(),
         [](auto&, auto& p) {
             BoardTemplate tpl;
             return LoadBoardTemplateFile(p.c_str(), "CBF(", 0x1000, &tpl) == 0;
         }},
        {"flash.cfg", "flash.cfg",
         zvfix::FlashCfg({zvfix::FlashCfgRowFor(0x0289, 0x1A77, "KV2692", "6.05.01", "kv_mbi.bin")}),
         [](auto&, auto& p) {
             const bool read = BuildFlashCtrListFromFile(p.c_str()) == 0;
             DeleteFlashCtrVersionList();
             return read;
         }},
        {"adapters.properties", "adapters.properties", table,
         [](auto&, auto& p) {
             SubSystemIDListPtr list = LoadAdapterSubSystemList(p);
             const bool read = CountSubSystemID(list.get()) > 1;
             DeleteSubSystemIDList(list);
             return read;
         }},
        {"whole file", "dump.bin", image,
         [](auto&, auto& p) {
             uint8_t* data = nullptr;
             uint32_t size = 0;
             const bool read = CoreReadFileToBuffer(&data, p.c_str(), &size) == 0;
             CoreFree(data);
             return read;
         }},
        {"file copy", "dump.bin", image,
         [=](auto& d, auto& p) { return CoreCopyFile(p.c_str(), copyTo(d).c_str()) == 0; }},
        {"-x source", "flash.cfg", "record\n",
         [=](auto& d, auto& p) { return CopyFile(p.c_str(), copyTo(d).c_str()) == 0; }},
        {"EDIF configuration", "edif.conf", "auth-els\n{\n   load = 1\n}\n",
         [](auto&, auto& p) {
             EDIFCONF* list = nullptr;
             const int rc = CoreEDifConfigCreateListFromFile(&list, p.c_str());
             CoreEDifConfigDestroyList(&list);
             return rc >= 0;
         }},
        {"preference file", "agent.properties", "key=value\n",
         [](auto&, auto& p) {
             FILE* f = PrefOpenPreferenceFile(p.c_str());
             const char* v = f != nullptr ? PrefGetProperty(f, "key") : nullptr;
             const bool read = v != nullptr && std::string(v) == "value";
             PrefClosePreferenceFile(f);
             return read;
         }},
        {"preference file by name", "agent.properties", "key=value\n",
         [](auto&, auto&) {
             const char* v = PrefGetProperty(nullptr, "key");
             return v != nullptr && std::string(v) == "value";
         },
         true},
        {"agent.properties merge", "agent.properties", "key=new\n",
         [](auto& d, auto&) {
             zvfix::WriteTextFile(d + "/agent.properties.orig", "key=old\n");
             return MergePropertiesFilesIn(d.c_str()) == 0;
         }},
    };
}

std::vector<std::string> g_said;
void Capture(const char* text) { g_said.emplace_back(text); }

void MakeDir(const std::string& path, uid_t owner, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

void Put(const std::string& path, const std::string& content, uid_t owner, mode_t mode) {
    zvfix::WriteTextFile(path, content);
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

struct Planting {
    const char* what;
    uid_t dirOwner;
    mode_t dirMode;
    // Makes the file at `path` from `content` (null: root's own file).
    std::function<void(const std::string& path, const std::string& content)> plant;
    std::string reason;   // after "File <path>"
};

const std::string kPlaced =
    " is ignored: it is in a directory that users other than root may write, and root does not own it!";

std::vector<Planting> Plantings() {
    return {
        {"root's own file", 0, 0755, [](auto& p, auto& c) { Put(p, c, 0, 0644); }, ""},
        {"root's own file in /tmp", 0, 01777, [](auto& p, auto& c) { Put(p, c, 0, 0644); }, ""},
        {"link to root's file", 0, 0755,
         [](auto& p, auto& c) {
             Put(p + ".real", c, 0, 0644);
             ASSERT_EQ(::symlink((p + ".real").c_str(), p.c_str()), 0);
         },
         " is a symbolic link; it is not read!"},
        {"FIFO", 0, 0755, [](auto& p, auto&) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         " is not a regular file; it is not read!"},
        {"file others may write", 0, 0755, [](auto& p, auto& c) { Put(p, c, 0, 0646); },
         " is ignored: users other than root may write it!"},
        {"file its group may write", 0, 0755, [](auto& p, auto& c) { Put(p, c, 0, 0664); },
         " is ignored: users other than root may write it!"},
        {"another user's file in a directory its group may write", 0, 0775,
         [](auto& p, auto& c) { Put(p, c, kNobody, 0644); }, kPlaced},
        {"another user's file in /tmp", 0, 01777, [](auto& p, auto& c) { Put(p, c, kNobody, 0644); }, kPlaced},
        {"another user's file in their own directory", kNobody, 0755,
         [](auto& p, auto& c) { Put(p, c, kNobody, 0644); }, kPlaced},
        {"another user's file in root's own directory", 0, 0755, [](auto& p, auto& c) { Put(p, c, kNobody, 0644); },
         " is ignored: a user other than root owns it!"},
    };
}

TEST(InputFileReaders, EveryReaderTakesRootsFileAndRefusesEveryPlanting) {
    CoreSetInputFileNoticeHook(Capture);
    const std::string home = fs::current_path();
    zvtest::TempDir top;
    int n = 0;
    for (const Reader& reader : Readers()) {
        for (const Planting& planting : Plantings()) {
            SCOPED_TRACE(std::string(reader.what) + ": " + planting.what);
            const std::string dir = top.Path() + "/" + std::to_string(n++);
            MakeDir(dir, planting.dirOwner, planting.dirMode);
            const std::string path = dir + "/" + reader.name;
            planting.plant(path, reader.content);
            g_said.clear();
            // A reader that skipped the rule would wait for ever on the FIFO:
            // a writer that comes and goes lets it through, so that the table
            // fails instead of hanging.
            struct stat st {};
            std::atomic<bool> done{::lstat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)};
            std::thread writer([&] {
                while (!done) {
                    if (const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
                    ::poll(nullptr, 0, 5);   // a real wait: the test's sleeps are instant
                }
            });
            ASSERT_EQ(::chdir(dir.c_str()), 0);
            const bool read = reader.read(dir, path);
            done = true;
            writer.join();
            ASSERT_EQ(::chdir(home.c_str()), 0);
            if (planting.reason.empty()) {
                EXPECT_TRUE(read);
                EXPECT_EQ(g_said, std::vector<std::string>{});
                continue;
            }
            EXPECT_FALSE(read);
            const std::string shown = reader.namedRelative ? reader.name : path;
            EXPECT_EQ(g_said, std::vector<std::string>{"File " + shown + planting.reason});
        }
    }
    CoreSetInputFileNoticeHook(nullptr);
}

}  // namespace
