#include "QuillonVersion.h"
#include "cli/CCommandLine.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace quillon {
namespace {

class RecordingCommand : public CCommand {
public:
    explicit RecordingCommand(std::vector<std::string>* seen) : seen_(seen) {}
    std::string Name() const override { return "probe"; }
    std::string Summary() const override { return "records its arguments"; }
    std::string Usage() const override { return "Usage: probe-usage\n"; }
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream&) override {
        *seen_ = args;
        out << "ran\n";
        return 7;
    }

private:
    std::vector<std::string>* seen_;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};

class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest() : commandLine_("quillon-cli") {
        commandLine_.AddCommand(std::make_unique<RecordingCommand>(&seen_));
    }
    Result Run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = commandLine_.Run(args, out, err);
        return {status, out.str(), err.str()};
    }
    CCommandLine commandLine_;
    std::vector<std::string> seen_;
};

TEST_F(CommandLineTest, DispatchesToTheNamedCommandWithTheRest) {
    const Result r = Run({"probe", "--flag", "value"});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "ran\n");
    EXPECT_EQ(seen_, (std::vector<std::string>{"--flag", "value"}));
}

TEST_F(CommandLineTest, HelpListsTheCommands) {
    for (const char* option : {"--help", "-h", "help"}) {
        const Result r = Run({option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out.rfind("Usage: quillon-cli", 0), 0u) << option;
        EXPECT_NE(r.out.find("  probe  records its arguments\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    const Result command = Run({"help", "probe"});
    EXPECT_EQ(command.status, 0);
    EXPECT_EQ(command.out, "Usage: probe-usage\n");
    EXPECT_TRUE(seen_.empty()); // help does not run the command
}

TEST_F(CommandLineTest, VersionComesFromTheBuild) {
    const Result r = Run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("quillon-cli (Quillon) ") + kVersionString + "\n");
}

TEST_F(CommandLineTest, MistakesGetOneLineOnStandardError) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"frobnicate"}, "quillon-cli: unknown command 'frobnicate' (see quillon-cli --help)\n"},
        {{"--frobnicate"}, "quillon-cli: unknown option '--frobnicate' (see quillon-cli --help)\n"},
        {{"-x", "probe"}, "quillon-cli: unknown option '-x' (see quillon-cli --help)\n"},
        {{"help", "nothing"}, "quillon-cli: unknown command 'nothing' (see quillon-cli --help)\n"},
        {{"PROBE"}, "quillon-cli: unknown command 'PROBE' (see quillon-cli --help)\n"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(seen_.empty());
}

TEST_F(CommandLineTest, NoCommandShowsTheUsageAsAnError) {
    const Result r = Run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Usage: quillon-cli", 0), 0u);
}

} // namespace
} // namespace quillon
