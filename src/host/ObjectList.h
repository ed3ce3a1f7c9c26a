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
    // Empties the list in one pass, handing each node, unlinked, to take(node), first to last.
    template <class F>
    void unlinkEach(F&& take) {
        ListNode* node = first_;
        first_ = last_ = nullptr;
        count_ = 0;
        while (node) {
            ListNode* next = node->next;
            node->next = node->previous = nullptr;
            node->owner = nullptr;
            take(node);
            node = next;
        }
    }

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

// The linking operations are on every event's way through the module: inline.
inline bool ObjectList::addTail(ListNode* node) {
    if (!node || node->owner) return false;
    node->owner = this;
    node->next = nullptr;
    node->previous = last_;
    if (last_)
        last_->next = node;
    else
        first_ = node;
    last_ = node;
    ++count_;
    return true;
}

inline bool ObjectList::addHead(ListNode* node) {
    if (!node || node->owner) return false;
    node->owner = this;
    node->previous = nullptr;
    node->next = first_;
    if (first_)
        first_->previous = node;
    else
        last_ = node;
    first_ = node;
    ++count_;
    return true;
}

inline bool ObjectList::insertBefore(ListNode* position, ListNode* node) {
    if (!position || !node || !contains(position) || node->owner) return false;
    if (position == first_) return addHead(node);
    node->owner = this;
    node->next = position;
    node->previous = position->previous;
    position->previous->next = node;
    position->previous = node;
    ++count_;
    return true;
}

inline bool ObjectList::insertAfter(ListNode* position, ListNode* node) {
    if (!position || !node || !contains(position) || node->owner) return false;
    if (position == last_) return addTail(node);
    return insertBefore(position->next, node);
}

inline bool ObjectList::remove(ListNode* node) {
    if (!contains(node)) return false;
    if (node->previous)
        node->previous->next = node->next;
    else
        first_ = node->next;
    if (node->next)
        node->next->previous = node->previous;
    else
        last_ = node->previous;
    node->next = node->previous = nullptr;
    node->owner = nullptr;
    --count_;
    return true;
}
