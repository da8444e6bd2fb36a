// The external encoder's command line: splitting the template, putting the
// track's values in, and starting the program without a shell.

#include "output/ExternalEncoderRun.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {
namespace {

using Words = std::vector<std::string>;

const char* kFlacTemplate = "-f -o %OUT -T TITLE=%T -T ALBUM=%L -T ARTIST=%A -T GENRE=%G -T TRACKNUMBER=%N %IN";

Words Split(std::string_view text)
{
    std::string error = "stale";
    Words words = SplitCommandTemplate(text, &error);
    EXPECT_EQ(error, "") << text;
    return words;
}

TEST(SplitCommandTemplate, QuotesGroupAndNothingElseIsSpecial)
{
    EXPECT_EQ(Split(kFlacTemplate), (Words{"-f", "-o", "%OUT", "-T", "TITLE=%T", "-T", "ALBUM=%L", "-T", "ARTIST=%A",
                                           "-T", "GENRE=%G", "-T", "TRACKNUMBER=%N", "%IN"}));
    EXPECT_EQ(Split("  \t-a\n\r-b  "), (Words{"-a", "-b"}));
    EXPECT_EQ(Split(""), Words{});
    EXPECT_EQ(Split(" \t "), Words{});

    // Quotes group, may sit inside a word and are removed; an empty pair is
    // an empty argument of its own.
    EXPECT_EQ(Split("TITLE=\"%T\" 'a b'\"c d\"e \"\" ''"), (Words{"TITLE=%T", "a bc de", "", ""}));
    EXPECT_EQ(Split("\"it's\" 'say \"hi\"'"), (Words{"it's", "say \"hi\""}));

    // Inside double quotes only \" and \\ are escapes; single quotes and
    // unquoted text keep every backslash.
    EXPECT_EQ(Split(R"("a\"b\\c\d\$")"), (Words{R"(a"b\c\d\$)"}));
    EXPECT_EQ(Split(R"('a\' b\ c)"), (Words{R"(a\)", R"(b\)", "c"}));

    // No expansion or operators of any kind.
    EXPECT_EQ(Split("$HOME `id` $(id) a;b | * ~ > x &"),
              (Words{"$HOME", "`id`", "$(id)", "a;b", "|", "*", "~", ">", "x", "&"}));
}

TEST(SplitCommandTemplate, UnmatchedQuote_RefusedWithASentence)
{
    for (const char* text : {"-o \"%OUT", "it's", R"("a\")", "'a\"b", "ok \"\" \"", "a'"}) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_EQ(SplitCommandTemplate(text, &error), Words{});
        EXPECT_EQ(error, "The encoder's command line has an unmatched quote.");
        EXPECT_EQ(SplitCommandTemplate(text, nullptr), Words{});
    }
}

ExternalValues SampleValues()
{
    ExternalValues v;
    v.artist = "Miles";
    v.title = "So What";
    v.album = "Kind of Blue";
    v.genre = "Jazz";
    v.number = "1";
    v.in = "/tmp/out/So What.flac.wav";
    v.out = "/tmp/out/So What.flac";
    return v;
}

TEST(BuildEncoderArguments, FlacTemplate_CommentsGoBeforeTheFirstTagFlag)
{
    const Words comments{"DATE=\"1969\"", "COMMENT=\"a=b\"", "NOTE=\"say \"hi\"\"", "BARE=x", "HALF=\"x", "EMPTY=\"\"",
                         "ODD"};
    EXPECT_EQ(BuildEncoderArguments(Split(kFlacTemplate), comments, SampleValues()),
              (Words{"-f", "-o", "/tmp/out/So What.flac",
                     "-T", "DATE=1969", "-T", "COMMENT=a=b", "-T", "NOTE=say \"hi\"", "-T", "BARE=x",
                     "-T", "HALF=\"x", "-T", "EMPTY=", "-T", "ODD=",
                     "-T", "TITLE=So What", "-T", "ALBUM=Kind of Blue", "-T", "ARTIST=Miles", "-T", "GENRE=Jazz",
                     "-T", "TRACKNUMBER=1", "/tmp/out/So What.flac.wav"}));

    // Without a "-T" of its own the pairs lead; "-TITLE" or a title reading
    // "-T" is no insertion point.
    ExternalValues v = SampleValues();
    v.title = "-T";
    EXPECT_EQ(BuildEncoderArguments(Split("--tt %T -TITLE %IN %OUT"), {"DATE=\"1969\""}, v),
              (Words{"-T", "DATE=1969", "--tt", "-T", "-TITLE", "/tmp/out/So What.flac.wav", "/tmp/out/So What.flac"}));
    EXPECT_EQ(BuildEncoderArguments({}, {"DATE=\"1969\""}, v), (Words{"-T", "DATE=1969"}));
    EXPECT_EQ(BuildEncoderArguments(Split("%IN"), {}, v), (Words{"/tmp/out/So What.flac.wav"}));
}

TEST(BuildEncoderArguments, OnePassSubstitution_ValuesAreNeverSearchedAgain)
{
    ExternalValues v;
    v.artist = "%T";
    v.title = "%IN";
    v.album = "%%A";
    v.genre = "";
    v.number = "%N";
    v.in = "in";
    v.out = "out";
    EXPECT_EQ(BuildEncoderArguments(Split("%A %T %L %N %IN%OUT %INPUT %OUTx %T%A x=%G %G"), {}, v),
              (Words{"%T", "%IN", "%%A", "%N", "inout", "inPUT", "outx", "%IN%T", "x=", ""}));
    // A '%' not starting a placeholder stays, and the next '%' may start one.
    EXPECT_EQ(BuildEncoderArguments(Split("100% %x %% %%IN %a %I %OU"), {}, v),
              (Words{"100%", "%x", "%%", "%in", "%a", "%I", "%OU"}));
    // Comments are values too: their placeholders are left alone.
    EXPECT_EQ(BuildEncoderArguments(Split("-T X=%T"), {"COMMENT=\"%IN %T\""}, v),
              (Words{"-T", "COMMENT=%IN %T", "-T", "X=%IN"}));
}

// A shell script that records how it was called: each argument, starting
// with $0, NUL-terminated in "args"; what its standard input is; its ignored
// and blocked signals (read by the shell itself: a child process reading the
// shell's status may catch it blocking signals around its own fork); and
// whether descriptor 57 of ours reached it.
class EncoderRun : public ::testing::Test {
protected:
    test::TempDir temp{"kelvane-encoder"};
    std::filesystem::path dir = temp.file("enc dir");
    std::filesystem::path script = dir / "record args";

    void SetUp() override
    {
        std::filesystem::create_directory(dir);
        WriteScript(script, "printf '%s\\0' \"$0\" \"$@\" > \"$out/args\"\n"
                            "readlink /proc/$$/fd/0 > \"$out/stdin\"\n"
                            "while read -r k v; do case $k in SigBlk:|SigIgn:) echo \"$k $v\";; esac; done < /proc/$$/status > \"$out/signals\"\n"
                            "if [ -e /proc/$$/fd/57 ]; then echo leaked > \"$out/fd\"; fi\n");
    }

    void WriteScript(const std::filesystem::path& path, const std::string& body, bool shebang = true) const
    {
        std::ofstream(path) << (shebang ? "#!/bin/sh\n" : "") << "out='" << dir.string() << "'\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    std::string Read(const char* name) const
    {
        const std::vector<uint8_t> bytes = test::ReadFileBytes(dir / name);
        return std::string(bytes.begin(), bytes.end());
    }

    // The recorded arguments without $0.
    Words Recorded() const
    {
        Words words;
        std::string word;
        for (const char c : Read("args")) {
            if (c == '\0') {
                words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
        EXPECT_FALSE(words.empty());
        if (words.empty()) return words;
        EXPECT_EQ(words.front(), script.string());
        words.erase(words.begin());
        return words;
    }
};

TEST_F(EncoderRun, HostileTitles_ArriveWholeAndNothingIsRun)
{
    const std::string pwned = (dir / "pwned").string();
    const Words titles{
        "", "two  blanks", "say \"hi\"", "it's", "a; touch " + pwned, "$(touch " + pwned + ")",
        "`touch " + pwned + "`", "a | touch " + pwned, "a && touch " + pwned, "%IN", "$HOME", "*", "-T",
        "back\\slash\\", "tab\tand\nnewline", "\"", "'",
    };
    const Words words = Split("-o \"%OUT\" -T TITLE=\"%T\" %T %IN");
    for (const std::string& title : titles) {
        SCOPED_TRACE(title);
        ExternalValues v;
        v.title = title;
        v.in = (dir / "in put.wav").string();
        v.out = (dir / "out; put.flac").string();
        const Words arguments = BuildEncoderArguments(words, {}, v);
        ASSERT_EQ(arguments, (Words{"-o", v.out, "-T", "TITLE=" + title, title, v.in}));

        const ProgramRun run = RunProgram(script.string(), arguments);
        EXPECT_TRUE(run.started);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.error, "");
        EXPECT_EQ(Recorded(), arguments);
        EXPECT_FALSE(std::filesystem::exists(pwned));
    }
}

TEST_F(EncoderRun, ChildGetsNullInputDefaultSignalsAndNoneOfOurFiles)
{
    // What a GUI process typically has set up, none of which may leak.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, 57), 57);
    ::close(fd);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    sigset_t usr1, old;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &usr1, &old), 0);

    const ProgramRun run = RunProgram(script.string(), {});

    sigprocmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGPIPE, oldPipe);
    ::close(57);

    ASSERT_TRUE(run.started) << run.error;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Recorded(), Words{});
    EXPECT_EQ(Read("stdin"), "/dev/null\n");
    // Only signals 1 to 31 count: the C library's spawn leaves its own two
    // internal ones (32 and 33) ignored, and the encoder's C library takes
    // them over again when it starts.
    const std::string signals = Read("signals");
    unsigned long long blocked = ~0ull, ignored = ~0ull;
    ASSERT_EQ(std::sscanf(signals.c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored), 2) << signals;
    EXPECT_EQ(blocked & 0x7fffffffull, 0u) << signals;
    EXPECT_EQ(ignored & 0x7fffffffull, 0u) << signals;
    EXPECT_EQ(Read("fd"), "");
}

TEST_F(EncoderRun, ExitStatusAndSignal_Reported)
{
    const ProgramRun ok = RunProgram(script.string(), {"x"});
    EXPECT_EQ(DescribeFailure(ok, script.string()), "");

    const std::filesystem::path failing = dir / "fails";
    WriteScript(failing, "exit 3\n");
    const ProgramRun three = RunProgram(failing.string(), {});
    EXPECT_TRUE(three.started);
    EXPECT_EQ(three.exitStatus, 3);
    EXPECT_EQ(three.error, "");
    EXPECT_EQ(DescribeFailure(three, failing.string()),
              "The encoder " + failing.string() + " ended with exit status 3.");

    const std::filesystem::path killed = dir / "killed";
    WriteScript(killed, "kill -9 $$\n");
    const ProgramRun nine = RunProgram(killed.string(), {});
    EXPECT_TRUE(nine.started);
    EXPECT_EQ(nine.exitStatus, -1);
    EXPECT_EQ(nine.error, "The encoder " + killed.string() + " was stopped by signal 9.");
    EXPECT_EQ(DescribeFailure(nine, killed.string()), nine.error);
}

// True while process pid exists and has not ended (a zombie has ended).
bool Running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST_F(EncoderRun, Stop_InterruptsFirstThenEndsTheProgramAndItsHelpers)
{
    // One that leaves when interrupted: the interrupt is all it gets.
    const std::filesystem::path polite = dir / "polite";
    WriteScript(polite, "trap 'echo int > \"$out/got\"; exit 5' INT\nwhile :; do sleep 0.05; done\n");
    int asked = 0;
    ProgramRun run = RunProgram(polite.string(), {}, [&] { return ++asked >= 5; });
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(Read("got"), "int\n");

    // One deaf to the interrupt and to SIGTERM, waiting for a helper of its
    // own: both end, and soon.
    const std::filesystem::path deaf = dir / "deaf";
    WriteScript(deaf, "trap '' INT TERM\nsleep 120 &\necho $! > \"$out/helper.part\"\n"
                      "mv \"$out/helper.part\" \"$out/helper\"\nwait\n");
    const auto start = std::chrono::steady_clock::now();
    run = RunProgram(deaf.string(), {}, [&] { return std::filesystem::exists(dir / "helper"); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(run.exitStatus, -1);
    const pid_t helper = static_cast<pid_t>(std::atol(Read("helper").c_str()));
    ASSERT_GT(helper, 0);
    for (int i = 0; i < 100 && Running(helper); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(Running(helper));

    // Never asked to stop, a program runs to its end.
    run = RunProgram(script.string(), {}, [] { return false; });
    EXPECT_FALSE(run.stopped);
    EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(EncoderRun, UnstartablePrograms_ReportedWithTheReason)
{
    const std::string missing = (dir / "no such encoder").string();
    const ProgramRun gone = RunProgram(missing, {});
    EXPECT_FALSE(gone.started);
    EXPECT_EQ(gone.exitStatus, -1);
    EXPECT_EQ(gone.error, "The encoder " + missing + " could not be started: No such file or directory.");
    EXPECT_EQ(DescribeFailure(gone, missing), gone.error);

    const std::filesystem::path plain = dir / "not executable";
    WriteScript(plain, "touch \"$out/ran\"\n");
    std::filesystem::permissions(plain, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(RunProgram(plain.string(), {}).error,
              "The encoder " + plain.string() + " could not be started: Permission denied.");

    // Without "#!" we choose no interpreter for it.
    const std::filesystem::path bare = dir / "no shebang";
    WriteScript(bare, "touch \"$out/ran\"\n", false);
    const ProgramRun noShebang = RunProgram(bare.string(), {});
    EXPECT_FALSE(noShebang.started);
    EXPECT_EQ(noShebang.error, "The encoder " + bare.string() + " could not be started: Exec format error.");

    EXPECT_FALSE(RunProgram("kelvane-no-such-encoder-here", {}).started);
    EXPECT_EQ(RunProgram("", {}).error, "No encoder program is set.");

    // A zero byte would silently cut the argument short.
    const ProgramRun zero = RunProgram(script.string(), {std::string("a\0b", 3)});
    EXPECT_FALSE(zero.started);
    EXPECT_NE(zero.error, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "args"));
    EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
}

TEST(RunProgram, BareNameIsLookedUpInPath)
{
    const ProgramRun run = RunProgram("sh", {"-c", "exit 4"});
    EXPECT_TRUE(run.started) << run.error;
    EXPECT_EQ(run.exitStatus, 4);
}

}  // namespace
}  // namespace kelvane
