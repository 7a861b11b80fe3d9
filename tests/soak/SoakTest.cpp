// Seeded random runs through the whole program: the steps drawn from a seed, their text
// form, and the step lists of the faults they found, replayed as they were shrunk.
//
// Environment, for replaying and for the long run in bench/soak.sh:
//   ORVANE_SOAK_SEED=N ORVANE_SOAK_STEPS=M   the seeded test runs M steps of seed N
//   ORVANE_SOAK_REPLAY='open:mp4, play, ...' it runs exactly these steps
//   ORVANE_SOAK_SHRINK=1                     a failing run is cut down to a shorter list
//                                            that fails the same way, which is printed
//   ORVANE_SOAK_VERBOSE=1                    each step is printed as it is done
//   ORVANE_SOAK_STATES=1                     the distinct states reached are listed
//   ORVANE_SOAK_PRINT=1                      the seed's steps are printed, not run
//   ORVANE_SOAK_STRICT=1                     no allowance for the known faults
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "SoakRig.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using Kind = SoakAction::Kind;
using Names = std::vector<std::string>;

// A parameter's values by their texts, the first standing for `lo`; none for no parameter.
struct Param {
    Names names;
    int lo = 0;

    int Draw(std::mt19937_64& rng) const {
        return names.empty() ? 0 : lo + static_cast<int>(rng() % names.size());
    }
    std::string Text(int value) const { return names.at(static_cast<size_t>(value - lo)); }
    bool Parse(const std::string& text, int* value) const {
        const auto found = std::find(names.begin(), names.end(), text);
        *value = lo + static_cast<int>(found - names.begin());
        return found != names.end();
    }
};

// The numbers from lo to hi.
Param Range(int lo, int hi) {
    Param numbers{{}, lo};
    for (int n = lo; n <= hi; ++n) {
        numbers.names.push_back(std::to_string(n));
    }
    return numbers;
}

struct KindInfo {
    Kind kind;
    const char* name;
    int weight;  // how often it is drawn, out of the sum of all weights
    bool hastyOk;
    Param a;
    Param b;  // left out of the text where its value's name is empty
};

const Names kFiles = {"mpg",    "mp4",     "mkv",       "wav",     "mp3",    "long",  "noaudio",
                      "doomed", "corrupt", "truncated", "missing", "cancel", "tracks"};
const Names kNudges = {"start-back", "start-forward", "end-back", "end-forward", "[", "]"};

const std::vector<KindInfo> kKinds = {
    {Kind::Open, "open", 12, true, {kFiles}, {}},
    {Kind::Drop, "drop", 2, true, {kFiles}, {}},
    {Kind::Delete, "delete", 1, false, {}, {}},
    {Kind::Play, "play", 8, true, {}, {}},
    {Kind::Pause, "pause", 4, true, {}, {}},
    {Kind::Stop, "stop", 4, true, {}, {}},
    {Kind::Drag, "drag", 5, true, Range(0, 600), Range(0, 1200)},
    {Kind::Groove, "groove", 3, true, Range(0, 600), {}},
    {Kind::StartTime, "start", 6, true, {}, {}},
    {Kind::EndTime, "end", 6, true, {}, {}},
    {Kind::Output, "output", 3, false, {{"out", "spaced", "precious", "nofolder", "default"}}, {}},
    {Kind::Browse, "browse", 2, false, {{"cancel", "browsed", "spaced"}}, {}},
    {Kind::Convert, "convert", 12, true, {{"no", "yes"}}, {{"", "close", "fullscreen", "wait"}}},
    {Kind::Wait, "wait", 8, false, Range(50, 1500), {}},
    {Kind::ClosePreview, "close-preview", 2, true, {}, {}},
    {Kind::Menu, "menu", 5, true, {{"fullscreen", "normal", "play", "pause", "stop", "close"}}, {}},
    {Kind::Escape, "esc", 2, true, {}, {}},
    {Kind::ClickPreview, "click-preview", 2, false, {}, {}},
    {Kind::EnterInOutput, "enter-output", 1, false, {}, {}},
    {Kind::Help, "help", 1, false, {{"browser", "nobrowser"}}, {}},
    {Kind::Homepage, "homepage", 1, false, {}, {}},
    {Kind::About, "about", 1, false, {{"button", "menu"}}, {}},
    {Kind::Quit, "quit", 2, false, {{"esc", "close", "enter"}}, {}},
    {Kind::More, "more", 3, true, {}, {}},
    {Kind::TypeMark, "type", 5, false, {{"start", "end"}}, Range(0, 9000)},
    {Kind::JunkMark, "junk", 1, false, {{"start", "end"}}, {}},
    {Kind::Nudge, "nudge", 6, false, {kNudges}, {}},
    {Kind::MarkKey, "key", 3, false, {{"i", "o"}}, {}},
    {Kind::Audition, "audition", 6, false, {{"selection", "loop", "start", "end"}}, {}},
    {Kind::Track, "track", 2, false, Range(0, 1), {}},
    {Kind::Format, "format", 2, false, {{"auto", "16", "24", "32", "float"}}, {}},
    {Kind::Box, "box", 2, false, {{"exact", "modern"}}, {}},
};

const KindInfo& Info(Kind kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(), [kind](auto& i) { return i.kind == kind; });
}

// A run of `count` steps drawn from the seed: the same seed gives the same steps.
SoakActions GenerateSoakActions(uint64_t seed, int count) {
    // The engine is fixed and every draw is a plain modulo, so a seed means the same steps
    // wherever it runs.
    std::mt19937_64 rng(seed);
    int total = 0;
    for (const KindInfo& info : kKinds) {
        total += info.weight;
    }
    SoakActions actions;
    int sinceHasty = 10;
    for (int i = 0; i < count; ++i) {
        int pick = static_cast<int>(rng() % static_cast<uint64_t>(total));
        auto chosen = kKinds.begin();
        for (; pick >= chosen->weight; ++chosen) {
            pick -= chosen->weight;
        }
        SoakAction action{chosen->kind, chosen->a.Draw(rng), chosen->b.Draw(rng)};
        // Nine settled steps between two hasty ones; a deletion waits for the open before it,
        // which it would otherwise race.
        action.hasty = chosen->hastyOk && rng() % 100 < 15 && sinceHasty >= 9;
        sinceHasty = action.hasty ? 0 : sinceHasty + 1;
        if (action.kind == Kind::Delete && !actions.empty()) {
            actions.back().hasty = false;
        }
        actions.push_back(action);
    }
    return actions;
}

// "a, b, c" and back; false when a step does not parse.
std::string SoakActionsText(const SoakActions& actions) {
    std::string text;
    for (const SoakAction& action : actions) {
        text += (text.empty() ? "" : ", ") + action.Text();
    }
    return text;
}

bool ParseSoakActions(const std::string& text, SoakActions* actions) {
    actions->clear();
    std::istringstream in(text);
    // Steps are separated by commas; no step's text holds a space.
    for (std::string item; std::getline(in >> std::ws, item, ',');) {
        item.erase(item.find_last_not_of(" \n\t") + 1);
        SoakAction& parsed = actions->emplace_back();
        parsed.hasty = !item.empty() && item.back() == '!';
        std::vector<std::string> parts;
        std::istringstream step(item.substr(0, item.size() - (parsed.hasty ? 1 : 0)));
        for (std::string part; std::getline(step, part, ':');) {
            parts.push_back(part);
        }
        const auto info = std::find_if(kKinds.begin(), kKinds.end(), [&](const KindInfo& k) {
            return !parts.empty() && parts[0] == k.name;
        });
        if (info == kKinds.end()) {
            return false;
        }
        parsed.kind = info->kind;
        // Every part must read as its parameter, and the step must print as the text given.
        if ((parts.size() > 1 && !info->a.Parse(parts[1], &parsed.a)) ||
            (parts.size() > 2 && !info->b.Parse(parts[2], &parsed.b)) || parsed.Text() != item) {
            return false;
        }
    }
    return true;
}

// CI's runs: three seeds of 75 steps, each a test of its own so that they share the cores;
// each WAV is also written by orvane-extract, which keeps the steps fewer than they were.
constexpr uint64_t kSeeds[] = {20261208, 7, 4242};
constexpr int kSteps = 75;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Cuts chunks out of a failing list, halving their size, for as long as the rest still
// fails the same way (with the same first words).
SoakActions Shrink(SoakActions actions, const std::string& failure) {
    for (size_t chunk = actions.size() / 2; chunk >= 1; chunk /= 2) {
        for (size_t at = 0; at + chunk <= actions.size();) {
            SoakActions shorter = actions;
            shorter.erase(shorter.begin() + static_cast<long>(at),
                          shorter.begin() + static_cast<long>(at + chunk));
            const SoakRig::Result r = SoakRig().Run(shorter, "shrinking");
            if (r.failure.empty() || r.failure.substr(0, 24) != failure.substr(0, 24)) {
                at += chunk;
                continue;
            }
            shorter.resize(std::min<size_t>(shorter.size(), r.failedAt + 1));
            actions = shorter;
            std::printf("[ soak ] shrunk to %zu steps\n", actions.size());
        }
    }
    return actions;
}

// Growth of heap in use between steps 1,000 and 2,000 that would be a leak: a lost MP2
// decoder context every few steps grows it by more.
constexpr long kHeapGrowthKib = 1024;

// Without the command the WAVs cannot be compared: the runs say so rather than pass.
class WithCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(SoakCommandPath())) {
            GTEST_SKIP() << SoakCommandPath() << " is missing: the WAVs cannot be compared";
        }
    }
};
using SoakRegression = WithCommand;

// The faults the soak found, each with the shortest step list that showed it.
const std::pair<const char*, const char*> kRegressions[] = {
    {"the preview closed while the replace question was up: the job took the media path "
     "after the answer, and converted nothing",
     "open:mp4, output:precious, convert:yes:close"},
    {"a stop or a seek ended the preview's loop, but the Loop button stayed down",
     "open:mp4, more, audition:loop, stop"},
    {"a seek within a second of opening did nothing: the preview's duration was still 0 "
     "until its first poll",
     "open:mpg, drag:600:0, end"},
    {"the slider, disabled under the user's button as the preview closed, never got the "
     "release and stayed held: it ignored every later report",
     "open:mpg, close-preview!, drag:32:20"},
    {"the clip played to its end while the thumb was held; the model took the seek that "
     "followed for one of a running clip (a fault of the soak's model, not the program)",
     "open:wav, play, wait:1500, wait:1500, wait:900, drag:576:1200, start"},
    {"after hasty steps the model took the place of the last report, from before a seek, "
     "for where the clip would play from (a fault of the soak's model)",
     "open:mp3, drag:193:717!, drag:545:82, play, wait:1500, wait:1000"},
    {"Loop, once let go, went on repeating the selection: libmpv's loop points stayed set",
     "open:wav, more, type:start:1000, type:end:2000, audition:loop, wait:1500, audition:loop, "
     "wait:1500"},
    {"a clip held close to its end and then played never ended: libmpv paused it there "
     "without telling that the end was reached",
     "open:tracks, drag:586:710, convert:yes, play, wait:1253"},
};
class SoakRun : public WithCommand, public ::testing::WithParamInterface<uint64_t> {};

}  // namespace

std::string SoakAction::Text() const {
    const KindInfo& info = Info(kind);
    std::string text = info.name;
    text += info.a.names.empty() ? "" : ":" + info.a.Text(a);
    text += info.b.names.empty() || info.b.Text(b).empty() ? "" : ":" + info.b.Text(b);
    return hasty ? text + "!" : text;
}

TEST_P(SoakRun, RandomStepsKeepTheProgramAsTheModelExpects) {
    SoakActions actions;
    std::string label = "replay";
    if (const std::string replay = Env("ORVANE_SOAK_REPLAY"); !replay.empty()) {
        ASSERT_TRUE(ParseSoakActions(replay, &actions)) << "cannot parse " << replay;
    } else {
        const uint64_t seed =
            Env("ORVANE_SOAK_SEED").empty() ? GetParam() : std::stoull(Env("ORVANE_SOAK_SEED"));
        const int steps =
            Env("ORVANE_SOAK_STEPS").empty() ? kSteps : std::stoi(Env("ORVANE_SOAK_STEPS"));
        actions = GenerateSoakActions(seed, steps);
        label = "seed " + std::to_string(seed) + ", " + std::to_string(steps) + " steps";
        if (!Env("ORVANE_SOAK_PRINT").empty()) {
            std::printf("%s\n", SoakActionsText(actions).c_str());
            return;
        }
    }

    const SoakRig::Result result = SoakRig().Run(actions, label);
    const SoakRig::Stats& s = result.stats;
    std::printf(
        "[ soak ] %s: %d steps (%d hasty; %d settles after them took the play state over), "
        "%d dialogs, %zu distinct states, %zu distinct transitions, %d files opened, "
        "%d conversions (%d completed, %d stopped, %d failed as expected), %d WAVs equal to "
        "orvane-extract's and %d stopped ones the start of it, %d of a length the model "
        "predicted, %d steps begun while a waveform was computed, slowest settle %d ms, "
        "largest lag while playing %d ms, %d steps changed by a known fault\n",
        label.c_str(), s.actions, s.hasty, s.takenOver, s.sessions, s.states.size(),
        s.transitions.size(), s.opened, s.conversions, s.completed, s.stopped, s.failed, s.compared,
        s.prefixes, s.lengthChecked, s.duringWaveform, s.slowestSettleMs, s.largestLagMs,
        s.knownFaults);
    // For bench/soak.sh, which counts the states reached over all its seeds.
    if (!Env("ORVANE_SOAK_STATES").empty()) {
        for (const std::string& state : s.states) {
            std::printf("[ soak ] state %s\n", state.c_str());
        }
    }
    long heap1000 = -1;
    for (const auto& [steps, kib] : s.heapKib) {
        const std::string heap =
            kib < 0 ? "not measured (sanitizers)" : std::to_string(kib) + " KiB";
        std::printf("[ soak ] after %d steps: heap in use %s\n", steps, heap.c_str());
        heap1000 = steps == 1000 ? kib : heap1000;
        if (steps == 2000 && heap1000 >= 0 && kib >= 0) {
            // The soak's own records of states and transitions are part of it.
            std::printf("[ soak ] heap growth from step 1000 to 2000: %+ld KiB\n", kib - heap1000);
            EXPECT_LE(kib - heap1000, kHeapGrowthKib) << label << ": heap in use grew";
        }
    }
    std::fflush(stdout);
    if (!result.failure.empty()) {
        // The steps up to the one after which the run failed.
        SoakActions done = actions;
        done.resize(std::min<size_t>(done.size(), result.failedAt + 1));
        ADD_FAILURE() << label << ": after step " << result.failedAt + 1 << ": " << result.failure
                      << "\nreplay with ORVANE_SOAK_REPLAY='" << SoakActionsText(done) << "'";
        if (!Env("ORVANE_SOAK_SHRINK").empty()) {
            const SoakActions shrunk = Shrink(done, result.failure);
            std::printf("[ soak ] shrunk: ORVANE_SOAK_REPLAY='%s'\n",
                        SoakActionsText(shrunk).c_str());
        }
    }
#if defined(__SANITIZE_ADDRESS__)
    // Leaks are told apart by run: one that grows with a run's length shows here.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << label << " leaked";
#endif
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoakRun, ::testing::ValuesIn(kSeeds));

TEST(SoakActionText, EveryStepPrintsAsTextThatParsesBack) {
    const SoakActions actions = GenerateSoakActions(99, 2000);
    SoakActions parsed;
    ASSERT_TRUE(ParseSoakActions(SoakActionsText(actions), &parsed));
    EXPECT_EQ(SoakActionsText(parsed), SoakActionsText(actions));
    EXPECT_EQ(SoakActionsText(GenerateSoakActions(99, 2000)), SoakActionsText(actions));
    EXPECT_FALSE(ParseSoakActions("open:nothing", &parsed));
    EXPECT_FALSE(ParseSoakActions("drag:700:0", &parsed));
}

TEST_F(SoakRegression, FaultsFoundStayFixed) {
    for (const auto& [fault, steps] : kRegressions) {
        SoakActions actions;
        ASSERT_TRUE(ParseSoakActions(steps, &actions)) << steps;
        EXPECT_EQ(SoakRig().Run(actions, steps).failure, "") << fault << "\n" << steps;
    }
}
