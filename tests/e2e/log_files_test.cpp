// The output file and the debug log of a whole run are made as an append-mode
// open makes them: 0666 less the umask the program was started with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>

#include "e2e/run_helpers.h"
#include "support/e2e_support.h"

namespace {

class LogFiles : public zve2e::IsolatedTest {
protected:
    zvtest::InstallDir inst_;
};

TEST_F(LogFiles, ModeIsWhatTheUmaskLeaves) {
    for (const auto& [mask, mode] : {std::pair<mode_t, mode_t>{022, 0644}, {077, 0600}}) {
        zvtest::RunOptions o;
        o.args = {"-trace"};   // no flash.cfg: one output-file line, then the end
        const mode_t old = ::umask(mask);
        const zvtest::RunResult r = zvtest::RunProgram(inst_, o);
        ::umask(old);
        EXPECT_EQ(r.status, 5) << r.out << r.err;
        ASSERT_NE(r.outputFilePath, "") << r.out;
        EXPECT_EQ(r.outputFile, "Unable to open file " + inst_.Path() + "/flash.cfg!\n");
        EXPECT_TRUE(r.debugLogExists);
        for (const std::string& path : {r.outputFilePath, std::string("/var/log/zenbrix.log")}) {
            struct stat st {};
            ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_mode & 07777, mode) << path << " under umask 0" << std::oct << mask;
        }
    }
}

}  // namespace
