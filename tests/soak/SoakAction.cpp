#include "SoakAction.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

using Kind = SoakAction::Kind;
using Names = std::vector<std::string>;

// A parameter: named values, or a number between lo and hi.
struct Param {
    Names names;
    int lo = 0;
    int hi = -1;  // below lo: no parameter

    bool Present() const { return !names.empty() || hi >= lo; }
    // 0 for no parameter, without a draw.
    int Draw(std::mt19937_64& rng) const {
        if (!Present()) {
            return 0;
        }
        const int n = names.empty() ? hi - lo + 1 : static_cast<int>(names.size());
        return (names.empty() ? lo : 0) + static_cast<int>(rng() % static_cast<uint64_t>(n));
    }
    std::string Text(int value) const {
        return names.empty() ? std::to_string(value) : names.at(static_cast<size_t>(value));
    }
    // Whether the text is a value; a number is checked against its text by the caller.
    bool Parse(const std::string& text, int* value) const {
        const auto found = std::find(names.begin(), names.end(), text);
        *value = names.empty() ? static_cast<int>(std::strtol(text.c_str(), nullptr, 10))
                               : static_cast<int>(found - names.begin());
        return names.empty() ? *value >= lo && *value <= hi : found != names.end();
    }
};

struct KindInfo {
    Kind kind;
    const char* name;
    int weight;  // how often it is drawn, out of the sum of all weights
    bool hastyOk;
    Param a;
    Param b;  // left out of the text at 0 where its first name is empty
};

const Names kFiles = {"mpg",    "mp4",     "mkv",       "wav",     "mp3",    "long",  "noaudio",
                      "doomed", "corrupt", "truncated", "missing", "cancel", "tracks"};
const Names kMarks = {"start", "end"};
const Names kNudges = {"start-back", "start-forward", "end-back", "end-forward", "[", "]"};

const std::vector<KindInfo> kKinds = {
    {Kind::Open, "open", 12, true, {kFiles}, {}},
    {Kind::Drop, "drop", 2, true, {kFiles}, {}},
    {Kind::Delete, "delete", 1, false, {}, {}},
    {Kind::Play, "play", 8, true, {}, {}},
    {Kind::Pause, "pause", 4, true, {}, {}},
    {Kind::Stop, "stop", 4, true, {}, {}},
    {Kind::Drag, "drag", 5, true, {{}, 0, 600}, {{}, 0, 1200}},
    {Kind::Groove, "groove", 3, true, {{}, 0, 600}, {}},
    {Kind::StartTime, "start", 6, true, {}, {}},
    {Kind::EndTime, "end", 6, true, {}, {}},
    {Kind::Output, "output", 3, false, {{"out", "spaced", "precious", "nofolder", "default"}}, {}},
    {Kind::Browse, "browse", 2, false, {{"cancel", "browsed", "spaced"}}, {}},
    {Kind::Convert, "convert", 12, true, {{"no", "yes"}}, {{"", "close", "fullscreen", "wait"}}},
    {Kind::Wait, "wait", 8, false, {{}, 50, 1500}, {}},
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
    {Kind::TypeMark, "type", 5, false, {kMarks}, {{}, 0, 9000}},
    {Kind::JunkMark, "junk", 1, false, {kMarks}, {}},
    {Kind::Nudge, "nudge", 6, false, {kNudges}, {}},
    {Kind::MarkKey, "key", 3, false, {{"i", "o"}}, {}},
    {Kind::Audition, "audition", 6, false, {{"selection", "loop", "start", "end"}}, {}},
    {Kind::Track, "track", 2, false, {{}, 0, 1}, {}},
    {Kind::Format, "format", 2, false, {{"auto", "16", "24", "32", "float"}}, {}},
    {Kind::Box, "box", 2, false, {{"exact", "modern"}}, {}},
};

const KindInfo& Info(Kind kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(), [kind](auto& i) { return i.kind == kind; });
}

}  // namespace

std::string SoakAction::Text() const {
    const KindInfo& info = Info(kind);
    std::string text = info.name;
    text += info.a.Present() ? ":" + info.a.Text(a) : "";
    const bool bLeftOut = b == 0 && !info.b.names.empty() && info.b.names[0].empty();
    text += info.b.Present() && !bLeftOut ? ":" + info.b.Text(b) : "";
    return hasty ? text + "!" : text;
}

bool SoakAction::Parse(const std::string& text, SoakAction* action) {
    SoakAction parsed;
    parsed.hasty = !text.empty() && text.back() == '!';
    std::vector<std::string> parts;
    std::istringstream in(text.substr(0, text.size() - (parsed.hasty ? 1 : 0)));
    for (std::string part; std::getline(in, part, ':');) {
        parts.push_back(part);
    }
    for (const KindInfo& info : kKinds) {
        if (parts.empty() || parts[0] != info.name) {
            continue;
        }
        parsed.kind = info.kind;
        // Every part must read as its parameter, and the step must print as the text given.
        if ((parts.size() > 1 && !info.a.Parse(parts[1], &parsed.a)) ||
            (parts.size() > 2 && !info.b.Parse(parts[2], &parsed.b)) || parsed.Text() != text) {
            return false;
        }
        *action = parsed;
        return true;
    }
    return false;
}

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
        if (!SoakAction::Parse(item, &actions->emplace_back())) {
            return false;
        }
    }
    return true;
}
