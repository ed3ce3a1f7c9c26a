// The object base's lifetime policies and the counted reference holder.
#include <gtest/gtest.h>

#include <vector>

#include "host/ComObject.h"
#include "interfaces/MfxInterfaces.h"

namespace {

int destroyed = 0;

template <class Policy>
class Probe : public ComObject<Probe<Policy>, Policy, IMfxNameTableList> {
public:
    ~Probe() override { ++destroyed; }
    static const InterfaceEntry* interfaceTable() {
        static const InterfaceEntry table[] = {
            Probe::template entry<IMfxNameTableList>(&comid::IUnknown),
            Probe::template entry<IMfxNameTableList>(&mfxid::IMfxNameTableList),
            Probe::end(),
        };
        return table;
    }
    HRESULT STDMETHODCALLTYPE count(int32_t*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE table(int32_t, IMfxNameTable**) override { return E_FAIL; }
};

// One row: a script of AddRef (+) and Release (-) calls on a heap object, the
// results the calls give, and whether the object is gone at the end.
struct Row {
    const char* policy;
    const char* script;
    std::vector<LONG> results;
    bool destroyedAtEnd;
};

std::vector<LONG> play(const char* script, IUnknown* object) {
    std::vector<LONG> results;
    for (const char* c = script; *c; ++c) results.push_back(LONG(*c == '+' ? object->AddRef() : object->Release()));
    return results;
}

template <class Policy>
void check(const Row& row) {
    destroyed = 0;
    auto* object = new Probe<Policy>();
    const std::vector<LONG> results = play(row.script, object);
    EXPECT_EQ(row.results, results) << row.policy << " " << row.script;
    EXPECT_EQ(row.destroyedAtEnd ? 1 : 0, destroyed) << row.policy << " " << row.script;
    if (!row.destroyedAtEnd) delete object;
}

TEST(ComObject, LifetimePolicies) {
    const Row counted[] = {
        {"counted", "-", {0}, true},
        {"counted", "++--", {2, 3, 2, 1}, false},
        {"counted", "+--", {2, 1, 0}, true},
    };
    for (const Row& r : counted) check<lifetime::Counted>(r);
    const Row member[] = {
        {"member", "---", {0, 0, 0}, false},
        {"member", "+---+", {2, 1, 0, 0, 1}, false},
    };
    for (const Row& r : member) check<lifetime::Member<0>>(r);
    const Row factory[] = {
        {"static floor 1", "+---", {2, 1, 1, 1}, false},
    };
    for (const Row& r : factory) check<lifetime::Static<1>>(r);
    const Row shared[] = {
        {"shared static", "+--+", {1, 0, -1, 0}, false},
    };
    for (const Row& r : shared) check<lifetime::SharedStatic>(r);
}

TEST(ComObject, OneTableAnswersEveryListedIdentifier) {
    Probe<lifetime::Member<0>> object;
    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(S_OK, object.QueryInterface(mfxid::IMfxNameTableList, &out));
    EXPECT_EQ(static_cast<IMfxNameTableList*>(&object), out);
    EXPECT_EQ(S_OK, object.QueryInterface(comid::IUnknown, &out));
    EXPECT_EQ(3, object.referenceCount());
    out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(E_NOINTERFACE, object.QueryInterface(mfxid::IMfxNameTable, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, object.QueryInterface(comid::IUnknown, nullptr));
    EXPECT_EQ(3, object.referenceCount());
}

TEST(ComRef, CopiesCountAndDetachHandsOver) {
    destroyed = 0;
    auto* raw = new Probe<lifetime::Counted>();
    {
        ComRef<Probe<lifetime::Counted>> a(raw);  // adopts the creator's count
        EXPECT_EQ(1, raw->referenceCount());
        ComRef<Probe<lifetime::Counted>> b(a);
        EXPECT_EQ(2, raw->referenceCount());
        ComRef<Probe<lifetime::Counted>> c;
        c = b;
        EXPECT_EQ(3, raw->referenceCount());
        c = c;
        EXPECT_EQ(3, raw->referenceCount());
        ComRef<Probe<lifetime::Counted>> d;
        d.share(raw);
        EXPECT_EQ(4, raw->referenceCount());
        Probe<lifetime::Counted>* handed = d.detach();
        EXPECT_EQ(raw, handed);
        EXPECT_FALSE(d);
        EXPECT_EQ(4, raw->referenceCount());
        d.attach(handed);  // takes the handed reference back, no new count
        EXPECT_EQ(4, raw->referenceCount());
    }
    EXPECT_EQ(1, destroyed);
}

}  // namespace
