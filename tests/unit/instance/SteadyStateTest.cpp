// Once warmed up, the playing path makes no call outside the module that could stall:
// no allocation, no lock, no system call. Every function the module DLL imports is
// counted through its import table while a warmed-up instance plays on.
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "ModuleFixture.h"

namespace {

using namespace fixture;

// Pure functions of the C runtime: no heap, no lock, no system call.
const std::set<std::string> kPure = {"memcpy", "memmove", "memset", "memcmp", "memchr", "strlen", "strcmp"};

// Replaces each import of the module with a stub that counts, then jumps on.
class ImportCounter {
public:
    explicit ImportCounter(HMODULE module) {
        auto* base = reinterpret_cast<uint8_t*>(module);
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
        size_t n = 0;
        for (auto* d = desc; d->Name; ++d)
            for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk); t->u1.Function; ++t) ++n;
        stubs_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, n * 16, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        counts_.assign(n, 0);
        originals_.assign(n, 0);
        size_t i = 0;
        for (auto* d = desc; d->Name; ++d) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
            for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk); t->u1.Function; ++t, ++names, ++i) {
                names_.push_back(IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)
                                     ? std::string("#") + std::to_string(IMAGE_ORDINAL32(names->u1.Ordinal))
                                     : reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
                originals_[i] = t->u1.Function;
                // lock inc dword [count]; jmp dword [original]
                uint8_t* s = stubs_ + 16 * i;
                const uint32_t count = uint32_t(uintptr_t(&counts_[i])), original = uint32_t(uintptr_t(&originals_[i]));
                const uint8_t code[12] = {0xF0, 0xFF, 0x05, 0, 0, 0, 0, 0xFF, 0x25, 0, 0, 0};
                std::memcpy(s, code, 12);
                std::memcpy(s + 3, &count, 4);
                std::memcpy(s + 9, &original, 4);
                slots_.push_back(&t->u1.Function);
                swap(i, uint32_t(uintptr_t(s)));
            }
        }
    }
    ~ImportCounter() {
        for (size_t i = 0; i < slots_.size(); ++i) swap(i, originals_[i]);
        // The stubs stay: a thread may still be inside one.
    }
    void reset() {
        for (LONG& c : counts_) InterlockedExchange(&c, 0);
    }
    // Imports called since the last reset, apart from pure ones, with their counts.
    std::map<std::string, long> impure() const {
        std::map<std::string, long> called;
        for (size_t i = 0; i < counts_.size(); ++i)
            if (count(i) && !kPure.count(names_[i])) called[names_[i]] = count(i);
        return called;
    }
    long calls(const std::string& name) const {
        long total = 0;
        for (size_t i = 0; i < counts_.size(); ++i)
            if (names_[i] == name) total += count(i);
        return total;
    }

private:
    long count(size_t i) const { return *static_cast<const volatile LONG*>(&counts_[i]); }
    void swap(size_t i, uint32_t target) {
        DWORD old;
        VirtualProtect(slots_[i], 4, PAGE_READWRITE, &old);
        *slots_[i] = target;
        VirtualProtect(slots_[i], 4, old, &old);
    }
    uint8_t* stubs_;
    std::vector<LONG> counts_;
    std::vector<uint32_t> originals_;
    std::vector<std::string> names_;
    std::vector<DWORD*> slots_;
};

class SteadyState : public InstanceTest {
protected:
    // One round of what a playing host does: sequenced notes, a controller and the pitch
    // wheel through process, live input, idle calls, a stop, a reposition and a loop jump.
    // Returns how many events reached the host.
    size_t round(int32_t at) {
        for (int32_t block = 0; block < 8; ++block) {
            const int32_t from = at + block * 120;
            for (int k = 0; k < 4; ++k) send(events().newNote(from + k * 30, 0, 60 + k, 100, 20));
            send(events().newEvent(from + 5, 0xB0, 7, 100));
            send(events().newEvent(from + 6, 0xE0, 0, 64));
            HostEvent live = events().newEvent(from, 0x90, 72, 90);
            events().markLive(live, true);
            send(live);
            instance->process(from, from + 120, 0);
            instance->process(from, from, 1);
        }
        instance->cycleJump(at, 960);
        instance->process(at + 960, at + 1080, 0);
        instance->stop(at + 1080);
        instance->process(at + 1080, at + 1080, 1);
        instance->reposition(at);
        return events().takeOutput().size();
    }
};

TEST_F(SteadyState, AWarmedUpInstanceAllocatesLocksAndCallsTheSystemNever) {
    init();
    ImportCounter counter(GetModuleHandleA("palisander.dll"));
    for (int warm = 0; warm < 4; ++warm) round(warm * 2000);
    counter.reset();
    size_t heard = 0;
    for (int r = 4; r < 40; ++r) heard += round(r * 2000);
    EXPECT_EQ(counter.impure(), (std::map<std::string, long>{}));
    EXPECT_GT(heard, 36u * 8 * 6) << "the rounds played";
    EXPECT_EQ(events().liveHandles(), 0);

    // The counter sees the module's calls: a sysex block is the one thing that allocates.
    counter.reset();
    send(events().newSysex(100130, {0xF0, 0x01, 0xF7}));
    instance->process(100000, 100120, 0);  // the range after a reposition is skipped
    instance->process(100120, 100240, 0);
    EXPECT_GT(counter.calls("malloc") + counter.calls("calloc") + counter.calls("AcquireSRWLockExclusive"), 0);
}

}  // namespace
