#include "host/ParameterRegistry.h"

#include <cstring>
#include <new>

void ParameterRegistry::addEntry(ParameterEntry* entry, const char* name) {
    Node* node = new (std::nothrow) Node;
    if (!node) return;  // out of memory: the entry stays unnamed rather than the host failing
    node->entry = entry;
    if (name) std::strncpy(node->name, name, nameSize - 1);
    entries.addTail(node);
}

ParameterEntry* ParameterRegistry::findByName(const char* name) const {
    if (!name) return nullptr;
    for (ListNode* n = entries.first(); n; n = n->next) {
        Node* node = static_cast<Node*>(n);
        if (std::strcmp(node->name, name) == 0) return node->entry;
    }
    return nullptr;
}

ParameterEntry* ParameterRegistry::findById(uint32_t id) const {
    for (ListNode* n = entries.first(); n; n = n->next) {
        Node* node = static_cast<Node*>(n);
        if (node->entry && node->entry->id == id) return node->entry;
    }
    return nullptr;
}

const char* ParameterRegistry::nameAt(int32_t index) const {
    ListNode* n = entries.nodeAt(index);
    return n ? static_cast<Node*>(n)->name : nullptr;
}
