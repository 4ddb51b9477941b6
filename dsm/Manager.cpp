// Velmora's TWAIN source manager: the application registry, source listing and opening, the
// routing of triplets to the open source, the DAT_NULL mailbox and the shared memory functions.
// dsm/README.md is the contract with the sources.
//
// Built with VELMORA_DSM_OFFICIAL_CLOSING (for the tests only), it closes sources the way the
// official Linux manager does: a source that refuses MSG_CLOSEDS stays open, and MSG_CLOSEDSM
// shuts a source still open down instead of refusing.

#include "dsm/SelectDialog.h"
#include "dsm/SourceList.h"
#include "dsm/VelmoraDsm.h"
#include "platform/MemBlock.h"
#include "twain/twainh.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                               TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

namespace {

// ---- Memory: blocks handed between sources and applications ----

// The manager's blocks live in the registry of platform/MemBlock, its own copy inside this
// library. A handle that is not one of them is left alone: freeing it could corrupt the heap,
// and a wrong handle from a source must not bring the application down.
TW_HANDLE MemAllocate(TW_UINT32 size) {
    return MemBlock::Alloc(size);
}

void MemFree(TW_HANDLE handle) {
    MemBlock::Free(handle);
}

TW_MEMREF MemLock(TW_HANDLE handle) {
    return MemBlock::Lock(handle);
}

void MemUnlock(TW_HANDLE handle) {
    MemBlock::Unlock(handle);
}

TW_ENTRYPOINT EntryPoints() {
    TW_ENTRYPOINT e{};
    e.Size = sizeof(TW_ENTRYPOINT);
    e.DSM_Entry = &DSM_Entry;
    e.DSM_MemAllocate = &MemAllocate;
    e.DSM_MemFree = &MemFree;
    e.DSM_MemLock = &MemLock;
    e.DSM_MemUnlock = &MemUnlock;
    return e;
}

// ---- Mailboxes: notices of the sources, posted from any thread ----

struct Mailboxes {
    std::mutex mutex;
    std::map<TW_UINT32, std::deque<TW_UINT16>> boxes; // by application Id
};

Mailboxes& Mail() {
    static Mailboxes* mail = new Mailboxes;
    return *mail;
}

bool PostNotice(TW_UINT32 appId, TW_UINT16 msg) {
    {
        Mailboxes& m = Mail();
        std::lock_guard<std::mutex> lock(m.mutex);
        auto it = m.boxes.find(appId);
        if (it == m.boxes.end())
            return false;
        it->second.push_back(msg);
    }
    // The application polls on every wake-up of its loop; a queued call wakes it now instead of
    // at its next timer tick.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
    return true;
}

bool TakeNotice(TW_UINT32 appId, TW_UINT16& msg) {
    Mailboxes& m = Mail();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.boxes.find(appId);
    if (it == m.boxes.end() || it->second.empty())
        return false;
    msg = it->second.front();
    it->second.pop_front();
    return true;
}

// ---- Applications (touched on the GUI thread only) ----

struct Application {
    TW_UINT16 condition = TWCC_SUCCESS;
    std::vector<DataSource> sources;
    std::size_t next = 0; // MSG_GETNEXT position
    int open = -1;        // index into sources
};

struct ManagerState {
    std::map<TW_UINT32, Application> apps;
    TW_UINT32 nextAppId = 1;
    TW_UINT32 nextSourceId = 1;
    // Condition of the last call from an application that is not open (DAT_STATUS without one).
    TW_UINT16 strayCondition = TWCC_SUCCESS;
};

ManagerState& State() {
    static ManagerState* state = new ManagerState;
    return *state;
}

std::string ProductName(const TW_IDENTITY& id) {
    return std::string(id.ProductName, strnlen(id.ProductName, sizeof id.ProductName));
}

int DefaultIndex(const std::vector<DataSource>& sources) {
    if (sources.empty())
        return -1;
    const std::string remembered = ReadDefaultSource();
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (ProductName(sources[i].identity) == remembered)
            return static_cast<int>(i);
    return 0;
}

int FindByName(const Application& app, const std::string& name) {
    for (std::size_t i = 0; i < app.sources.size(); ++i)
        if (ProductName(app.sources[i].identity) == name)
            return static_cast<int>(i);
    return -1;
}

TW_UINT16 Fail(Application& app, TW_UINT16 condition) {
    app.condition = condition;
    return TWRC_FAILURE;
}

TW_UINT16 OpenManager(pTW_IDENTITY origin) {
    ManagerState& s = State();
    if (origin->Id != 0 && s.apps.count(origin->Id)) {
        s.apps[origin->Id].condition = TWCC_SEQERROR;
        return TWRC_FAILURE;
    }
    const TW_UINT32 id = s.nextAppId++;
    Application& app = s.apps[id];
    app.sources = ListSources(origin);
    for (DataSource& source : app.sources)
        source.identity.Id = s.nextSourceId++;
    origin->Id = id;
    {
        Mailboxes& m = Mail();
        std::lock_guard<std::mutex> lock(m.mutex);
        m.boxes[id].clear();
    }
    return TWRC_SUCCESS;
}

#ifdef VELMORA_DSM_OFFICIAL_CLOSING
void ShutDownSource(pTW_IDENTITY origin, Application& app);
#endif

TW_UINT16 CloseManager(pTW_IDENTITY origin, Application& app) {
#ifdef VELMORA_DSM_OFFICIAL_CLOSING
    if (app.open >= 0)
        ShutDownSource(origin, app);
#endif
    if (app.open >= 0)
        return Fail(app, TWCC_SEQERROR);
    {
        Mailboxes& m = Mail();
        std::lock_guard<std::mutex> lock(m.mutex);
        m.boxes.erase(origin->Id);
    }
    State().apps.erase(origin->Id);
    const std::size_t live = VelmoraDSM_LiveBlocks();
    if (live != 0)
        std::fprintf(stderr,
                     "velmora-twaindsm: %zu memory block(s) still allocated at MSG_CLOSEDSM\n",
                     live);
    return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(pTW_IDENTITY origin, Application& app, pTW_IDENTITY wanted) {
    if (app.open >= 0)
        return Fail(app, TWCC_MAXCONNECTIONS);
    const std::string name = ProductName(*wanted);
    const int index = name.empty() ? DefaultIndex(app.sources) : FindByName(app, name);
    if (index < 0)
        return Fail(app, TWCC_NODS);
    DataSource& source = app.sources[static_cast<std::size_t>(index)];
    TW_ENTRYPOINT entry = EntryPoints();
    source.entry(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
    TW_IDENTITY identity = source.identity;
    if (source.entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity) != TWRC_SUCCESS) {
        TW_STATUS status{};
        const bool known =
            source.entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS;
        return Fail(app, known && status.ConditionCode != TWCC_SUCCESS ? status.ConditionCode
                                                                       : TWCC_OPERATIONERROR);
    }
    *wanted = source.identity;
    app.open = index;
    return TWRC_SUCCESS;
}

TW_UINT16 CloseSource(pTW_IDENTITY origin, Application& app, pTW_IDENTITY which) {
    if (app.open < 0)
        return Fail(app, TWCC_SEQERROR);
    DataSource& source = app.sources[static_cast<std::size_t>(app.open)];
    if (which && which->Id != source.identity.Id)
        return Fail(app, TWCC_BADDEST);
    TW_IDENTITY identity = source.identity;
    const TW_UINT16 rc = source.entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
#ifdef VELMORA_DSM_OFFICIAL_CLOSING
    if (rc != TWRC_SUCCESS)
        return Fail(app, TWCC_OPERATIONERROR);
#else
    // Whatever the source answers, it is closed for us: a source that cannot close must not keep
    // the application from closing the manager.
    static_cast<void>(rc);
#endif
    app.open = -1;
    Mailboxes& m = Mail();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.boxes[origin->Id].clear();
    return TWRC_SUCCESS;
}

#ifdef VELMORA_DSM_OFFICIAL_CLOSING
// The official manager closes a source still open at MSG_CLOSEDSM with every closing triplet in
// turn, whatever each one answers, and then drops it.
void ShutDownSource(pTW_IDENTITY origin, Application& app) {
    DataSource& source = app.sources[static_cast<std::size_t>(app.open)];
    TW_PENDINGXFERS pending{};
    TW_USERINTERFACE ui{};
    TW_IDENTITY identity = source.identity;
    source.entry(origin, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    source.entry(origin, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    source.entry(origin, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    source.entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
    app.open = -1;
}
#endif

TW_UINT16 UserSelect(Application& app, pTW_IDENTITY chosen) {
    if (app.sources.empty())
        return Fail(app, TWCC_NODS);
    std::vector<SelectSource> sources;
    for (const DataSource& source : app.sources)
        sources.push_back(SelectSource{ProductName(source.identity), source.listDevices});
    const SelectChoice choice = RunSelectDialog(sources, DefaultIndex(app.sources));
    if (choice.source < 0 || choice.source >= static_cast<int>(sources.size()))
        return TWRC_CANCEL;
    const DataSource& source = app.sources[static_cast<std::size_t>(choice.source)];
    WriteDefaultSource(ProductName(source.identity));
    if (!choice.device.empty() && source.setDefaultDevice)
        source.setDefaultDevice(choice.device.c_str());
    *chosen = source.identity;
    return TWRC_SUCCESS;
}

TW_UINT16 IdentityCall(pTW_IDENTITY origin, Application& app, TW_UINT16 msg, TW_MEMREF data) {
    auto* identity = static_cast<pTW_IDENTITY>(data);
    if (!identity)
        return Fail(app, TWCC_BADVALUE);
    switch (msg) {
    case MSG_GETFIRST:
        app.next = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (app.next >= app.sources.size())
            return TWRC_ENDOFLIST;
        *identity = app.sources[app.next++].identity;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT: {
        const int index = DefaultIndex(app.sources);
        if (index < 0)
            return Fail(app, TWCC_NODS);
        *identity = app.sources[static_cast<std::size_t>(index)].identity;
        return TWRC_SUCCESS;
    }
    case MSG_SET: {
        const int index = FindByName(app, ProductName(*identity));
        if (index < 0)
            return Fail(app, TWCC_NODS);
        WriteDefaultSource(ProductName(*identity));
        return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
        return OpenSource(origin, app, identity);
    case MSG_CLOSEDS:
        return CloseSource(origin, app, identity);
    case MSG_USERSELECT:
        return UserSelect(app, identity);
    default:
        return Fail(app, TWCC_BADPROTOCOL);
    }
}

TW_UINT16 ManagerCall(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                      TW_MEMREF data) {
    ManagerState& s = State();
    if (DG == DG_CONTROL && DAT == DAT_PARENT && MSG == MSG_OPENDSM)
        return OpenManager(origin);
    auto it = s.apps.find(origin->Id);
    if (it == s.apps.end()) {
        if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET && data) {
            static_cast<TW_STATUS*>(data)->ConditionCode = s.strayCondition;
            s.strayCondition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        s.strayCondition = TWCC_SEQERROR;
        return TWRC_FAILURE;
    }
    Application& app = it->second;
    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
        if (!data)
            return Fail(app, TWCC_BADVALUE);
        *static_cast<TW_STATUS*>(data) = TW_STATUS{app.condition, 0};
        app.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    app.condition = TWCC_SUCCESS;
    if (DG != DG_CONTROL)
        return Fail(app, TWCC_BADPROTOCOL);
    switch (DAT) {
    case DAT_PARENT:
        if (MSG == MSG_CLOSEDSM)
            return CloseManager(origin, app);
        return Fail(app, MSG == MSG_OPENDSM ? TWCC_SEQERROR : TWCC_BADPROTOCOL);
    case DAT_IDENTITY:
        return IdentityCall(origin, app, MSG, data);
    case DAT_ENTRYPOINT:
        if (MSG != MSG_GET || !data)
            return Fail(app, TWCC_BADPROTOCOL);
        *static_cast<TW_ENTRYPOINT*>(data) = EntryPoints();
        return TWRC_SUCCESS;
    default:
        return Fail(app, TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SourceCall(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT,
                     TW_UINT16 MSG, TW_MEMREF data) {
    ManagerState& s = State();
    auto it = s.apps.find(origin->Id);
    if (it == s.apps.end()) {
        s.strayCondition = TWCC_SEQERROR;
        return TWRC_FAILURE;
    }
    Application& app = it->second;
    if (app.open < 0)
        return Fail(app, TWCC_SEQERROR);
    DataSource& source = app.sources[static_cast<std::size_t>(app.open)];
    if (dest->Id != source.identity.Id)
        return Fail(app, TWCC_BADDEST);
    const TW_UINT32 appId = origin->Id;
    const TW_UINT16 rc = source.entry(origin, DG, DAT, MSG, data);
    if (DG == DG_CONTROL && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT && data) {
        auto* event = static_cast<TW_EVENT*>(data);
        if (event->TWMessage == MSG_NULL && TakeNotice(appId, event->TWMessage))
            return TWRC_DSEVENT;
    }
    return rc;
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
          TW_MEMREF pData) {
    // Nothing may unwind into the caller, which may be C.
    try {
        if (!pOrigin)
            return TWRC_FAILURE;
        if (DG == DG_CONTROL && DAT == DAT_NULL)
            return pDest && PostNotice(pDest->Id, MSG) ? TWRC_SUCCESS : TWRC_FAILURE;
        if (!pDest)
            return ManagerCall(pOrigin, DG, DAT, MSG, pData);
        return SourceCall(pOrigin, pDest, DG, DAT, MSG, pData);
    } catch (const std::bad_alloc&) {
        State().strayCondition = TWCC_LOWMEMORY;
        return TWRC_FAILURE;
    } catch (...) {
        State().strayCondition = TWCC_BUMMER;
        return TWRC_FAILURE;
    }
}

extern "C" __attribute__((visibility("default"))) std::size_t VelmoraDSM_BlockSize(void* handle) {
    return MemBlock::Size(handle);
}

extern "C" __attribute__((visibility("default"))) std::size_t VelmoraDSM_LiveBlocks() {
    return MemBlock::LiveBlocks();
}

extern "C" __attribute__((visibility("default"))) void
VelmoraDSM_SetSelectDialog(VelmoraDSM_SelectFn fn, void* context) {
    SetSelectDialogOverride(fn, context);
}

extern "C" __attribute__((visibility("default"))) int VelmoraDSM_WatchButtons(VelmoraDS_ButtonFn fn,
                                                                              void* context) {
    try {
        // The sources describe themselves to whoever asks; no application need be open.
        TW_IDENTITY self{};
        std::strcpy(self.ProductName, "Velmora");
        const std::vector<DataSource> sources = ListSources(&self);
        const int index = DefaultIndex(sources);
        // A watch replaces the one before, which may belong to a source no longer the default.
        StopButtonWatches();
        if (!fn || index < 0)
            return 0;
        const DataSource& source = sources[static_cast<std::size_t>(index)];
        if (!source.watchButtons)
            return 0;
        source.watchButtons(fn, context);
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) void VelmoraDSM_StopButtons() {
    try {
        StopButtonWatches();
    } catch (...) {
    }
}
