// The built program as a user's shell or desktop starts it: its command line,
// and the signals that ask it to stop, idle and while it opens a file.
#include "support/file_builders.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Ran {
    QProcess::ExitStatus exit;
    int status;
    QString out;
    QString err;
};

// Runs the program to its end with the given arguments, without a display.
Ran RunProgram(const QStringList &arguments)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PW_PROGRAM), arguments);
    EXPECT_TRUE(program.waitForFinished(20000)) << "still running: " << arguments.join(' ').toStdString();
    return {program.exitStatus(), program.exitCode(), QString::fromLocal8Bit(program.readAllStandardOutput()),
            QString::fromLocal8Bit(program.readAllStandardError())};
}

// The signals a process catches, from the kernel's view of it.
bool CatchesStopSignals(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:")) {
            const unsigned long long caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
            const auto bit = [](int signal) { return 1ULL << (signal - 1); };
            const unsigned long long wanted = bit(SIGTERM) | bit(SIGINT) | bit(SIGHUP);
            return (caught & wanted) == wanted;
        }
    return false;
}

// The program with its window, off screen, in a folder of its own.
class WindowedProgram {
public:
    explicit WindowedProgram(const QStringList &arguments, const QString &folder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), folder);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder);
        program_.setProcessEnvironment(environment);
        program_.setWorkingDirectory(folder);
        program_.start(QStringLiteral(PW_PROGRAM), arguments);
        started_ = program_.waitForStarted(10000);
    }
    ~WindowedProgram()
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(10000);
        }
    }

    // Up, with its message loop about to run.
    bool Up()
    {
        return started_ && QTest::qWaitFor([this] { return CatchesStopSignals(program_.processId()); }, 20000);
    }
    void Send(int signal) { ::kill(static_cast<pid_t>(program_.processId()), signal); }
    // Ended on its own, with status 0, within 10 s.
    bool EndedWell()
    {
        const bool ended = program_.waitForFinished(10000);
        const QString err = QString::fromLocal8Bit(program_.readAllStandardError());
        EXPECT_TRUE(ended && program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0)
            << "exit status " << program_.exitStatus() << ", code " << program_.exitCode() << "; printed: " << err.toStdString();
        return ended && program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0;
    }

private:
    QProcess program_;
    bool started_ = false;
};

// A named pipe that holds half a picture, kept open for writing as a program
// still writing it keeps it: whoever reads it waits for the rest.
class HalfAPictureInAPipe {
public:
    explicit HalfAPictureInAPipe(const QString &path)
    {
        const QByteArray name = QFile::encodeName(path);
        if (::mkfifo(name.constData(), 0600) != 0) return;
        writer_ = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        TBmpRecipe recipe;
        recipe.width = recipe.height = 200;
        recipe.pixels.assign(200 * 200, 1);
        const std::vector<std::uint8_t> file = BmpFile(recipe);
        const std::size_t half = file.size() / 2;
        written_ = writer_ >= 0 && ::write(writer_, file.data(), half) == static_cast<ssize_t>(half);
    }
    ~HalfAPictureInAPipe()
    {
        if (writer_ >= 0) ::close(writer_);
    }

    // Another process has read the half given: it waits for the rest.
    bool Read()
    {
        return written_ && QTest::qWaitFor([this] {
                   int waiting = -1;
                   return ::ioctl(writer_, FIONREAD, &waiting) == 0 && waiting == 0;
               }, 20000);
    }

private:
    int writer_ = -1;
    bool written_ = false;
};

} // namespace

TEST(Program, HelpAndVersionPrintToStandardOutputAndExitWithoutAWindow)
{
    const Ran help = RunProgram({"--help"});
    EXPECT_EQ(help.exit, QProcess::NormalExit);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: picture-workbench [FILE]\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--version")) << help.out.toStdString();
    EXPECT_EQ(help.err, "");

    const Ran version = RunProgram({"--version"});
    EXPECT_EQ(version.exit, QProcess::NormalExit);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "picture-workbench " PW_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST(Program, UsageThatCannotBeWrittenEndsWithStatusOne)
{
    if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    QProcess program;
    program.setStandardOutputFile(QStringLiteral("/dev/full"));
    program.start(QStringLiteral(PW_PROGRAM), {"--help"});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
}

TEST(Program, AMistakeGivesOneLineAndTheUsageOnStandardErrorAndStatusTwo)
{
    const Ran help = RunProgram({"--help"});
    for (const QStringList &arguments : {QStringList{"--bogus"}, QStringList{"-x", "a.png"}, QStringList{"a.png", "b.png"}}) {
        const Ran wrong = RunProgram(arguments);
        EXPECT_EQ(wrong.exit, QProcess::NormalExit);
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.out, "");
        const QString firstLine = wrong.err.section('\n', 0, 0);
        EXPECT_TRUE(firstLine.startsWith("picture-workbench: ")) << wrong.err.toStdString();
        EXPECT_EQ(wrong.err.section('\n', 1), help.out) << arguments.join(' ').toStdString();
    }
}

TEST(Program, EachStopSignalEndsTheIdleProgramAsClosingItsWindowDoes)
{
    QTemporaryDir folder;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        WindowedProgram program({}, folder.path());
        ASSERT_TRUE(program.Up());
        program.Send(signal);
        EXPECT_TRUE(program.EndedWell()) << "signal " << signal;
    }
}

// The file is a pipe, so that the program is still opening it when the
// signal comes; its name is an option's, reached as a path.
TEST(Program, AFileNamedLikeAnOptionOpensAndAStopSignalGivesUpTheOpening)
{
    QTemporaryDir folder;
    HalfAPictureInAPipe pipe(QDir(folder.path()).filePath("--help"));
    WindowedProgram program({"./--help"}, folder.path());
    ASSERT_TRUE(program.Up());
    ASSERT_TRUE(pipe.Read());
    program.Send(SIGTERM);
    EXPECT_TRUE(program.EndedWell());
}

TEST(Program, AFileUriOpensThePathItNames)
{
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath("a b%é#.bmp");
    HalfAPictureInAPipe pipe(path);
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    ASSERT_TRUE(uri.contains("%20")) << uri.toStdString();
    WindowedProgram program({uri}, folder.path());
    ASSERT_TRUE(program.Up());
    EXPECT_TRUE(pipe.Read()) << "the program never opened " << path.toStdString();
    program.Send(SIGTERM);
    EXPECT_TRUE(program.EndedWell());
}
