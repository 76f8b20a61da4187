// SPDX-License-Identifier: MIT
// Our analyser's settings between runs: all of them come back, a file that makes no sense gives
// the defaults and is kept aside, and a run killed while saving leaves the old file whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "instrument/saved_state.h"
#include "row_name.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::read;
using test::write;
using ::testing::HasSubstr;
using testing_support::PrintTo;

struct Session {
    std::vector<std::string> warnings;
    std::optional<Analyser> analyser;
    ObjectRef app;

    // An analyser keeping its settings in `file`; `input` unless the settings name a source.
    Session(const QString& file, std::string input = "sim", bool input_from_settings = true) {
        AnalyserOptions options;
        options.input = std::move(input);
        options.input_from_settings = input_from_settings;
        options.settings_file = file.toStdString();
        options.warn = [this](const std::string& line) { warnings.push_back(line); };
        analyser.emplace(options);
        app = analyser->application();
    }
    void set(const char* path, Value v) { write(*app, path, v); }
};

// Every setting the analyser keeps, read through its members, each function's own included;
// the function in use is chosen again at the end.
std::vector<std::string> everything(AutomationObject& app) {
    std::vector<std::string> seen;
    auto note = [&](const char* path) {
        seen.push_back(path + (" " + read(app, path).describe()));
    };
    const Value in_use = read(app, "CTDetector.CTD_Function");
    for (const char* path :
         {"SignalAnalyzer.SA_Source", "SignalAnalyzer.SA_SourceName", "AnalogueInputs.AI_Source",
          "AnalogueInputs.AI_FullScaleA", "AnalogueInputs.AI_FullScaleB", "DigitalInputs.DI_Source",
          "Generator.GEN_Frequency", "Generator.GEN_Level", "Generator.GEN_On",
          "CTDetector.CTD_Function"})
        note(path);
    for (const char* function : {"Amplitude", "Noise (A-weighted)", "Noise (RMS)",
                                 "THD+N - relative", "Balance", "Cross-talk", "Frequency"}) {
        write(app, "CTDetector.CTD_Function", Value(function));
        for (const char* path :
             {"CTDetector.CTD_Function", "CTDetector.CTD_Unit", "CTDetector.CTD_WeightingFilter",
              "CTDetector.CTD_Response", "CTDetector.CTD_Relativity"})
            note(path);
    }
    write(app, "CTDetector.CTD_Function", in_use);
    return seen;
}

TEST(SavedSettings, ARestartBringsEverySettingAndTheSourceBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("vantel-dmm/analyser.conf"));
    std::vector<std::string> before;
    {
        Session first(file, "loopback", false);
        first.set("CTDetector.CTD_Function", Value("Noise (RMS)"));
        first.set("CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_GEN")));
        first.set("CTDetector.CTD_Unit", Value(code("UNIT_RELATIVE_PERCENT")));
        first.set("CTDetector.CTD_Function", Value("Amplitude"));
        first.set("CTDetector.CTD_Unit", Value(code("UNIT_DBU")));
        first.set("CTDetector.CTD_WeightingFilter", Value(code("CTD_WEIGHTING_CCIR468_2K")));
        first.set("CTDetector.CTD_Response", Value(code("CTD_RESPONSE_QPEAK")));
        first.set("CTDetector.CTD_Function", Value("THD+N - relative"));
        first.set("CTDetector.CTD_Unit", Value(code("UNIT_RELATIVE_DB")));
        first.set("SignalAnalyzer.SA_Source", Value(1));
        first.set("AnalogueInputs.AI_Source", Value(code("AI_SOURCE_GENOUTPUT")));
        first.set("DigitalInputs.DI_Source", Value(code("DI_SOURCE_TOSLINK")));
        first.set("AnalogueInputs.AI_FullScaleB", Value(2.5));
        first.set("Generator.GEN_Frequency", Value(997.0));
        first.set("Generator.GEN_Level", Value(0.25));
        first.set("Generator.GEN_On", Value(AutoBool::False));
        before = everything(*first.app);
        EXPECT_TRUE(first.warnings.empty());
    }
    Session second(file);  // "sim" unless the settings say otherwise: they do
    EXPECT_EQ(everything(*second.app), before);
    EXPECT_THAT(before, testing::Contains("SignalAnalyzer.SA_SourceName \"simulated loopback\""));
    EXPECT_THAT(before, testing::Contains("AnalogueInputs.AI_FullScaleB 2.5"));
    EXPECT_TRUE(second.warnings.empty());
    // A source named on the command line stands, and is the one kept from then on.
    {
        Session named(file, "sim", false);
        EXPECT_EQ(read(*named.app, "SignalAnalyzer.SA_SourceName"), Value("simulated"));
    }
    EXPECT_EQ(read(*Session(file).app, "SignalAnalyzer.SA_SourceName"), Value("simulated"));
}

// A calibration given for one run stands over the saved one and is not kept; a file's settings
// start digital and in dBFS, apart from the simulation's.
TEST(SavedSettings, ACalibrationForOneRunIsNotKeptAndEachKindOfSourceHasItsOwn) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("analyser.conf"));
    Session(file).set("AnalogueInputs.AI_FullScaleA", Value(4.0));
    {
        AnalyserOptions options;
        options.settings_file = file.toStdString();
        options.analogue_full_scale_v = 7.0;
        Analyser once(options);
        ObjectRef app = once.application();
        EXPECT_EQ(read(*app, "AnalogueInputs.AI_FullScaleA"), Value(7.0));
        write(*app, "CTDetector.CTD_Function", Value("Balance"));
    }
    Session sim(file);
    EXPECT_EQ(read(*sim.app, "AnalogueInputs.AI_FullScaleA"), Value(4.0));
    EXPECT_EQ(read(*sim.app, "CTDetector.CTD_Function"), Value("Balance"));
    EXPECT_EQ(read(*sim.app, "SignalAnalyzer.SA_Source"), Value(std::int64_t{0}));
}

// A saved source that is no longer there is said and passed over, and stays saved.
TEST(SavedSettings, ASavedSourceThatCannotBeOpenedIsPassedOverAndKept) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("analyser.conf"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[analyser]\nsource=/nowhere/gone.wav\n");
    }
    Session run(file, "sim");
    EXPECT_EQ(read(*run.app, "SignalAnalyzer.SA_SourceName"), Value("simulated"));
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_THAT(run.warnings[0], HasSubstr("gone.wav"));
    run.set("CTDetector.CTD_Function", Value("Balance"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_THAT(f.readAll().toStdString(), HasSubstr("source=/nowhere/gone.wav"));
}

struct CorruptRow {
    const char* name;
    const char* text;
};

class CorruptFile : public testing::TestWithParam<CorruptRow> {};

// One warning, the defaults, and the file kept as ".bad" for whoever wants to see it.
TEST_P(CorruptFile, GivesTheDefaultsAndIsKeptAside) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("analyser.conf"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(GetParam().text);
    }
    Session run(file);
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_THAT(run.warnings[0], HasSubstr(".bad"));
    EXPECT_EQ(read(*run.app, "CTDetector.CTD_Function"), Value("Amplitude"));
    EXPECT_EQ(read(*run.app, "CTDetector.CTD_Unit"), Value(std::int64_t{20}));
    EXPECT_EQ(read(*run.app, "AnalogueInputs.AI_FullScaleA"), Value(10.0));
    QFile bad(file + QStringLiteral(".bad"));
    ASSERT_TRUE(bad.open(QIODevice::ReadOnly));
    EXPECT_EQ(bad.readAll().toStdString(), GetParam().text);
    Session again(file);
    EXPECT_TRUE(again.warnings.empty()) << "the defaults were written in its place";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Analyser, CorruptFile, testing::ValuesIn(std::vector<CorruptRow>{
    {"NotText", "\x7f" "ELF\x02\x01\x01\x00\x00\x00"},
    {"ValueBeforeAnySection", "source=sim\n"},
    {"SectionNotClosed", "[analyser\nsource=sim\n"},
    {"NeitherSectionNorValue", "[analyser]\nsource\n"},
    {"BadEscape", "[analyser]\nsource=sim%4\n"},
    {"CodeNotANumber", "[simulated/Amplitude]\nunit=volts\nweighting=0\nresponse=0\nrelativity=0\n"},
    {"CodeBeyond16Bits", "[simulated/Amplitude]\nunit=70000\nweighting=0\nresponse=0\nrelativity=0\n"},
    {"FunctionHalfSaved", "[simulated/Amplitude]\nunit=20\n"},
    {"UnitNoneHas", "[simulated/Amplitude]\nunit=99\nweighting=0\nresponse=0\nrelativity=0\n"},
    {"RelativeUnitForAbsoluteAmplitude",
     "[simulated/Amplitude]\nunit=37\nweighting=0\nresponse=0\nrelativity=0\n"},
    {"WeightingAgainstTheFunctionsName",
     "[simulated/Noise (A-weighted)]\nunit=20\nweighting=3\nresponse=0\nrelativity=0\n"},
    {"FunctionNoneHas", "[simulated]\nfunction=Loudness\n"},
    {"DomainTwo", "[simulated]\ninput_domain=2\n"},
    {"GeneratorLevelInfinite", "[simulated]\ngenerator_level_v=inf\n"},
    {"GeneratorLevelBeyondItsRange", "[simulated]\ngenerator_level_v=1000\n"},
    {"GeneratorOnNeitherZeroNorOne", "[simulated]\ngenerator_on=yes\n"},
    {"CalibrationNegative", "[calibration/sim]\nfull_scale_a_v=-1\n"},
}), testing_support::RowName());
// clang-format on

// What a later version may add is passed over; names and values keep any character.
TEST(SavedState, UnknownSectionsAndKeysArePassedOverAndAnyNameSurvives) {
    std::string error;
    const auto state = instrument::parse_saved_state(
        "# a comment\n[analyser]\nsource=jack\ncolour=blue\n[telescope]\nfocus=3\n"
        "[simulated/Loudness]\nunit=1\nweighting=0\nresponse=0\nrelativity=0\n",
        error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->source, "jack");
    instrument::SavedState odd;
    odd.source = "/music/a=b [live]%20\n/x.wav";
    odd.calibrations[*odd.source][1] = 0.125;
    const auto back = instrument::parse_saved_state(instrument::saved_state_text(odd), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, odd);
}

// A run killed at any moment while it writes its settings leaves a whole file: the old one or
// the new one, never a part.
TEST(SavedSettings, ARunKilledWhileSavingLeavesAWholeFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("analyser.conf"));
    Session(file).set("CTDetector.CTD_Function", Value("Balance"));
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves as fast as it can until it is killed.
            Session busy(file);
            for (int i = 0;; ++i)
                busy.set("CTDetector.CTD_Function", Value(i % 2 ? "Balance" : "Cross-talk"));
        }
        ::usleep(static_cast<useconds_t>(20000 + 7000 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        Session after(file);
        EXPECT_TRUE(after.warnings.empty()) << after.warnings.front();
        EXPECT_THAT(to_text(read(*after.app, "CTDetector.CTD_Function")),
                    testing::AnyOf("Balance", "Cross-talk"));
    }
}

}  // namespace
}  // namespace vantel
