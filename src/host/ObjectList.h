// Intrusive doubly linked list that owns its nodes.
#pragma once

#include <cstdint>

class ObjectList;

class ListNode {
public:
    ListNode() = default;
    explicit ListNode(uint32_t payload) : payload(payload) {}
    virtual ~ListNode() = default;
    ListNode(const ListNode&) = delete;
    ListNode& operator=(const ListNode&) = delete;

    ListNode* next = nullptr;
    ListNode* previous = nullptr;
    uint32_t payload = 0;

private:
    friend class ObjectList;
    const ObjectList* owner = nullptr;  // membership in O(1)
};

class ObjectList {
public:
    ObjectList() = default;
    virtual ~ObjectList();
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;

    // Link a node that is in no list; false (and nothing changes) otherwise.
    bool addTail(ListNode* node);
    bool addHead(ListNode* node);
    // Links node directly before position; false when either is missing, position
    // is not in this list or node is already in a list.
    bool insertBefore(ListNode* position, ListNode* node);
    bool insertAfter(ListNode* position, ListNode* node);
    // Unlinks without deleting; false when the node is not in this list.
    bool remove(ListNode* node);
    // Deletes every node, first to last.
    void clear();

    ListNode* nodeAt(int32_t index) const;
    int32_t indexOf(const ListNode* node) const;
    bool contains(const ListNode* node) const { return node && node->owner == this; }

    ListNode* first() const { return first_; }
    ListNode* last() const { return last_; }
    int32_t count() const { return count_; }

private:
    ListNode* first_ = nullptr;
    ListNode* last_ = nullptr;
    int32_t count_ = 0;
};
