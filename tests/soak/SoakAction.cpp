#include "SoakAction.h"

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
    int Draw(std::mt19937_64& rng) const {
        const int n = names.empty() ? hi - lo + 1 : static_cast<int>(names.size());
        return (names.empty() ? lo : 0) + static_cast<int>(rng() % static_cast<uint64_t>(n));
    }
};

struct KindInfo {
    Kind kind;
    const char* name;
    int weight;  // how often it is drawn, out of the sum of all weights
    bool hastyOk;
    Param a;
    Param b;
};

const Names kFiles = {"mpg",    "mp4",     "mkv",       "wav",     "mp3",    "long",  "noaudio",
                      "doomed", "corrupt", "truncated", "missing", "cancel", "tracks"};
const Names kMarks = {"start", "end"};

const std::vector<KindInfo>& Kinds() {
    static const std::vector<KindInfo> kinds = {
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
        {Kind::Output,
         "output",
         3,
         false,
         {{"out", "spaced", "precious", "nofolder", "default"}},
         {}},
        {Kind::Browse, "browse", 2, false, {{"cancel", "browsed", "spaced"}}, {}},
        {Kind::Convert,
         "convert",
         12,
         true,
         {{"no", "yes"}},
         {{"", "close", "fullscreen", "wait"}}},
        {Kind::Wait, "wait", 8, false, {{}, 50, 1500}, {}},
        {Kind::ClosePreview, "close-preview", 2, true, {}, {}},
        {Kind::Menu,
         "menu",
         5,
         true,
         {{"fullscreen", "normal", "play", "pause", "stop", "close"}},
         {}},
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
        {Kind::Nudge,
         "nudge",
         6,
         false,
         {{"start-back", "start-forward", "end-back", "end-forward", "[", "]"}},
         {}},
        {Kind::MarkKey, "key", 3, false, {{"i", "o"}}, {}},
        {Kind::Audition, "audition", 6, false, {{"selection", "loop", "start", "end"}}, {}},
        {Kind::Track, "track", 2, false, {{}, 0, 1}, {}},
        {Kind::Format, "format", 2, false, {{"auto", "16", "24", "32", "float"}}, {}},
        {Kind::Box, "box", 2, false, {{"exact", "modern"}}, {}},
    };
    return kinds;
}

const KindInfo& Info(Kind kind) {
    for (const KindInfo& info : Kinds()) {
        if (info.kind == kind) {
            return info;
        }
    }
    return Kinds().front();
}

std::string ParamText(const Param& p, int value) {
    return p.names.empty() ? std::to_string(value) : p.names.at(static_cast<size_t>(value));
}

bool ParseParam(const Param& p, const std::string& text, int* value) {
    if (p.names.empty()) {
        try {
            size_t used = 0;
            *value = std::stoi(text, &used);
            return used == text.size() && *value >= p.lo && *value <= p.hi;
        } catch (const std::exception&) {
            return false;
        }
    }
    for (size_t i = 0; i < p.names.size(); ++i) {
        if (p.names[i] == text) {
            *value = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

const std::vector<std::string>& SoakAction::Names(Kind kind, bool second) {
    const KindInfo& info = Info(kind);
    return second ? info.b.names : info.a.names;
}

std::string SoakAction::Text() const {
    const KindInfo& info = Info(kind);
    std::string text = info.name;
    if (info.a.Present()) {
        text += ":" + ParamText(info.a, a);
    }
    // A second parameter whose first name is empty is left out at that value.
    if (info.b.Present() && !(b == 0 && !info.b.names.empty() && info.b.names[0].empty())) {
        text += ":" + ParamText(info.b, b);
    }
    return hasty ? text + "!" : text;
}

bool SoakAction::Parse(const std::string& text, SoakAction* action) {
    std::string body = text;
    SoakAction parsed;
    if (!body.empty() && body.back() == '!') {
        parsed.hasty = true;
        body.pop_back();
    }
    std::vector<std::string> parts;
    std::istringstream in(body);
    for (std::string part; std::getline(in, part, ':');) {
        parts.push_back(part);
    }
    if (parts.empty()) {
        return false;
    }
    for (const KindInfo& info : Kinds()) {
        if (parts[0] != info.name) {
            continue;
        }
        parsed.kind = info.kind;
        const size_t wanted = 1 + (info.a.Present() ? 1 : 0) + (info.b.Present() ? 1 : 0);
        // The second parameter may be left out where its first value has no name.
        const bool bOptional = info.b.Present() && !info.b.names.empty() && info.b.names[0].empty();
        if (parts.size() != wanted && !(bOptional && parts.size() == wanted - 1)) {
            return false;
        }
        if (info.a.Present() && !ParseParam(info.a, parts[1], &parsed.a)) {
            return false;
        }
        if (parts.size() == 3 && !ParseParam(info.b, parts[2], &parsed.b)) {
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
    for (const KindInfo& info : Kinds()) {
        total += info.weight;
    }
    SoakActions actions;
    int sinceHasty = 10;
    for (int i = 0; i < count; ++i) {
        int pick = static_cast<int>(rng() % static_cast<uint64_t>(total));
        const KindInfo* chosen = &Kinds().front();
        for (const KindInfo& info : Kinds()) {
            if (pick < info.weight) {
                chosen = &info;
                break;
            }
            pick -= info.weight;
        }
        SoakAction action;
        action.kind = chosen->kind;
        action.a = chosen->a.Present() ? chosen->a.Draw(rng) : 0;
        action.b = chosen->b.Present() ? chosen->b.Draw(rng) : 0;
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
    for (std::string item; std::getline(in, item, ',');) {
        const size_t first = item.find_first_not_of(" \n\t");
        const size_t last = item.find_last_not_of(" \n\t");
        if (first == std::string::npos) {
            continue;
        }
        SoakAction action;
        if (!SoakAction::Parse(item.substr(first, last - first + 1), &action)) {
            return false;
        }
        actions->push_back(action);
    }
    return true;
}
