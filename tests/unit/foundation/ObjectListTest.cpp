#include <gtest/gtest.h>

#include <vector>

#include "host/ObjectList.h"

namespace {

// Records its payload when deleted.
class TracedNode : public ListNode {
public:
    TracedNode(uint32_t payload, std::vector<uint32_t>* deleted) : ListNode(payload), deleted(deleted) {}
    ~TracedNode() override { deleted->push_back(payload); }
    std::vector<uint32_t>* deleted;
};

std::vector<uint32_t> payloads(const ObjectList& list) {
    std::vector<uint32_t> out;
    for (ListNode* n = list.first(); n; n = n->next) out.push_back(n->payload);
    std::vector<uint32_t> backwards;
    for (ListNode* n = list.last(); n; n = n->previous) backwards.insert(backwards.begin(), n->payload);
    EXPECT_EQ(out, backwards) << "links disagree";
    EXPECT_EQ(int32_t(out.size()), list.count());
    return out;
}

TEST(ObjectList, AddsAtBothEnds) {
    ObjectList list;
    list.addTail(new ListNode(2));
    list.addHead(new ListNode(1));
    list.addTail(new ListNode(3));
    EXPECT_EQ(payloads(list), (std::vector<uint32_t>{1, 2, 3}));
}

TEST(ObjectList, NodeAtAndIndexOfOutsideTheListGiveNone) {
    ObjectList list, other;
    ListNode* a = new ListNode(1);
    ListNode* b = new ListNode(2);
    ListNode* foreign = new ListNode(9);
    list.addTail(a);
    list.addTail(b);
    other.addTail(foreign);
    EXPECT_EQ(list.nodeAt(-1), nullptr);
    EXPECT_EQ(list.nodeAt(2), nullptr);
    EXPECT_EQ(list.nodeAt(1), b);
    EXPECT_EQ(list.indexOf(b), 1);
    EXPECT_EQ(list.indexOf(foreign), -1);
    EXPECT_EQ(list.indexOf(nullptr), -1);
    EXPECT_FALSE(list.contains(foreign));
}

TEST(ObjectList, InsertBeforeRefusesMissingOrForeignPositions) {
    ObjectList list, other;
    ListNode* a = new ListNode(1);
    ListNode* foreign = new ListNode(9);
    list.addTail(a);
    other.addTail(foreign);
    ListNode* loose = new ListNode(5);
    EXPECT_FALSE(list.insertBefore(nullptr, loose));
    EXPECT_FALSE(list.insertBefore(a, nullptr));
    EXPECT_FALSE(list.insertBefore(foreign, loose));
    EXPECT_FALSE(list.insertBefore(a, foreign));  // already in a list
    EXPECT_EQ(payloads(list), (std::vector<uint32_t>{1}));
    EXPECT_TRUE(list.insertBefore(a, loose));
    EXPECT_EQ(payloads(list), (std::vector<uint32_t>{5, 1}));
    EXPECT_EQ(list.first(), loose);
}

TEST(ObjectList, RemoveMovesTheEndsAndDeletesNothing) {
    std::vector<uint32_t> deleted;
    ObjectList list, other;
    TracedNode* nodes[3];
    for (uint32_t i = 0; i < 3; ++i) list.addTail(nodes[i] = new TracedNode(i + 1, &deleted));
    TracedNode* foreign = new TracedNode(9, &deleted);
    other.addTail(foreign);

    EXPECT_FALSE(list.remove(foreign));
    EXPECT_TRUE(list.remove(nodes[0]));
    EXPECT_EQ(list.first(), nodes[1]);
    EXPECT_TRUE(list.remove(nodes[2]));
    EXPECT_EQ(list.last(), nodes[1]);
    EXPECT_FALSE(list.remove(nodes[2]));
    EXPECT_EQ(payloads(list), (std::vector<uint32_t>{2}));
    EXPECT_TRUE(deleted.empty());
    delete nodes[0];
    delete nodes[2];
    deleted.clear();

    list.clear();
    EXPECT_EQ(deleted, (std::vector<uint32_t>{2}));
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_EQ(list.count(), 0);
}

TEST(ObjectList, DestructionDeletesEveryNodeFirstToLast) {
    std::vector<uint32_t> deleted;
    {
        ObjectList list;
        for (uint32_t i = 1; i <= 3; ++i) list.addTail(new TracedNode(i, &deleted));
    }
    EXPECT_EQ(deleted, (std::vector<uint32_t>{1, 2, 3}));
}

}  // namespace
