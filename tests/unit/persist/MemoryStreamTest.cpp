#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interfaces/ComExtras.h"
#include "persist/MemoryStream.h"

namespace {

constexpr ULONG kSentinel = 0xCAFECAFE;

ULONG write(MemoryStream& s, const std::string& text, HRESULT* hr = nullptr) {
    ULONG written = kSentinel;
    HRESULT r = s.Write(text.data(), static_cast<ULONG>(text.size()), &written);
    if (hr) *hr = r;
    return written;
}

std::string read(MemoryStream& s, ULONG count) {
    std::string out(count, '\0');
    ULONG got = kSentinel;
    EXPECT_EQ(s.Read(&out[0], count, &got), S_OK);
    out.resize(got);
    return out;
}

int64_t seek(MemoryStream& s, int64_t move, DWORD origin, HRESULT* hr = nullptr) {
    LARGE_INTEGER m;
    m.QuadPart = move;
    ULARGE_INTEGER now;
    now.QuadPart = 0xCAFECAFECAFECAFEULL;
    HRESULT r = s.Seek(m, origin, &now);
    if (hr) *hr = r;
    return static_cast<int64_t>(now.QuadPart);
}

HRESULT setSize(MemoryStream& s, ULONGLONG size) {
    ULARGE_INTEGER v;
    v.QuadPart = size;
    return s.SetSize(v);
}

std::string content(const MemoryStream& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), static_cast<size_t>(s.size()));
}

// Fills the block beyond the content, so that zeroing is visible.
void poisonSlack(MemoryStream& s) {
    uint8_t* p = const_cast<uint8_t*>(s.data());
    std::memset(p + s.size(), 0xEE, static_cast<size_t>(s.capacity() - s.size()));
}

bool sameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

uint64_t ticks(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

TEST(MemoryStream, NewStreamIsEmptyWithEqualTimes) {
    MemoryStream s;
    STATSTG st;
    std::memset(&st, 0xCA, sizeof st);
    ASSERT_EQ(s.Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.pwcsName, nullptr);
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 0u);
    EXPECT_TRUE(sameTime(st.ctime, st.mtime));
    EXPECT_TRUE(sameTime(st.ctime, st.atime));
    EXPECT_EQ(st.grfMode, 0u);
    EXPECT_EQ(st.grfLocksSupported, 0u);
    EXPECT_TRUE(IsEqualGUID(st.clsid, GUID_NULL));
    EXPECT_EQ(st.grfStateBits, 0u);
    EXPECT_EQ(st.reserved, 0u);
    EXPECT_EQ(read(s, 10), "");
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.capacity(), 0);
}

TEST(MemoryStream, GrowsInStepsOf4096AndKeepsContent) {
    MemoryStream s;
    EXPECT_EQ(write(s, "0123456789"), 10u);
    EXPECT_EQ(s.capacity(), 4096);
    EXPECT_EQ(s.size(), 10);
    EXPECT_EQ(s.position(), 10);
    std::string big(4096, 'x');
    EXPECT_EQ(write(s, big), 4096u);
    EXPECT_EQ(s.capacity(), 8192);
    EXPECT_EQ(s.size(), 4106);
    EXPECT_EQ(content(s), "0123456789" + big);
}

TEST(MemoryStream, ReadStopsAtTheEnd) {
    MemoryStream s;
    write(s, "abc");
    s.rewind();
    EXPECT_EQ(s.position(), 0);
    EXPECT_EQ(read(s, 10), "abc");
    EXPECT_EQ(read(s, 10), "");
    EXPECT_EQ(s.position(), 3);
}

TEST(MemoryStream, ReadPastTheEndMovesBackToTheSize) {
    MemoryStream s;
    write(s, "0123456789");
    EXPECT_EQ(seek(s, 100, STREAM_SEEK_SET), 100);
    EXPECT_EQ(read(s, 4), "");
    EXPECT_EQ(s.position(), 10);
}

TEST(MemoryStream, SeekOrigins) {
    struct Case {
        int32_t start;
        int64_t move;
        DWORD origin;
        int64_t expected;
    } cases[] = {
        {0, 5, STREAM_SEEK_END, 10},       // never past the end from the end
        {0, -3, STREAM_SEEK_END, 7},
        {4, 99, 3, 4},                     // unknown origin: unchanged
        {7, 2, STREAM_SEEK_CUR, 9},
        {7, -9, STREAM_SEEK_CUR, -2},      // before 0 is accepted
        {0, 0x100000005LL, STREAM_SEEK_SET, 5},  // only the low 32 bits
        {3, -5, STREAM_SEEK_SET, -5},
    };
    for (const Case& c : cases) {
        MemoryStream s;
        write(s, "0123456789");
        seek(s, c.start, STREAM_SEEK_SET);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(seek(s, c.move, c.origin, &hr), c.expected) << c.move << " " << c.origin;
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(s.position(), c.expected);
    }
    MemoryStream s;
    LARGE_INTEGER m;
    m.QuadPart = 3;
    EXPECT_EQ(s.Seek(m, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s.position(), 3);
}

TEST(MemoryStream, WritePastTheEndExtendsWithZeros) {
    MemoryStream s;
    write(s, "0123456789");
    poisonSlack(s);
    seek(s, 20, STREAM_SEEK_SET);
    EXPECT_EQ(write(s, ""), 0u);
    EXPECT_EQ(s.size(), 20);
    EXPECT_EQ(content(s), "0123456789" + std::string(10, '\0'));

    poisonSlack(s);
    seek(s, 25, STREAM_SEEK_SET);
    EXPECT_EQ(write(s, "z"), 1u);
    EXPECT_EQ(s.size(), 26);
    EXPECT_EQ(content(s).substr(20), std::string(5, '\0') + "z");
}

TEST(MemoryStream, ZeroByteWritePastTheEndOfAnEmptyStreamMakesABlock) {
    MemoryStream s;
    seek(s, 20, STREAM_SEEK_SET);
    EXPECT_EQ(write(s, ""), 0u);
    EXPECT_EQ(s.size(), 20);
    EXPECT_EQ(s.capacity(), 4096);
    EXPECT_EQ(content(s), std::string(20, '\0'));
}

TEST(MemoryStream, OverwriteInsideKeepsTheSize) {
    MemoryStream s;
    write(s, "0123456789");
    seek(s, 2, STREAM_SEEK_SET);
    EXPECT_EQ(write(s, "ab"), 2u);
    EXPECT_EQ(s.size(), 10);
    EXPECT_EQ(s.position(), 4);
    EXPECT_EQ(content(s), "01ab456789");
}

TEST(MemoryStream, NullBufferIsRefusedAndChangesNothing) {
    MemoryStream s;
    write(s, "0123456789");
    seek(s, 8, STREAM_SEEK_SET);
    ULONG n = kSentinel;
    EXPECT_EQ(s.Write(nullptr, 5, &n), STG_E_INVALIDPOINTER);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s.Read(nullptr, 5, &n), STG_E_INVALIDPOINTER);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s.size(), 10);
    EXPECT_EQ(s.position(), 8);
    EXPECT_EQ(content(s), "0123456789");
    // A count of 0 needs no buffer.
    EXPECT_EQ(s.Write(nullptr, 0, nullptr), S_OK);
    EXPECT_EQ(s.Read(nullptr, 0, nullptr), S_OK);
}

TEST(MemoryStream, NegativePositionWritesAndReadsNothing) {
    MemoryStream s;
    write(s, "0123456789");
    seek(s, -5, STREAM_SEEK_SET);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(write(s, "abcdefghij", &hr), 0u);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(read(s, 3), "");
    EXPECT_EQ(s.size(), 10);
    EXPECT_EQ(content(s), "0123456789");
}

TEST(MemoryStream, SetSizeNeverShrinksAndZeroEmpties) {
    MemoryStream s;
    write(s, std::string(5000, 'q'));
    ASSERT_EQ(s.capacity(), 8192);
    EXPECT_EQ(setSize(s, 1), S_OK);
    EXPECT_EQ(s.capacity(), 8192);
    EXPECT_EQ(s.size(), 5000);
    EXPECT_EQ(setSize(s, 8193), S_OK);
    EXPECT_EQ(s.capacity(), 12288);
    EXPECT_EQ(s.size(), 5000);
    EXPECT_EQ(content(s), std::string(5000, 'q'));
    EXPECT_EQ(setSize(s, 0), S_OK);
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.capacity(), 0);
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.position(), 0);
    EXPECT_EQ(read(s, 1), "");
}

// Growing tries the block in place first, then a fresh block and a copy.
TEST(MemoryStream, FailedGrowthKeepsBlockAndContent) {
    struct Case {
        int32_t failures;
        HRESULT writeResult;
        ULONG written;
        int32_t capacity;
    } cases[] = {
        {1, S_OK, 1, 8192},              // in place fails, the copy works
        {2, STG_E_MEDIUMFULL, 0, 4096},  // both fail
    };
    std::string full(4096, 'f');
    for (const Case& c : cases) {
        MemoryStream s;
        write(s, full);
        const uint8_t* before = s.data();
        s.failNextAllocations(c.failures);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(write(s, "+", &hr), c.written) << c.failures;
        EXPECT_EQ(hr, c.writeResult);
        EXPECT_EQ(s.capacity(), c.capacity);
        ASSERT_NE(s.data(), nullptr);
        EXPECT_EQ(content(s).substr(0, 4096), full);
        if (c.writeResult != S_OK) {
            EXPECT_EQ(s.data(), before);
            EXPECT_EQ(s.size(), 4096);
            EXPECT_EQ(s.position(), 4096);
        }
        // Memory is back: the same write now succeeds.
        s.rewind();
        seek(s, 4096, STREAM_SEEK_SET);
        EXPECT_EQ(write(s, "+"), 1u);
        EXPECT_EQ(content(s), full + "+");
    }
}

TEST(MemoryStream, FailedFirstAllocationLeavesTheStreamEmpty) {
    MemoryStream s;
    s.failNextAllocations(1);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(write(s, "abc", &hr), 0u);
    EXPECT_EQ(hr, STG_E_MEDIUMFULL);
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.position(), 0);
}

TEST(MemoryStream, SetSizeReportsOutOfMemory) {
    MemoryStream s;
    write(s, std::string(4096, 'k'));
    s.failNextAllocations(2);
    EXPECT_EQ(setSize(s, 4097), E_OUTOFMEMORY);
    EXPECT_EQ(s.capacity(), 4096);
    EXPECT_EQ(content(s), std::string(4096, 'k'));
    // Sizes that do not fit 31 bits cannot be had.
    EXPECT_EQ(setSize(s, 0x100000000ULL), E_OUTOFMEMORY);
    EXPECT_EQ(setSize(s, 0x80000000ULL), E_OUTOFMEMORY);
    EXPECT_EQ(s.capacity(), 4096);
    EXPECT_EQ(s.size(), 4096);
}

TEST(MemoryStream, WriteBeyond31BitsIsRefused) {
    MemoryStream s;
    write(s, "abc");
    seek(s, 0x7FFFFFF0, STREAM_SEEK_SET);
    HRESULT hr = S_OK;
    EXPECT_EQ(write(s, std::string(100, 'w'), &hr), 0u);
    EXPECT_EQ(hr, STG_E_MEDIUMFULL);
    EXPECT_EQ(s.size(), 3);
    EXPECT_EQ(s.capacity(), 4096);
}

TEST(MemoryStream, WritesAndReadsStampTheirTimes) {
    MemoryStream s;
    STATSTG first;
    s.Stat(&first, STATFLAG_NONAME);
    Sleep(20);
    write(s, "abc");
    STATSTG afterWrite;
    s.Stat(&afterWrite, STATFLAG_DEFAULT);
    EXPECT_TRUE(sameTime(afterWrite.ctime, first.ctime));
    EXPECT_GT(ticks(afterWrite.mtime), ticks(first.mtime));
    EXPECT_GE(ticks(afterWrite.atime), ticks(afterWrite.mtime));  // growing stamps access again
    EXPECT_EQ(afterWrite.cbSize.QuadPart, 3u);
    Sleep(20);
    s.rewind();
    read(s, 1);
    STATSTG afterRead;
    s.Stat(&afterRead, STATFLAG_DEFAULT);
    EXPECT_TRUE(sameTime(afterRead.mtime, afterWrite.mtime));
    EXPECT_GT(ticks(afterRead.atime), ticks(afterWrite.atime));
    EXPECT_EQ(s.Stat(nullptr, 0), E_POINTER);
}

TEST(MemoryStream, InterfacesAndUnimplementedSlots) {
    MemoryStream* s = new MemoryStream;
    for (const GUID* iid : {&comid::IUnknown, &comid::ISequentialStream, &comid::IStream}) {
        void* out = reinterpret_cast<void*>(uintptr_t(0xCAFECAFE));
        EXPECT_EQ(s->QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<IStream*>(s));
    }
    void* out = reinterpret_cast<void*>(uintptr_t(0xCAFECAFE));
    EXPECT_EQ(s->QueryInterface(comid::IPersistStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(s->QueryInterface(comid::IStream, nullptr), E_POINTER);

    IStream* clone = reinterpret_cast<IStream*>(uintptr_t(0xCAFECAFE));
    EXPECT_EQ(s->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    ULARGE_INTEGER n{};
    EXPECT_EQ(s->CopyTo(nullptr, n, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(s->Commit(0), E_NOTIMPL);
    EXPECT_EQ(s->Revert(), E_NOTIMPL);
    EXPECT_EQ(s->LockRegion(n, n, 0), E_NOTIMPL);
    EXPECT_EQ(s->UnlockRegion(n, n, 0), E_NOTIMPL);

    // Three QueryInterface references plus the creator's.
    EXPECT_EQ(s->AddRef(), 5u);
    EXPECT_EQ(s->Release(), 4u);
    for (int i = 0; i < 3; ++i) s->Release();
    EXPECT_EQ(s->Release(), 1u);  // one too many can't take the creator's share
    s->disown();
}

TEST(MemoryStream, TheStreamGoesWhenItsCreatorAndEveryHolderHaveLetGo) {
    struct Probe : MemoryStream {
        explicit Probe(bool* gone) : gone(gone) {}
        ~Probe() override { *gone = true; }
        bool* gone;
    };
    for (bool creatorFirst : {true, false}) {
        SCOPED_TRACE(creatorFirst);
        bool gone = false;
        Probe* p = new Probe(&gone);
        write(*p, "abc");
        HGLOBAL block = GlobalHandle(p->data());
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GlobalSize(block), 4096u);
        EXPECT_EQ(p->AddRef(), 2u);  // a filter's reference
        if (creatorFirst) {
            p->disown();
            EXPECT_FALSE(gone);
            EXPECT_EQ(p->Release(), 0u);
        } else {
            EXPECT_EQ(p->Release(), 1u);
            EXPECT_EQ(p->Release(), 1u);  // a filter's extra release
            EXPECT_FALSE(gone);
            p->disown();
        }
        EXPECT_TRUE(gone);
    }
}

}  // namespace
