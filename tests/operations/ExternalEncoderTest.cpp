// Choosing the external encoder of a save: the program, its command line and
// its extension from what the user named and what the settings remember,
// and a refusal the user is shown for each thing that is missing.

#include "document/CQuillon3Doc.h"
#include "operations/ExternalEncoder.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct EncoderFixture : ::testing::Test {
    test::TempDir dir{"kelvane-encoder"};
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    fs::path bin;

    void SetUp() override
    {
        bin = dir.path() / "bin";
        fs::create_directories(bin);
        // The search folder of the stored list: empty, away from the home folder.
        fs::create_directories(dir.path() / "encoders");
        settings.Set(settings::EncoderPath, (dir.path() / "encoders").string());
        ui.AllowOkBoxes(true);
    }
    fs::path Program(const std::string& name, bool executable = true)
    {
        const fs::path p = bin / name;
        EXPECT_TRUE(test::WriteFileBytes(p, {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}));
        fs::permissions(p, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
        return p;
    }
    EncoderRequest Request(const std::string& program) const
    {
        EncoderRequest r;
        r.program = program;
        r.pathVariable = bin.c_str();
        return r;
    }
};

TEST_F(EncoderFixture, AKnownEncoderInPathTakesTheCommandLineLastChosenForIt)
{
    const fs::path lame = Program("lame");
    ResolvedEncoder chosen = ResolveEncoder(doc, Request("lame"));
    ASSERT_TRUE(chosen.result.Ok()) << chosen.result.message;
    EXPECT_EQ(chosen.entry.path, lame.string());
    EXPECT_EQ(chosen.entry.ext, "mp3");
    const std::string known = chosen.entry.command;
    EXPECT_NE(known.find("%IN"), std::string::npos);

    settings.Set(settings::Encoder, lame.string());
    settings.Set(settings::Parameters, "-V0 %IN %OUT");
    EXPECT_EQ(ResolveEncoder(doc, Request("lame")).entry.command, "-V0 %IN %OUT");
    EncoderRequest untouched = Request("lame");
    untouched.useStored = false;
    EXPECT_EQ(ResolveEncoder(doc, untouched).entry.command, known);
    EncoderRequest given = Request(lame.string());
    given.command = "-b 320 %IN %OUT";
    given.extension = "mpeg";
    chosen = ResolveEncoder(doc, given);
    EXPECT_EQ(chosen.entry.command, "-b 320 %IN %OUT");
    EXPECT_EQ(chosen.entry.ext, "mpeg");
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(EncoderFixture, WhatIsMissingIsRefusedAndShown)
{
    const fs::path tool = Program("tool");
    struct Case {
        EncoderRequest request;
        EncoderProblem problem;
    };
    EncoderRequest noCommand = Request(tool.string());
    EncoderRequest badCommand = noCommand;
    badCommand.command = "-o %OUT";
    EncoderRequest noExtension = noCommand;
    noExtension.command = "%IN %OUT";
    const Case cases[] = {
        {Request("kelvane-no-such-encoder"), EncoderProblem::NotFound},
        {Request(Program("plain", false).string()), EncoderProblem::NotAProgram},
        {noCommand, EncoderProblem::NoCommandLine},
        {badCommand, EncoderProblem::BadCommandLine},
        {noExtension, EncoderProblem::NoExtension},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.program + " " + c.request.command.value_or(""));
        const ResolvedEncoder chosen = ResolveEncoder(doc, c.request);
        EXPECT_EQ(chosen.problem, c.problem);
        EXPECT_EQ(chosen.result.kind, FailKind::BadInput);
        ASSERT_FALSE(ui.Messages().empty());
        EXPECT_EQ(ui.Messages().back().text, chosen.result.message);
        EXPECT_EQ(ui.Messages().back().icon, MbIcon::Error);
    }
}

}  // namespace
}  // namespace kelvane
