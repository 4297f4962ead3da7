#include "gamelink/cursor_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Walk(CursorList<int>& list) {
    std::vector<int> seen;
    list.ResetToHead();
    while (list.Advance()) seen.push_back(*list.Current());
    return seen;
}

TEST(CursorList, RemovingDuringAWalkContinuesWithTheFollowingElement) {
    int values[] = {1, 2, 3, 4, 5};
    CursorList<int> list;
    for (int& v : values) list.Append(&v);
    list.ResetToHead();
    std::vector<int> visited;
    while (list.Advance()) {
        visited.push_back(*list.Current());
        if (*list.Current() % 2 == 1) list.RemoveCurrent();  // the head first
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Walk(list), (std::vector<int>{2, 4}));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(values[0], 1);  // elements are never released by the list
}

TEST(CursorList, HeadInsertTailRemovalAndEmptyWalks) {
    int a = 1, b = 2, c = 3;
    CursorList<int> list;
    list.ResetToHead();
    EXPECT_FALSE(list.Advance());
    EXPECT_EQ(list.Current(), nullptr);
    list.InsertAtHead(&a);
    list.InsertAtHead(&b);
    list.Append(&c);
    EXPECT_EQ(Walk(list), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(*list.Head(), 2);
    list.ResetToTail();
    ASSERT_TRUE(list.Advance());
    EXPECT_EQ(*list.Current(), 3);
    list.RemoveCurrent();
    EXPECT_FALSE(list.Advance());  // nothing followed the tail
    EXPECT_EQ(Walk(list), (std::vector<int>{2, 1}));
    list.ResetToHead();
    while (list.Advance()) list.RemoveCurrent();
    EXPECT_TRUE(list.Empty());
    list.Append(&a);  // head and tail were reset properly
    EXPECT_EQ(Walk(list), (std::vector<int>{1}));
}

}  // namespace
