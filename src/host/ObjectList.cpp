#include "host/ObjectList.h"

ObjectList::~ObjectList() { clear(); }

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
