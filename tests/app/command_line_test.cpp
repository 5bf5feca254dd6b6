// What the command line asks for, argument by argument.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

using TAction = TCommandLine::TAction;

struct Case {
    QStringList arguments;
    TAction action;
    QString fileNameOrMistake;
};

void PrintTo(const Case &c, std::ostream *out) { *out << c.arguments.join(' ').toStdString(); }

class CommandLineTest : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(CommandLineTest, Reads)
{
    const Case &c = GetParam();
    const TCommandLine read = ReadCommandLine(c.arguments);
    EXPECT_EQ(read.action, c.action);
    EXPECT_EQ(c.action == TAction::Refuse ? read.mistake : read.fileName, c.fileNameOrMistake);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    testing::Values(
        Case{{}, TAction::Run, ""}, Case{{"a.png"}, TAction::Run, "a.png"}, Case{{"/x/a b.png"}, TAction::Run, "/x/a b.png"},
        Case{{"--help"}, TAction::PrintUsage, ""}, Case{{"--version"}, TAction::PrintVersion, ""},
        Case{{"a.png", "--help"}, TAction::PrintUsage, ""},
        // A file named like an option, reached as such files are.
        Case{{"./--help"}, TAction::Run, "./--help"}, Case{{"--", "--help"}, TAction::Run, "--help"},
        Case{{"-"}, TAction::Run, "-"},
        Case{{"--bogus"}, TAction::Refuse, "unknown option --bogus"}, Case{{"-h"}, TAction::Refuse, "unknown option -h"},
        Case{{"--help=x"}, TAction::Refuse, "unknown option --help=x"},
        Case{{"a.png", "b.png"}, TAction::Refuse, "one file at most, not 2"},
        // File URIs, as a desktop may pass them, decoded.
        Case{{"file:///tmp/a%20b%25%C3%A9.png"}, TAction::Run, "/tmp/a b%é.png"},
        Case{{"file://localhost/tmp/a.png"}, TAction::Run, "/tmp/a.png"},
        Case{{"FILE:/tmp/a.png"}, TAction::Run, "/tmp/a.png"},
        Case{{"file:///tmp/%3F%23.png"}, TAction::Run, "/tmp/?#.png"},
        Case{{"file://server/share/a.png"}, TAction::Refuse, "file://server/share/a.png names a file on another computer (server)"},
        Case{{"file:///tmp/a.png#part"}, TAction::Refuse, "file:///tmp/a.png#part is not a file URI of a whole path"},
        Case{{"file:a.png"}, TAction::Refuse, "file:a.png is not a file URI of a whole path"},
        Case{{"file:///tmp/%zz.png"}, TAction::Refuse, "file:///tmp/%zz.png is not a valid file URI"},
        // After "--", a name that looks like a URI is still one.
        Case{{"--", "file:///tmp/a.png"}, TAction::Run, "/tmp/a.png"}));
