// Named parameter entries behind a module object's IParameterSet.
#pragma once

#include <cstdint>

#include "host/ObjectList.h"
#include "interfaces/HostInterfaces.h"

class ParameterRegistry {
public:
    static const int nameSize = 128;

    explicit ParameterRegistry(IParameterSet* owner) : owner(owner) {}

    // The entry is not owned; the name is cut to 127 characters.
    void addEntry(ParameterEntry* entry, const char* name);

    ParameterEntry* findByName(const char* name) const;
    ParameterEntry* findById(uint32_t id) const;
    int32_t count() const { return entries.count(); }
    // The name of the node at index, or null.
    const char* nameAt(int32_t index) const;

    IParameterSet* const owner;

private:
    class Node : public ListNode {
    public:
        ParameterEntry* entry = nullptr;
        char name[nameSize] = {};
    };

    ObjectList entries;
};
