#include <gtest/gtest.h>

#include <functional>

#include "SegmentList.h"

namespace {

constexpr int64_t kS = 10'000'000;

std::vector<Segment> Three() {
    return {{20 * kS, 30 * kS, "c"}, {0, 10 * kS, "a"}, {10 * kS, 20 * kS, "b"}};
}

// Each edit of the list, and what the list then holds: the order by start and which rows
// share time with another.
TEST(SegmentListTest, StaysSortedByStartAndTellsOverlaps) {
    const struct {
        const char* what;
        std::function<int(SegmentList&)> edit;  // returns the row it reports, or -1
        std::vector<std::string> names;
        std::vector<bool> overlaps;
        int row;
    } cases[] = {
        {"replaced lists are sorted",
         [](SegmentList&) { return -1; },
         {"a", "b", "c"},
         {false, false, false},
         -1},
        {"added in its place",
         [](SegmentList& l) {
             return l.Add({5 * kS, 8 * kS, "x"});
         },
         {"a", "x", "b", "c"},
         {true, true, false, false},
         1},
        {"touching ends do not overlap",
         [](SegmentList& l) {
             return l.Add({30 * kS, 40 * kS, "d"});
         },
         {"a", "b", "c", "d"},
         {false, false, false, false},
         3},
        {"moved by new times",
         [](SegmentList& l) { return l.SetTimes(0, 25 * kS, 35 * kS); },
         {"b", "c", "a"},
         {false, true, true},
         2},
        {"equal starts by end",
         [](SegmentList& l) {
             return l.Add({10 * kS, 15 * kS, "y"});
         },
         {"a", "y", "b", "c"},
         {false, true, true, false},
         1},
        {"removed", [](SegmentList& l) { return l.Remove(1), -1; }, {"a", "c"}, {false, false}, -1},
        {"renamed in place",
         [](SegmentList& l) { return l.SetName(2, "z"), -1; },
         {"a", "b", "z"},
         {false, false, false},
         -1},
        {"a row outside the list changes nothing",
         [](SegmentList& l) { return l.Remove(7), l.SetTimes(-1, 0, 1); },
         {"a", "b", "c"},
         {false, false, false},
         -1},
        {"cleared", [](SegmentList& l) { return l.Clear(), -1; }, {}, {}, -1},
    };
    for (const auto& c : cases) {
        SegmentList list;
        list.Replace(Three());
        EXPECT_EQ(c.edit(list), c.row) << c.what;
        std::vector<std::string> names;
        std::vector<bool> overlaps;
        for (int r = 0; r < list.Count(); ++r) {
            names.push_back(list.Segments()[static_cast<size_t>(r)].name);
            overlaps.push_back(list.Overlaps(r));
        }
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_EQ(overlaps, c.overlaps) << c.what;
    }
}

}  // namespace
