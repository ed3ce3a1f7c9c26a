#include "host/ObjectList.h"

ObjectList::~ObjectList() { clear(); }

bool ObjectList::addTail(ListNode* node) {
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

bool ObjectList::addHead(ListNode* node) {
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

bool ObjectList::insertBefore(ListNode* position, ListNode* node) {
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

bool ObjectList::insertAfter(ListNode* position, ListNode* node) {
    if (!position || !node || !contains(position) || node->owner) return false;
    if (position == last_) return addTail(node);
    return insertBefore(position->next, node);
}

bool ObjectList::remove(ListNode* node) {
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

void ObjectList::clear() {
    ListNode* node = first_;
    first_ = last_ = nullptr;
    count_ = 0;
    while (node) {
        ListNode* next = node->next;
        node->owner = nullptr;
        delete node;
        node = next;
    }
}

ListNode* ObjectList::nodeAt(int32_t index) const {
    if (index < 0 || index >= count_) return nullptr;
    ListNode* node = first_;
    while (index-- > 0) node = node->next;
    return node;
}

int32_t ObjectList::indexOf(const ListNode* node) const {
    if (!contains(node)) return -1;
    int32_t index = 0;
    for (const ListNode* n = first_; n != node; n = n->next) ++index;
    return index;
}
