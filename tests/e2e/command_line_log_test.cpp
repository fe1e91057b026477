// The core log lines written while the command line is read obey "-debug" and
// "-trace" like every later core log line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/run_helpers.h"
#include "support/e2e_support.h"

namespace {

using zvtest::InstallDir;
using zvtest::RunOptions;
using zvtest::RunProgram;
using zvtest::RunResult;

class CommandLineLog : public zve2e::IsolatedTest {
protected:
    RunResult Run(std::vector<std::string> a) {
        RunOptions o;
        o.args = std::move(a);
        return RunProgram(inst_, o);
    }
    InstallDir inst_;
};

TEST_F(CommandLineLog, InvalidOptionsLineNeedsDebugOrTrace) {
    RunResult quiet = Run({"a", "b", "c", "d"});
    EXPECT_EQ(quiet.status, 8);
    EXPECT_EQ(quiet.out.find("Invalid command line options!"), std::string::npos);

    RunResult debug = Run({"-debug", "a", "b", "c", "d"});
    EXPECT_EQ(debug.status, 8);
    EXPECT_NE(debug.out.find("Invalid command line options!"), std::string::npos) << debug.out;

    RunResult trace = Run({"-trace", "a", "b", "c", "d"});
    EXPECT_EQ(trace.status, 8);
    EXPECT_NE(trace.out.find("Invalid command line options!"), std::string::npos) << trace.out;

    // A later "-s" silences the core log again.
    RunResult silent = Run({"-debug", "-s", "a", "b", "c", "d"});
    EXPECT_EQ(silent.status, 8);
    EXPECT_EQ(silent.out, "");
}

TEST_F(CommandLineLog, WwnParserSaysWhatIsWrong) {
    const std::string wwn = "21-00-00-24-ff-00-00-zz";
    RunResult debug = Run({"-debug", "-i", wwn});
    EXPECT_EQ(debug.status, 8);
    EXPECT_NE(debug.out.find(wwn + " is not in valid hex format."), std::string::npos) << debug.out;
    EXPECT_NE(debug.out.find("Invalid command line options!"), std::string::npos);

    RunResult quiet = Run({"-i", wwn});
    EXPECT_EQ(quiet.status, 8);
    EXPECT_EQ(quiet.out.find("not in valid hex format"), std::string::npos);
}

}  // namespace
