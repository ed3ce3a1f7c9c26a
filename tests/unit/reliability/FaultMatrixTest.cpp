// Every place the module calls filter or page code, under every fault the test filter can
// raise, and under every way it can misbehave there: the host survives, the result is the
// documented one, the instance stays usable or goes cleanly, and the host's accounting
// shows no lost or twice-given-back event.
#include <cstdio>
#include <iterator>
#include <map>
#include <vector>

#include "WarningCatcher.h"
#include "unit/instance/ModuleFixture.h"

namespace {

using namespace fixture;

enum Kind { FailResult, AccessViolation, CxxSeh, FaultKinds, OverRelease = FaultKinds, Keep, Reenter, Garbage,
            PageSize, Kinds };
const char* const kFaultNames[Kinds] = {"failure result", "access violation", "0xE06D7363", "over-release",
                                        "keep and use",   "re-enter host",    "garbage out", "page size"};
const int32_t kMisbehaviours[Kinds] = {0, 0, 0, TfMisOverRelease, TfMisKeep, TfMisReenter, TfMisGarbage,
                                       TfMisPageSize};

struct Site {
    int32_t site;
    const char* name;
};
const Site kSites[] = {
    {TfCreate, "creation/probe"},     {TfAttachHost, "attachHost"},
    {TfDetachHost, "detachHost"},     {TfSetEventOutput, "setEventOutput"},
    {TfBeginPlayback, "beginPlayback"}, {TfLoopPlayback, "loopPlayback"},
    {TfEndPlayback, "endPlayback"},   {TfFilterEvents, "filterEvents"},
    {TfFilterLiveEvents, "filterLiveEvents"}, {TfGetPages, "GetPages"},
    {TfPageCreate, "page creation"},  {TfPageSetPageSite, "page.SetPageSite"},
    {TfPageSetObjects, "page.SetObjects"}, {TfPageGetPageInfo, "page.GetPageInfo"},
    {TfPageActivate, "page.Activate"}, {TfPageShow, "page.Show"},
    {TfPageDeactivate, "page.Deactivate"}, {TfPageMove, "page.Move"},
    {TfPageDestroy, "page final Release"}, {TfLoad, "Load"},
    {TfSave, "Save"},                 {TfIsDirty, "IsDirty"},
    {TfGetSizeMax, "GetSizeMax"},     {TfGetClassID, "GetClassID"},
    {TfDestroy, "filter final Release"},
};

bool isPageSite(int32_t s) { return s >= TfPageCreate && s <= TfPageDestroy; }

struct Cell {
    int held = 0, checks = 0;
    bool reached = false;
};

// The misbehaviours each site can show: those with interface arguments can over-release or
// keep them (not the filter's own object that SetObjects gets back: its count is the
// filter's), those that output can output garbage, and any can call the host back.
struct MisbehavingSite {
    Site site;
    std::vector<int> kinds;
};
const MisbehavingSite kMisbehavingSites[] = {
    {{TfAttachHost, "attachHost"}, {OverRelease, Keep, Reenter}},
    {{TfDetachHost, "detachHost"}, {Reenter}},
    {{TfSetEventOutput, "setEventOutput"}, {OverRelease, Keep, Reenter}},
    {{TfBeginPlayback, "beginPlayback"}, {OverRelease, Keep, Reenter, Garbage}},
    {{TfLoopPlayback, "loopPlayback"}, {OverRelease, Keep, Reenter, Garbage}},
    {{TfEndPlayback, "endPlayback"}, {OverRelease, Keep, Reenter, Garbage}},
    {{TfFilterEvents, "filterEvents"}, {OverRelease, Keep, Reenter, Garbage}},
    {{TfFilterLiveEvents, "filterLiveEvents"}, {OverRelease, Keep, Reenter, Garbage}},
    {{TfLoad, "Load"}, {OverRelease, Keep, Reenter}},
    {{TfSave, "Save"}, {OverRelease, Keep, Reenter}},
    {{TfPageSetPageSite, "page.SetPageSite"}, {OverRelease, Keep}},
    {{TfPageSetObjects, "page.SetObjects"}, {Keep}},
    {{TfPageGetPageInfo, "page.GetPageInfo"}, {PageSize}},
};

// Counts each check for the table and reports the ones that failed.
class Checks {
public:
    Checks(Cell* cell, const char* site, int fault) : cell_(cell), site_(site), fault_(fault) {}
    void operator()(bool ok, const char* what, int line) {
        ++cell_->checks;
        if (ok)
            ++cell_->held;
        else
            ADD_FAILURE_AT(__FILE__, line) << site_ << " / " << kFaultNames[fault_] << ": " << what;
    }

private:
    Cell* cell_;
    const char* site_;
    int fault_;
};
#define HOLDS(c) check((c), #c, __LINE__)

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(control.ok()) << control.path();
    }
    void TearDown() override {
        control.Reset();
        control.Unregister(&CLSID_TestFilter1);
        control.Unregister(&CLSID_TestFilterPage1);
        clearRegistrations();
        CoUninitialize();
    }

    void arm(int32_t site, int fault) {
        if (fault == FailResult)
            control.SetResult(site, E_FAIL);
        else if (fault < FaultKinds)
            control.SetRaise(site, fault == AccessViolation ? TfRaiseAccessViolation : TfRaiseCxxSeh);
        else
            control.SetMisbehave(site, kMisbehaviours[fault]);
    }
    void disarm(int32_t site) {
        control.SetResult(site, S_OK);
        control.SetRaise(site, TfRaiseNone);
        control.SetMisbehave(site, TfMisNone);
    }
    bool logged(int32_t site) { return !control.log({site}).empty(); }

    void runCell(const Site& s, int fault, Cell* cell);

    TestFilterControl control;
};

void FaultMatrix::runCell(const Site& s, int fault, Cell* cell) {
    Checks check(cell, s.name, fault);
    const bool raises = fault == AccessViolation || fault == CxxSeh;
    // Whether the call at this site fails; a misbehaving filter still answers S_OK.
    auto failsAt = [&](int32_t site) { return fault < FaultKinds && s.site == site; };
    control.Reset();
    clearRegistrations();
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilter1, "Test Filter 1", TfRegAll));
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilterPage1, "Test Filter Page 1",
                                     TfRegClassKey | TfRegName | TfRegInproc));
    const std::string clsid = clsidText(CLSID_TestFilter1);
    const TfCounts before = control.counts();

    if (s.site == TfCreate) {
        // The probe at load: the class is left out and the verdict cached as 0; with no
        // other class the module refuses to load.
        arm(s.site, fault);
        {
            LoadedModule probing;
            HOLDS(!probing.loaded());
            std::string verdict;
            HOLDS(readText(kVerified, clsid.c_str(), &verdict) && verdict == "0");
        }
        cell->reached = logged(TfCreate);
        // A cached verdict of 1: createInstance fails and writes a null.
        setText(kVerified, clsid.c_str(), "1");
        {
            LoadedModule cached;
            void* out = reinterpret_cast<void*>(0xCAFECAFE);
            HRESULT hr = cached.factory()->createInstance(&CLSID_TestFilter1, &hostid::IMidiModule.guid(), &out);
            HOLDS(FAILED(hr));
            HOLDS(out == nullptr);
        }
        disarm(s.site);
    } else {
        setText(kVerified, clsid.c_str(), "1");
    }

    LoadedModule module;
    ReferenceHost* host = new ReferenceHost();
    EventStore& events = host->events();
    if (s.site != TfCreate) arm(s.site, fault);
    IMidiModule* instance = module.create(CLSID_TestFilter1);
    HOLDS(instance != nullptr);
    if (!instance) {
        host->Release();
        return;
    }
    // A host whose output path plays a range at once: the filter's call back comes back in.
    bool reentered = false;
    if (fault == Reenter)
        host->onOutputNow = [&] {
            if (reentered) return;
            reentered = true;
            instance->process(0, 480, 0);
        };
    {
        WarningCatcher catcher;
        HRESULT hr = instance->initialize(host->context());
        if (failsAt(TfAttachHost)) {
            HOLDS(hr == E_FAIL);
            HOLDS(catcher.boxes == 1);
            disarm(s.site);
            HOLDS(instance->initialize(host->context()) == S_OK);
            arm(s.site, fault);
        } else {
            HOLDS(hr == S_OK);
            HOLDS(catcher.boxes == 0);
        }
    }

    // Transport: every processing call site, with fixed loop output and a sysex block.
    MfxEvent loop = controllerRecord(0, 2, 2);
    control.AddOutput(TfLoopPlayback, &loop);
    const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
    control.AddSysexOutput(TfFilterEvents, 5, sysex, sizeof sysex);
    HostEvent live = events.newEvent(0, 0x90, 60, 100);
    events.markLive(live, true);
    HostEvent note = events.newNote(10, 0, 60, 100, 5);
    HOLDS(instance->onEvent(note) == S_OK);
    events.discard(note);
    HOLDS(instance->process(0, 480, 0) == S_OK);
    HOLDS(instance->cycleJump(0, 480) == S_OK);
    HOLDS(instance->process(0, 480, 0) == S_OK);
    HOLDS(instance->onEvent(live) == S_OK);
    events.discard(live);
    HOLDS(instance->process(0, 0, 1) == S_OK);
    HOLDS(instance->stop(480) == S_OK);
    HOLDS(instance->process(0, 0, 1) == S_OK);
    HOLDS(instance->reposition(0) == S_OK);
    HOLDS(instance->process(480, 960, 0) == S_OK);

    // Editor: template, view, attach, resize, detach.
    auto* editor = query<IEditorDescription>(instance, hostid::IEditorDescription);
    auto* views = query<IViewFactory>(instance, hostid::IViewFactory);
    HOLDS(editor && views);
    if (editor && views) {
        char name[64] = {}, text[1100] = {};
        int32_t size = int32_t(0xCAFECAFE);
        HOLDS(editor->getTemplate("editor", name, text, &size) == 0);
        HOLDS(size == int32_t(std::strlen(text) + 1));
        ViewRect rect = {0, 20, 320, 260};
        IModuleView* view = nullptr;
        HOLDS(views->createView("propertyPages", &rect, &view) == 0 && view);
        if (view) {
            HWND parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                          nullptr, nullptr, nullptr);
            HRESULT attached = view->attachToParent(parent);
            const bool noPage = failsAt(TfGetPages) || failsAt(TfPageCreate);
            HOLDS(attached == (noPage ? E_FAIL : S_OK));
            ViewRect moved = {0, 20, 330, 270};
            HOLDS(view->setViewRect(&moved) == S_OK);
            HOLDS(view->detachFromParent() == S_OK);
            HOLDS(view->detachFromParent() == S_OK);
            view->Release();
            DestroyWindow(parent);  // takes down a faulted page's window too
        }
    }
    if (editor) editor->Release();
    if (views) views->Release();

    // State: save, read back, load.
    auto* state = query<IStatePersistence>(instance, hostid::IStatePersistence);
    HOLDS(state != nullptr);
    if (state) {
        const uint8_t saved[] = {1, 2, 3, 4, 5, 6, 7, 8};
        control.SetSaveBytes(saved, sizeof saved);
        int32_t size = int32_t(0xCAFECAFE);
        int32_t r = state->getState(nullptr, &size);
        HOLDS(r == (failsAt(TfSave) ? 1 : 0));
        if (r == 0) {
            uint8_t buffer[16] = {};
            HOLDS(size == 8);
            HOLDS(state->getState(buffer, &size) == 0 && std::memcmp(buffer, saved, 8) == 0);
        }
        HOLDS(state->setState(saved, sizeof saved) == (failsAt(TfLoad) ? 1 : 0));
        uint8_t id[16];
        HOLDS(state->getClassId(id) == 0 && std::memcmp(id, &CLSID_TestFilter1, 16) == 0);
        state->Release();
    }

    // Usable once the fault stops: a note passes in the next range.
    if (s.site != TfDestroy && s.site != TfDetachHost) {
        cell->reached = cell->reached || logged(s.site);
        disarm(s.site);
    }
    events.takeOutput();
    note = events.newNote(970, 0, 61, 100, 5);
    instance->onEvent(note);
    events.discard(note);
    HOLDS(instance->process(960, 1440, 0) == S_OK);
    bool passed = false;
    for (const OutputRecord& r : events.takeOutput()) passed |= r.event.kind == 0x90 && r.event.data1 == 61;
    HOLDS(passed);

    host->onOutputNow = nullptr;
    HOLDS(instance->terminate() == S_OK);
    HOLDS(instance->Release() == 0);
    if (s.site == TfDestroy || s.site == TfDetachHost) {
        cell->reached = logged(s.site);
        disarm(s.site);
    }

    // The host's accounting: nothing leaked, nothing given back twice, no stale use.
    HOLDS(events.liveHandles() == 0);
    HOLDS(events.doubleReleases() == 0);
    HOLDS(events.staleHandleUses() == 0);
    HOLDS(events.unknownHandleUses() == 0);
    HOLDS(events.foreignReleases() == 0);
    HOLDS(events.balanced());
    // A filter or page whose final Release faulted is abandoned with what it holds.
    const TfCounts after = control.counts();
    const bool filterAbandoned = raises && s.site == TfDestroy;
    const bool pageAbandoned = raises && isPageSite(s.site) && s.site != TfPageCreate;
    if (!filterAbandoned) {
        // An abandoned page still holds the filter object that SetObjects gave it; the
        // module's own reference is given back even when SetObjects faults.
        const bool heldByPage = pageAbandoned && after.objectRefsHeld > before.objectRefsHeld;
        HOLDS(after.filtersAlive == before.filtersAlive + (heldByPage ? 1 : 0));
        HOLDS(after.hostRefsHeld == before.hostRefsHeld);
        HOLDS(host->refCount() == 1);
    }
    if (!pageAbandoned) {
        HOLDS(after.pagesAlive == before.pagesAlive);
        HOLDS(after.siteRefsHeld == before.siteRefsHeld);
    }
    HOLDS(after.pageWindowsAlive == before.pageWindowsAlive);
    host->Release();
}

using Matrix = std::map<int32_t, std::map<int, Cell>>;

// Prints the matrix and writes it beside the program; sites that none of the kinds
// reached are counted out of the reached ones.
std::string report(const char* title, const std::vector<Site>& sites, const std::vector<int>& kinds,
                   Matrix& matrix, int* held, int* checks, int* reachedSites) {
    std::string table = std::string(title) + " (checks held / checks run; n/a: not reached or not applicable)\n";
    char line[200];
    std::snprintf(line, sizeof line, "%-22s", "site");
    table += line;
    for (int k : kinds) {
        std::snprintf(line, sizeof line, "|%18s", kFaultNames[k]);
        table += line;
    }
    table += "\n" + std::string(22, '-');
    for (size_t i = 0; i < kinds.size(); ++i) table += "+" + std::string(18, '-');
    table += "\n";
    *held = *checks = *reachedSites = 0;
    for (const Site& s : sites) {
        std::snprintf(line, sizeof line, "%-22s", s.name);
        table += line;
        bool any = false;
        for (int k : kinds) {
            auto row = matrix.find(s.site);
            const Cell* c = row == matrix.end() || !row->second.count(k) ? nullptr : &row->second[k];
            char cell[32];
            if (c && c->reached)
                std::snprintf(cell, sizeof cell, "%d/%d", c->held, c->checks);
            else
                std::snprintf(cell, sizeof cell, "n/a");
            std::snprintf(line, sizeof line, "|%18s", cell);
            table += line;
            if (c) {
                *held += c->held;
                *checks += c->checks;
                any |= c->reached;
            }
        }
        *reachedSites += any;
        table += "\n";
    }
    return table;
}

void writeBeside(const char* name, const std::string& table) {
    std::fputs(table.c_str(), stdout);
    const std::string file = besideProgram(name);
    if (FILE* f = std::fopen(file.c_str(), "w")) {
        std::fputs(table.c_str(), f);
        std::fclose(f);
        std::printf("(also written to %s)\n", file.c_str());
    }
}

TEST_F(FaultMatrix, EveryFilterCallSiteUnderEveryFault) {
    Matrix matrix;
    const std::vector<int> faults = {FailResult, AccessViolation, CxxSeh};
    for (const Site& s : kSites)
        for (int fault : faults) {
            SCOPED_TRACE(testing::Message() << s.name << " / " << kFaultNames[fault]);
            runCell(s, fault, &matrix[s.site][fault]);
        }
    int held = 0, checks = 0, reachedSites = 0;
    std::string table = report("Fault matrix", std::vector<Site>(std::begin(kSites), std::end(kSites)), faults,
                               matrix, &held, &checks, &reachedSites);
    char line[160];
    std::snprintf(line, sizeof line, "total: %d of %d checks held over %d reached sites x %d faults\n", held, checks,
                  reachedSites, int(FaultKinds));
    writeBeside("fault-matrix.txt", table + line);
    EXPECT_EQ(held, checks);
    // Every processing, persistence and page site the module has is reached.
    for (int32_t site : {TfCreate, TfAttachHost, TfDetachHost, TfSetEventOutput, TfBeginPlayback, TfLoopPlayback,
                         TfEndPlayback, TfFilterEvents, TfFilterLiveEvents, TfGetPages, TfPageCreate, TfLoad, TfSave,
                         TfDestroy, TfPageActivate, TfPageDestroy})
        EXPECT_TRUE(matrix[site][AccessViolation].reached) << "site " << site;
}

// The same run, with a filter that misbehaves instead of failing; none of it raises, so
// it runs wherever the tests run.
using Misbehaviour = FaultMatrix;

TEST_F(Misbehaviour, EveryFilterCallSiteUnderEveryMisbehaviour) {
    Matrix matrix;
    std::vector<Site> sites;
    for (const MisbehavingSite& m : kMisbehavingSites) {
        sites.push_back(m.site);
        for (int kind : m.kinds) {
            SCOPED_TRACE(testing::Message() << m.site.name << " / " << kFaultNames[kind]);
            runCell(m.site, kind, &matrix[m.site.site][kind]);
            EXPECT_TRUE(matrix[m.site.site][kind].reached) << m.site.name << " / " << kFaultNames[kind];
        }
    }
    int held = 0, checks = 0, reachedSites = 0;
    std::string table = report("Misbehaviour matrix", sites, {OverRelease, Keep, Reenter, Garbage, PageSize},
                               matrix, &held, &checks, &reachedSites);
    char line[80];
    std::snprintf(line, sizeof line, "%d of %d checks held\n", held, checks);
    writeBeside("misbehaviour-matrix.txt", table + line);
    EXPECT_EQ(held, checks);
    EXPECT_GT(checks, 0);
}

}  // namespace
