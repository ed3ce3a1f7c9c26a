// The test filter DLL, driven through COM as the module drives it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Fakes.h"
#include "guard/Guard.h"
#include "testfilter/TestFilterControl.h"

using fakes::FakeEventList;
using fakes::FakeHostContext;
using fakes::FakePageSite;
using fakes::FakeShortEventList;
using Lines = std::vector<std::string>;

namespace {

constexpr uint32_t Sentinel = 0xCAFECAFE;

struct ComEnvironment : ::testing::Environment {
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};
const auto* comEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

// A registry key opened for reading, closed when it goes.
struct Key {
    HKEY key = nullptr;
    explicit Key(const std::string& path) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) key = nullptr;
    }
    ~Key() {
        if (key) RegCloseKey(key);
    }
    bool exists() const { return key != nullptr; }
    // The text value, or "<none>" when it is missing.
    std::string text(const char* name) const {
        char buffer[MAX_PATH] = {};
        DWORD size = sizeof buffer - 1, type = 0;
        if (!key || RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
                        ERROR_SUCCESS || type != REG_SZ)
            return "<none>";
        return buffer;
    }
};

// A top-level window to parent pages, destroyed when it goes. Hidden: hiding a mapped
// window costs seconds under a display without window manager.
struct Window {
    HWND hwnd = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    ~Window() {
        if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    }
};

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h) CloseHandle(h);
    }
};

std::string guidText(const GUID& g) {
    wchar_t wide[40];
    StringFromGUID2(g, wide, 40);
    char text[40];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, 40, nullptr, nullptr);
    return text;
}

std::string classKey(const GUID& g) { return "Software\\Classes\\CLSID\\" + guidText(g); }
std::string filterKey(const GUID& g) { return "Software\\Cakewalk Music Software\\MIDI Filters\\" + guidText(g); }

std::string loadedPath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

ComRef<IStream> memoryStream(const std::vector<uint8_t>& bytes = {}) {
    ComRef<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.put());
    if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    return s;
}

std::vector<uint8_t> streamBytes(IStream* s) {
    STATSTG stat{};
    s->Stat(&stat, STATFLAG_NONAME);
    std::vector<uint8_t> bytes(stat.cbSize.LowPart);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!bytes.empty()) s->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    return bytes;
}

class TestFilterTest : public ::testing::Test {
protected:
    TestFilterControl ctl;

    void SetUp() override {
        ASSERT_TRUE(ctl.ok()) << ctl.path();
        ASSERT_EQ(ctl.registerServer(), S_OK);
        ctl.reset();
    }
    void TearDown() override {
        // Nothing a test made outlives it.
        TfCounts c = ctl.counts();
        EXPECT_EQ(c.filtersAlive, 0);
        EXPECT_EQ(c.pagesAlive, 0);
        EXPECT_EQ(c.pageWindowsAlive, 0);
        EXPECT_EQ(c.hostRefsHeld, 0);
        EXPECT_EQ(c.siteRefsHeld, 0);
        EXPECT_EQ(c.objectRefsHeld, 0);
    }

    ComRef<IMfxFilterPlugin> create(const GUID& clsid = CLSID_TestFilter1) {
        ComRef<IMfxFilterPlugin> f;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin, f.putVoid()), S_OK);
        return f;
    }
    ComRef<IPropertyPage> createPage(const GUID& clsid = CLSID_TestFilterPage1) {
        ComRef<IPropertyPage> p;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, comid::IPropertyPage, p.putVoid()), S_OK);
        return p;
    }
    template <class I>
    ComRef<I> query(IUnknown* u, const GUID& iid) {
        ComRef<I> r;
        u->QueryInterface(iid, r.putVoid());
        return r;
    }
};

TEST_F(TestFilterTest, RegisterServerWritesClassAndFilterKeysAndUnregisterRemovesThem) {
    const std::string dll = loadedPath(ctl.module());
    struct Case {
        const GUID* clsid;
        const char* name;
        bool filter;
    } cases[] = {{&CLSID_TestFilter1, "Test Filter 1", true},
                 {&CLSID_TestFilter2, "Test Filter 2", true},
                 {&CLSID_TestFilter3, "Test Filter 3", true},
                 {&CLSID_TestFilterPage1, "Test Filter Page 1", false},
                 {&CLSID_TestFilterPage2, "Test Filter Page 2", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Key(classKey(*c.clsid)).text(nullptr), c.name);
        Key server(classKey(*c.clsid) + "\\InprocServer32");
        EXPECT_EQ(server.text(nullptr), dll);
        EXPECT_EQ(server.text("ThreadingModel"), "Both");
        EXPECT_EQ(Key(filterKey(*c.clsid)).exists(), c.filter);
    }
    ASSERT_EQ(ctl.unregisterServer(), S_OK);
    for (const Case& c : cases) {
        EXPECT_FALSE(Key(classKey(*c.clsid)).exists()) << c.name;
        EXPECT_FALSE(Key(filterKey(*c.clsid)).exists()) << c.name;
    }
    ComRef<IMfxFilterPlugin> none;
    EXPECT_EQ(CoCreateInstance(CLSID_TestFilter1, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin, none.putVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(TestFilterTest, RegsvrRegistersThroughDllRegisterServer) {
    ASSERT_EQ(ctl.unregisterServer(), S_OK);
    ASSERT_FALSE(Key(filterKey(CLSID_TestFilter2)).exists());
    std::string command = "regsvr32.exe /s \"" + loadedPath(ctl.module()) + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    Handle process{pi.hProcess}, thread{pi.hThread};
    ASSERT_EQ(WaitForSingleObject(process.h, 60000), WAIT_OBJECT_0);
    DWORD code = Sentinel;
    GetExitCodeProcess(process.h, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(Key(filterKey(CLSID_TestFilter2)).exists());
    EXPECT_EQ(Key(classKey(CLSID_TestFilter2)).text(nullptr), "Test Filter 2");
}

TEST_F(TestFilterTest, RegisterHelperWritesVariantsAndAnyClassOfTheRangeIsCreatable) {
    ASSERT_EQ(ctl.Register(&CLSID_TestFilterSpare, "ignored", TfRegClassKey | TfRegInproc | TfRegMfxKey), S_OK);
    EXPECT_TRUE(Key(classKey(CLSID_TestFilterSpare)).exists());
    EXPECT_EQ(Key(classKey(CLSID_TestFilterSpare)).text(nullptr), "<none>");
    EXPECT_TRUE(Key(filterKey(CLSID_TestFilterSpare)).exists());
    {
        ComRef<IMfxFilterPlugin> f = create(CLSID_TestFilterSpare);
        ASSERT_TRUE(f);
        ComRef<IPersistStream> persist = query<IPersistStream>(f.get(), comid::IPersistStream);
        CLSID id{};
        ASSERT_EQ(persist->GetClassID(&id), S_OK);
        EXPECT_TRUE(IsEqualGUID(id, CLSID_TestFilterSpare));
    }
    ASSERT_EQ(ctl.Unregister(&CLSID_TestFilterSpare), S_OK);
    EXPECT_FALSE(Key(classKey(CLSID_TestFilterSpare)).exists());
    EXPECT_FALSE(Key(filterKey(CLSID_TestFilterSpare)).exists());
}

TEST_F(TestFilterTest, EachFilterClassCreatesAnObjectThatLogsCreationAndDestruction) {
    for (const GUID* clsid : {&CLSID_TestFilter1, &CLSID_TestFilter2, &CLSID_TestFilter3}) {
        ctl.reset();
        ComRef<IMfxFilterPlugin> f = create(*clsid);
        ASSERT_TRUE(f);
        EXPECT_EQ(ctl.counts().filtersAlive, 1);
        f.reset();
        EXPECT_EQ(ctl.log(), (Lines{"create", "destroy"}));
        EXPECT_TRUE(IsEqualGUID(ctl.entry(1).clsid, *clsid));
        EXPECT_EQ(ctl.entry(1).object, 1);
        EXPECT_EQ(ctl.counts().filtersCreated, 1);
    }
}

TEST_F(TestFilterTest, CreationFailsWithTheScriptedResult) {
    ctl.SetResult(TfCreate, E_OUTOFMEMORY);
    ComRef<IMfxFilterPlugin> f;
    EXPECT_EQ(CoCreateInstance(CLSID_TestFilter1, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin, f.putVoid()),
              E_OUTOFMEMORY);
    EXPECT_FALSE(f);
    EXPECT_EQ(ctl.counts().filtersCreated, 0);
}

TEST_F(TestFilterTest, OptionalInterfacesFollowTheScript) {
    struct Case {
        int32_t flags;
        bool output, pages, persist;
    } cases[] = {{TfHasAll, true, true, true},
                 {0, false, false, false},
                 {TfHasOutputConnect, true, false, false},
                 {TfHasPropertyPages | TfHasPersistStream, false, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        ctl.SetInterfaces(c.flags);
        ComRef<IMfxFilterPlugin> f = create();
        EXPECT_EQ(bool(query<IMfxOutputConnect>(f.get(), mfxid::IMfxOutputConnect)), c.output);
        EXPECT_EQ(bool(query<ISpecifyPropertyPages>(f.get(), comid::ISpecifyPropertyPages)), c.pages);
        EXPECT_EQ(bool(query<IPersistStream>(f.get(), comid::IPersistStream)), c.persist);
        EXPECT_FALSE(query<IUnknown>(f.get(), mfxid::IMfxEventList));
    }
}

TEST_F(TestFilterTest, QueriesAreLoggedOnlyWhenAskedFor) {
    ComRef<IMfxFilterPlugin> f = create();
    query<IMfxOutputConnect>(f.get(), mfxid::IMfxOutputConnect);
    ctl.SetLogQueries(1);
    query<IPersistStream>(f.get(), comid::IPersistStream);
    query<IUnknown>(f.get(), mfxid::IMfxEventList);
    EXPECT_EQ(ctl.log({TfQueryInterface}),
              (Lines{"QueryInterface(IPersistStream)", "QueryInterface({FF76F7C2-F166-11D1-A8E0-0000A0090DAF})"}));
}

TEST_F(TestFilterTest, FilterEventsAppliesTheModeAndAddsFixedOutput) {
    const MfxEvent a = fakes::note(0, 60, 100, 120), b = fakes::note(240, 125, 90, 60);
    MfxEvent controller{};
    controller.time = 300;
    controller.type = MfxController;
    controller.data[0] = 7;
    controller.data[1] = 100;
    const MfxEvent fixed = fakes::note(10, 1, 2, 3);
    MfxEvent aUp = a, bUp = b;
    aUp.data[0] = 65;
    bUp.data[0] = 127;  // clamped
    struct Case {
        int32_t mode, transpose;
        HRESULT result;
        std::vector<MfxEvent> out;
    } cases[] = {{TfPassThrough, 5, S_OK, {a, b, controller, fixed}},
                 {TfTranspose, 5, S_OK, {aUp, bUp, controller, fixed}},
                 {TfSwallow, 0, E_FAIL, {fixed}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ctl.reset();
        ctl.SetMode(c.mode, c.transpose);
        ctl.SetResult(TfFilterEvents, c.result);
        ctl.AddOutput(TfFilterEvents, &fixed);
        ComRef<IMfxFilterPlugin> f = create();
        FakeEventList in, out;
        in.events = {a, b, controller};
        EXPECT_EQ(f->filterEvents(0, 479, &in, &out), c.result);
        EXPECT_EQ(out.events, c.out);
        EXPECT_EQ(ctl.log(), (Lines{"create", "filterEvents(0,479)"}));
        EXPECT_EQ(ctl.entry(1).args[0], 0);
        EXPECT_EQ(ctl.entry(1).args[1], 479);
        EXPECT_EQ(ctl.events(1), in.events);
        EXPECT_EQ(in.refs, 1);
        EXPECT_EQ(out.refs, 1);
    }
}

TEST_F(TestFilterTest, FilterLiveEventsTransposesNotesAndAddsFixedShortOutput) {
    const MfxShortEvent on = fakes::shortEvent(5, 0x91, 60, 100), wheel = fakes::shortEvent(6, 0xE0, 0, 64);
    const MfxShortEvent extra = fakes::shortEvent(0, 0xB0, 7, 1);
    ctl.SetMode(TfTranspose, -12);
    ctl.AddShortOutput(&extra);
    ComRef<IMfxFilterPlugin> f = create();
    FakeShortEventList in, out, emptyIn, emptyOut;
    in.events = {on, wheel};
    EXPECT_EQ(f->filterLiveEvents(&in, &out), S_OK);
    EXPECT_EQ(f->filterLiveEvents(&emptyIn, &emptyOut), S_OK);
    MfxShortEvent down = on;
    down.data1 = 48;
    EXPECT_EQ(out.events, (std::vector<MfxShortEvent>{down, wheel, extra}));
    EXPECT_EQ(emptyOut.events, (std::vector<MfxShortEvent>{extra}));
    EXPECT_EQ(ctl.log(), (Lines{"create", "filterLiveEvents", "filterLiveEvents"}));
    EXPECT_EQ(ctl.shortEvents(1), in.events);
    EXPECT_EQ(ctl.entry(2).shortCount, 0);
}

TEST_F(TestFilterTest, PlaybackNotificationsOutputTheirFixedEventsAndSysexBlocks) {
    const MfxEvent begin = fakes::note(0, 1, 1, 1), loop = fakes::note(0, 2, 2, 2), end = fakes::note(0, 3, 3, 3);
    ctl.AddOutput(TfBeginPlayback, &begin);
    ctl.AddOutput(TfLoopPlayback, &loop);
    ctl.AddOutput(TfEndPlayback, &end);
    const uint8_t sysex[] = {0xF0, 0x7E, 0x01, 0xF7};
    ctl.AddSysexOutput(TfEndPlayback, 77, sysex, sizeof sysex);
    ctl.SetResult(TfLoopPlayback, E_NOTIMPL);
    ComRef<IMfxFilterPlugin> f = create();
    fakes::FakeAllocator allocator;
    FakeEventList b, l, e;
    e.alloc = &allocator;
    EXPECT_EQ(f->beginPlayback(100, &b), S_OK);
    EXPECT_EQ(f->loopPlayback(0, 1000, &l), E_NOTIMPL);
    EXPECT_EQ(f->endPlayback(1500, &e), S_OK);
    EXPECT_EQ(ctl.log(), (Lines{"create", "beginPlayback(100)", "loopPlayback(0,1000)", "endPlayback(1500)"}));
    EXPECT_EQ(b.events, (std::vector<MfxEvent>{begin}));
    EXPECT_EQ(l.events, (std::vector<MfxEvent>{loop}));
    ASSERT_EQ(e.events.size(), 2u);
    EXPECT_EQ(e.events[0], end);
    EXPECT_EQ(e.events[1].type, MfxSysex);
    EXPECT_EQ(e.events[1].time, 77);
    ASSERT_EQ(mfxdata::blockHandle(e.events[1]), 1u);
    EXPECT_EQ(allocator.blocks[0], std::vector<uint8_t>(sysex, sysex + sizeof sysex));
    EXPECT_EQ(allocator.refs, 1);
}

TEST_F(TestFilterTest, AttachHostQueriesTheHostRunsActionsAndHoldsItUntilDetach) {
    MfxEvent sent = fakes::note(42, 60, 1, 0);
    ctl.AddAction(TfAttachHost, TfActionQueryHost, nullptr);
    ctl.AddAction(TfAttachHost, TfActionStartTimer, nullptr);
    ctl.SetProbeTime(480);
    FakeHostContext host;
    {
        ComRef<IMfxFilterPlugin> f = create();
        ASSERT_EQ(f->attachHost(static_cast<IMfxTempoQuery*>(&host)), S_OK);
        EXPECT_EQ(host.refs, 2);
        EXPECT_EQ(ctl.counts().hostRefsHeld, 1);
        TfHostInfo h = ctl.hostInfo();
        EXPECT_EQ(h.queries, 1);
        EXPECT_EQ(h.qiResult[0], S_OK);
        EXPECT_EQ(h.qiResult[1], E_NOINTERFACE);
        EXPECT_EQ(h.qiResult[4], S_OK);
        EXPECT_EQ(h.timeBase, 960);
        EXPECT_EQ(h.tempoCount, 4);
        EXPECT_EQ(h.toRealTime, 240);
        EXPECT_EQ(h.fromRealTime, 960);
        EXPECT_EQ(h.tempoEntryResult, S_OK);
        EXPECT_EQ(h.tempoEntryTime, 1234);
        EXPECT_EQ(h.tempoEntryTempo, 499999);
        EXPECT_EQ(static_cast<uint32_t>(h.measure), Sentinel);  // no meter interface
        EXPECT_EQ(h.timerPeriod, 20);
        EXPECT_EQ(ctl.StopTimer(), S_OK);
        EXPECT_EQ(ctl.SendEvent(&sent), S_OK);
        EXPECT_EQ(host.calls, (Lines{"startTimer", "stopTimer", "sendEvent"}));
        EXPECT_EQ(host.sent, (std::vector<MfxEvent>{sent}));
        EXPECT_EQ(f->detachHost(), S_OK);
        EXPECT_EQ(host.refs, 1);
        EXPECT_EQ(ctl.StartTimer(), E_UNEXPECTED);
        EXPECT_EQ(ctl.log(), (Lines{"create", "attachHost(host)", "detachHost"}));
    }
    EXPECT_EQ(host.refs, 1);
}

TEST_F(TestFilterTest, RefusedAttachHoldsNoHost) {
    ctl.SetResult(TfAttachHost, E_FAIL);
    FakeHostContext host;
    ComRef<IMfxFilterPlugin> f = create();
    EXPECT_EQ(f->attachHost(static_cast<IMfxTempoQuery*>(&host)), E_FAIL);
    EXPECT_EQ(host.refs, 1);
    const MfxEvent e = fakes::note(0, 1, 1, 1);
    EXPECT_EQ(ctl.SendEvent(&e), E_UNEXPECTED);
}

TEST_F(TestFilterTest, EventOutputFromSetEventOutputCarriesScriptedSends) {
    MfxEvent sent = fakes::note(7, 61, 2, 0);
    ctl.AddAction(TfFilterEvents, TfActionSendEvent, &sent);
    FakeHostContext host, output;
    ComRef<IMfxFilterPlugin> f = create();
    ComRef<IMfxOutputConnect> connect = query<IMfxOutputConnect>(f.get(), mfxid::IMfxOutputConnect);
    ASSERT_EQ(f->attachHost(static_cast<IMfxTempoQuery*>(&host)), S_OK);
    ASSERT_EQ(connect->setEventOutput(static_cast<IMfxEventOutput*>(&output)), S_OK);
    FakeEventList in, out;
    f->filterEvents(0, 9, &in, &out);
    EXPECT_EQ(output.sent, (std::vector<MfxEvent>{sent}));
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(connect->setEventOutput(nullptr), S_OK);
    EXPECT_EQ(output.refs, 1);
    f->detachHost();
    EXPECT_EQ(ctl.log(), (Lines{"create", "attachHost(host)", "setEventOutput(output)", "filterEvents(0,9)",
                                "setEventOutput(null)", "detachHost"}));
}

TEST_F(TestFilterTest, GetPagesListsTheScriptedPages) {
    struct Case {
        std::vector<GUID> list;
        HRESULT result;
    } cases[] = {{{CLSID_TestFilterPage1}, S_OK},
                 {{CLSID_TestFilterPage1, CLSID_TestFilterPage2}, S_OK},
                 {{}, S_OK},
                 {{CLSID_TestFilterPage1}, E_FAIL}};
    for (const Case& c : cases) {
        ctl.reset();
        ctl.SetPageList(c.list.data(), static_cast<int32_t>(c.list.size()));
        ctl.SetResult(TfGetPages, c.result);
        ComRef<IMfxFilterPlugin> f = create();
        ComRef<ISpecifyPropertyPages> pages = query<ISpecifyPropertyPages>(f.get(), comid::ISpecifyPropertyPages);
        CAUUID got{Sentinel, reinterpret_cast<GUID*>(static_cast<uintptr_t>(Sentinel))};
        EXPECT_EQ(pages->GetPages(&got), c.result);
        std::vector<GUID> listed(got.pElems, got.pElems + got.cElems);
        EXPECT_EQ(listed.size(), c.result == S_OK ? c.list.size() : 0u);
        for (size_t i = 0; i < listed.size(); ++i) EXPECT_TRUE(IsEqualGUID(listed[i], c.list[i]));
        if (listed.empty()) {
            EXPECT_EQ(got.pElems, nullptr);
        }
        CoTaskMemFree(got.pElems);
        EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
    }
}

TEST_F(TestFilterTest, SaveWritesWhatTheScriptSays) {
    const uint8_t bytes[] = {1, 2, 3};
    struct Case {
        const char* name;
        std::function<void()> script;
        HRESULT result;
        std::vector<uint8_t> stream;
    } cases[] = {
        {"nothing", [] {}, S_OK, {}},
        {"bytes", [&] { ctl.SetSaveBytes(bytes, 3); }, S_OK, {1, 2, 3}},
        {"seek back", [&] { ctl.SetSaveMode(TfSaveSeekBack); }, S_OK, {0, 1, 0xA0, 0xA1, 0xA2, 5, 6, 7, 8, 9}},
        {"failure", [&] { ctl.SetSaveBytes(bytes, 3), ctl.SetResult(TfSave, STG_E_MEDIUMFULL); }, STG_E_MEDIUMFULL, {}},
        {"counting, the first save", [&] { ctl.RunScript("save counting"); }, S_OK, {'C', 'N', 'T', 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ctl.reset();
        c.script();
        ComRef<IMfxFilterPlugin> f = create();
        ComRef<IPersistStream> persist = query<IPersistStream>(f.get(), comid::IPersistStream);
        ComRef<IStream> s = memoryStream();
        EXPECT_EQ(persist->Save(s.get(), TRUE), c.result);
        EXPECT_EQ(streamBytes(s.get()), c.stream);
        EXPECT_EQ(ctl.log({TfSave}), (Lines{"Save(1)"}));
    }
}

// What a child process meets through the environment: the same script, as text.
TEST_F(TestFilterTest, AScriptInTextScriptsFilterEventsAsTheControlFunctionsDo) {
    MfxEvent raw{};
    raw.type = MfxShortMessage;
    raw.data[0] = 0x90;
    raw.data[1] = 0x3C;
    raw.data[2] = 0x64;
    const MfxEvent in0 = fakes::note(0, 60, 100, 120);
    struct Case {
        const char* script;
        int32_t answer;  // 0, or the first command not understood
        HRESULT result;
        std::vector<MfxEvent> out;
        DWORD code;  // of the exception raised, 0 for none, 1 for any (a fault's code varies under emulation)
    } cases[] = {
        {"result filterEvents 0x80004005", 0, E_FAIL, {in0}, 0},
        {"mode swallow ; output filterEvents 90 3C 64", 0, S_OK, {raw}, 0},
        {"mode transpose 2", 0, S_OK, {fakes::note(0, 62, 100, 120)}, 0},
        {"raise filterEvents av", 0, HRESULT(Sentinel), {}, 1},
        {"raise filterEvents cxx", 0, HRESULT(Sentinel), {}, 0xE06D7363},
        {"mode swallow; frobnicate; raise filterEvents av", 2, S_OK, {}, 0},
        {"raise nowhere av", 1, S_OK, {in0}, 0},
        {"output filterEvents 90 3C 100", 1, S_OK, {in0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ctl.reset();
        EXPECT_EQ(ctl.RunScript(c.script), c.answer);
        ComRef<IMfxFilterPlugin> f = create();
        FakeEventList in, out;
        in.events = {in0};
        HRESULT hr = HRESULT(Sentinel);
        DWORD code = 0;
        std::function<void()> call = [&] { hr = f->filterEvents(0, 479, &in, &out); };
        guard::runGuarded([](void* p) { (*static_cast<std::function<void()>*>(p))(); }, &call, &code);
        if (c.code == 1)
            EXPECT_NE(code, 0u);
        else
            EXPECT_EQ(code, c.code);
        EXPECT_EQ(hr, c.result);
        EXPECT_EQ(out.events, c.out);
    }
}

TEST_F(TestFilterTest, LoadRecordsPositionSizeAndBytesAndAnswersTheScriptedResult) {
    ComRef<IMfxFilterPlugin> f = create();
    ComRef<IPersistStream> persist = query<IPersistStream>(f.get(), comid::IPersistStream);
    ComRef<IStream> s = memoryStream({9, 8, 7, 6, 5});
    LARGE_INTEGER two{};
    two.QuadPart = 2;
    s->Seek(two, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(persist->Load(s.get()), S_OK);
    TfLoadInfo info = ctl.loadInfo();
    EXPECT_EQ(info.loads, 1);
    EXPECT_EQ(info.entryPosition, 2);
    EXPECT_EQ(info.statResult, S_OK);
    EXPECT_EQ(info.statSize, 5);
    EXPECT_EQ(ctl.loadedBytes(), (std::vector<uint8_t>{7, 6, 5}));

    ctl.SetResult(TfLoad, E_FAIL);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(persist->Load(s.get()), E_FAIL);
    EXPECT_EQ(ctl.loadedBytes(), (std::vector<uint8_t>{9, 8, 7, 6, 5}));
    EXPECT_EQ(ctl.log({TfLoad}), (Lines{"Load(pos=2,size=5,read=3)", "Load(pos=0,size=5,read=5)"}));
}

// Every scripted fault site raises both kinds, the guard catches them, and the object
// works again once the script no longer asks for the fault.
TEST_F(TestFilterTest, ScriptedExceptionsAreRaisedAtEachSiteAndCaughtByTheGuard) {
    struct Objects {
        ComRef<IMfxFilterPlugin> filter;
        ComRef<IPropertyPage> page;
        // Taken before the guarded call: a fault skips the destructors of the call's frames.
        ComRef<IMfxOutputConnect> connect;
        ComRef<ISpecifyPropertyPages> pages;
        ComRef<IPersistStream> persist;
        ComRef<IStream> stream = memoryStream();
        FakeEventList in, out;
        FakeShortEventList shortIn, shortOut;
        FakeHostContext host;
        FakePageSite site;
        RECT rect{0, 0, 10, 10};
        Window parent;
    };
    using Call = std::function<HRESULT(TestFilterTest&, Objects&)>;
    struct Case {
        int32_t site;
        const char* logged;
        Call call;
    } cases[] = {
        {TfCreate, "create",
         [](TestFilterTest&, Objects& o) {
             return CoCreateInstance(CLSID_TestFilter1, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin,
                                     o.filter.putVoid());
         }},
        {TfAttachHost, "attachHost(host)",
         [](TestFilterTest&, Objects& o) { return o.filter->attachHost(static_cast<IMfxTempoQuery*>(&o.host)); }},
        {TfDetachHost, "detachHost", [](TestFilterTest&, Objects& o) { return o.filter->detachHost(); }},
        {TfSetEventOutput, "setEventOutput(null)",
         [](TestFilterTest&, Objects& o) { return o.connect->setEventOutput(nullptr); }},
        {TfBeginPlayback, "beginPlayback(0)", [](TestFilterTest&, Objects& o) { return o.filter->beginPlayback(0, &o.out); }},
        {TfLoopPlayback, "loopPlayback(0,1)",
         [](TestFilterTest&, Objects& o) { return o.filter->loopPlayback(0, 1, &o.out); }},
        {TfEndPlayback, "endPlayback(0)", [](TestFilterTest&, Objects& o) { return o.filter->endPlayback(0, &o.out); }},
        {TfFilterEvents, "filterEvents(0,1)",
         [](TestFilterTest&, Objects& o) { return o.filter->filterEvents(0, 1, &o.in, &o.out); }},
        {TfFilterLiveEvents, "filterLiveEvents",
         [](TestFilterTest&, Objects& o) { return o.filter->filterLiveEvents(&o.shortIn, &o.shortOut); }},
        {TfGetPages, "GetPages",
         [](TestFilterTest&, Objects& o) {
             CAUUID pages{};
             HRESULT hr = o.pages->GetPages(&pages);
             CoTaskMemFree(pages.pElems);
             return hr;
         }},
        {TfSave, "Save(1)", [](TestFilterTest&, Objects& o) { return o.persist->Save(o.stream.get(), TRUE); }},
        {TfLoad, "Load(pos=0,size=0,read=0)",
         [](TestFilterTest&, Objects& o) {
             LARGE_INTEGER zero{};
             o.stream->Seek(zero, STREAM_SEEK_SET, nullptr);
             o.stream->SetSize(ULARGE_INTEGER{});
             return o.persist->Load(o.stream.get());
         }},
        {TfDestroy, "destroy",
         [](TestFilterTest&, Objects& o) {
             o.filter.reset();
             return S_OK;
         }},
        {TfPageCreate, "page.create",
         [](TestFilterTest&, Objects& o) {
             return CoCreateInstance(CLSID_TestFilterPage1, nullptr, CLSCTX_INPROC_SERVER, comid::IPropertyPage,
                                     o.page.putVoid());
         }},
        {TfPageSetPageSite, "page.SetPageSite(null)",
         [](TestFilterTest&, Objects& o) { return o.page->SetPageSite(nullptr); }},
        {TfPageActivate, "page.Activate(0,0,10,10,0)",
         [](TestFilterTest&, Objects& o) {
             HRESULT hr = o.page->Activate(o.parent.hwnd, &o.rect, FALSE);
             o.page->Deactivate();
             return hr;
         }},
        {TfPageDeactivate, "page.Deactivate", [](TestFilterTest&, Objects& o) { return o.page->Deactivate(); }},
        {TfPageGetPageInfo, "page.GetPageInfo(28)",
         [](TestFilterTest&, Objects& o) {
             PROPPAGEINFO info{};
             info.cb = 28;
             HRESULT hr = o.page->GetPageInfo(&info);
             CoTaskMemFree(info.pszTitle);
             CoTaskMemFree(info.pszDocString);
             CoTaskMemFree(info.pszHelpFile);
             return hr;
         }},
        {TfPageSetObjects, "page.SetObjects(0,filter#0)",
         [](TestFilterTest&, Objects& o) { return o.page->SetObjects(0, nullptr); }},
        {TfPageShow, "page.Show(5)", [](TestFilterTest&, Objects& o) { return o.page->Show(SW_SHOW); }},
        {TfPageMove, "page.Move(0,0,10,10)", [](TestFilterTest&, Objects& o) { return o.page->Move(&o.rect); }},
        {TfPageApply, "page.Apply", [](TestFilterTest&, Objects& o) { return o.page->Apply(); }},
        {TfPageDestroy, "page.destroy",
         [](TestFilterTest&, Objects& o) {
             o.page.reset();
             return S_OK;
         }},
    };
    const struct {
        int32_t kind;
        DWORD code;
    } kinds[] = {{TfRaiseAccessViolation, EXCEPTION_ACCESS_VIOLATION}, {TfRaiseCxxSeh, 0xE06D7363}};
    for (const Case& c : cases) {
        for (const auto& k : kinds) {
            SCOPED_TRACE(std::string(c.logged) + " kind " + std::to_string(k.kind));
            ctl.reset();
            Objects o;
            if (c.site != TfCreate) o.filter = create();
            if (c.site != TfCreate && c.site != TfDestroy) {
                o.connect = query<IMfxOutputConnect>(o.filter.get(), mfxid::IMfxOutputConnect);
                o.pages = query<ISpecifyPropertyPages>(o.filter.get(), comid::ISpecifyPropertyPages);
                o.persist = query<IPersistStream>(o.filter.get(), comid::IPersistStream);
            }
            if (c.site > TfPageCreate) o.page = createPage();
            ctl.ClearLog();
            ctl.SetRaise(c.site, k.kind);
            bool returned = guard::call([&] { c.call(*this, o); });
            EXPECT_FALSE(returned);
            EXPECT_EQ(guard::lastCaughtCode(), k.code);
            EXPECT_EQ(ctl.log(), (Lines{c.logged}));
            // Without the fault the same call returns normally (for the object-making sites,
            // on the objects made anew).
            ctl.SetRaise(c.site, TfRaiseNone);
            if (c.site == TfCreate || c.site == TfDestroy) o.filter.reset();
            if (c.site == TfPageCreate || c.site == TfPageDestroy) o.page.reset();
            if (c.site == TfDestroy) o.filter = create();
            if (c.site == TfPageDestroy) o.page = createPage();
            EXPECT_TRUE(guard::call([&] { c.call(*this, o); }));
            if (o.page) o.page->SetPageSite(nullptr);
            if (o.filter) o.filter->detachHost();
            o.connect.reset();
            o.pages.reset();
            o.persist.reset();
        }
    }
}

TEST_F(TestFilterTest, PageShowsAChildWindowWithAnEditControlUnderTheParent) {
    ctl.SetPageSize(400, 300);
    Window parent;
    ASSERT_TRUE(parent.hwnd);
    FakePageSite site;
    ComRef<IMfxFilterPlugin> f = create();
    ComRef<IPropertyPage> page = createPage();

    EXPECT_EQ(page->SetPageSite(&site), S_OK);
    EXPECT_EQ(site.refs, 2);
    IUnknown* object = f.get();
    EXPECT_EQ(page->SetObjects(1, &object), S_OK);
    EXPECT_EQ(ctl.counts().objectRefsHeld, 1);
    PROPPAGEINFO info{};
    info.cb = 28;
    EXPECT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.size.cx, 400);
    EXPECT_EQ(info.size.cy, 300);
    ASSERT_TRUE(info.pszTitle && info.pszDocString && info.pszHelpFile);
    EXPECT_EQ(std::wstring(info.pszTitle), L"Test Filter");
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);

    RECT rect{0, 0, 400, 300};
    EXPECT_EQ(page->Activate(parent.hwnd, &rect, FALSE), S_OK);
    HWND window = ctl.PageWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(GetParent(window), parent.hwnd);
    auto shown = [&] { return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_FALSE(shown());
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    HWND edit = ctl.PageEdit();
    ASSERT_TRUE(edit);
    EXPECT_EQ(GetParent(edit), window);
    char cls[16] = {};
    GetClassNameA(edit, cls, sizeof cls);
    EXPECT_STRCASEEQ(cls, "Edit");
    EXPECT_EQ(ctl.counts().pageWindowsAlive, 1);

    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_TRUE(shown());
    EXPECT_EQ(page->Show(SW_HIDE), S_OK);
    EXPECT_FALSE(shown());
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ctl.PageWindow(), nullptr);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1);
    page.reset();
    EXPECT_EQ(ctl.log(), (Lines{"create", "page.create", "page.SetPageSite(site)", "page.SetObjects(1,filter#1)",
                                "page.GetPageInfo(28)", "page.Activate(0,0,400,300,0)", "page.Show(5)",
                                "page.Show(0)", "page.Deactivate", "page.SetObjects(0,filter#0)",
                                "page.SetPageSite(null)", "page.destroy"}));
    EXPECT_EQ(ctl.entry(5).args[5], static_cast<int32_t>(reinterpret_cast<uintptr_t>(parent.hwnd)));
}

TEST_F(TestFilterTest, KeyMessagesPostedToThePageEditAreLogged) {
    Window parent;
    ComRef<IPropertyPage> page = createPage();
    RECT rect{0, 0, 320, 240};
    ASSERT_EQ(page->Activate(parent.hwnd, &rect, FALSE), S_OK);
    HWND edit = ctl.PageEdit();
    ASSERT_TRUE(edit);
    PostMessageA(edit, WM_KEYDOWN, 0x41, 0);
    PostMessageA(edit, WM_CHAR, 'a', 0);
    PostMessageA(edit, WM_KEYUP, VK_LEFT, 256);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(ctl.log({TfPageKey}), (Lines{"page.keyDown(65,0)", "page.char(97,0)", "page.keyUp(37,256)"}));
    EXPECT_EQ(ctl.entry(ctl.LogCount() - 1).object, 1);
    page->Deactivate();
}

TEST_F(TestFilterTest, PageReleasedWhileActiveGivesBackItsWindowSiteAndObject) {
    Window parent;
    FakePageSite site;
    ComRef<IMfxFilterPlugin> f = create();
    ComRef<IPropertyPage> page = createPage();
    IUnknown* object = f.get();
    page->SetPageSite(&site);
    page->SetObjects(1, &object);
    RECT rect{0, 0, 320, 240};
    ASSERT_EQ(page->Activate(parent.hwnd, &rect, FALSE), S_OK);
    HWND window = ctl.PageWindow();
    page.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site.refs, 1);
    EXPECT_EQ(ctl.counts().objectRefsHeld, 0);
}

TEST_F(TestFilterTest, PageWindowGoesWithItsParent) {
    ComRef<IPropertyPage> page = createPage();
    {
        Window parent;
        RECT rect{0, 0, 320, 240};
        ASSERT_EQ(page->Activate(parent.hwnd, &rect, FALSE), S_OK);
        EXPECT_EQ(ctl.counts().pageWindowsAlive, 1);
    }
    EXPECT_EQ(ctl.counts().pageWindowsAlive, 0);
    EXPECT_EQ(page->Deactivate(), S_OK);
    RECT rect{0, 0, 1, 1};
    EXPECT_EQ(page->Activate(nullptr, &rect, FALSE), E_INVALIDARG);
}

// A fault raised through CoCreateInstance leaks the class factory COM was holding, and a
// live factory keeps the DLL loaded; the answer is compared with the one before.
TEST_F(TestFilterTest, CanUnloadNotWhileAFilterOrPageIsAlive) {
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(ctl.module(), "DllCanUnloadNow")));
    ASSERT_TRUE(canUnload);
    const HRESULT before = canUnload();
    EXPECT_EQ(before, ctl.counts().factoriesAlive ? S_FALSE : S_OK);
    {
        ComRef<IMfxFilterPlugin> f = create();
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), before);
    {
        ComRef<IPropertyPage> p = createPage();
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), before);
    EXPECT_EQ(ctl.counts().canUnloadCalls, 5);
}

}  // namespace
