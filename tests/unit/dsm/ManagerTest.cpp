// Velmora's TWAIN source manager on its own, spoken to through DSM_Entry as any application
// would: sequence errors, the source list, the selection dialog, the remembered default source,
// the DAT_NULL mailbox and routing to the open source.

#include "tests/unit/twain/ScriptedSourceEnv.h"
#include "twain/twainh.h"

#include <cstring>
#include <thread>

using namespace twaintest;

namespace {

class ManagerTest : public ScenarioTest {
protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        m_entry = ManagerFunction<DSMENTRYPROC>("DSM_Entry");
        ASSERT_NE(m_entry, nullptr);
        std::memset(&m_app, 0, sizeof m_app);
        std::strcpy(m_app.ProductName, "ManagerTest");
        m_app.ProtocolMajor = 1;
        m_app.ProtocolMinor = 6;
        m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    }
    void TearDown() override {
        ManagerFunction<void (*)(VelmoraDSM_SelectFn, void*)>("VelmoraDSM_SetSelectDialog")(
            nullptr, nullptr);
        ScenarioTest::TearDown();
    }

    TW_UINT16 Call(TW_UINT16 dat, TW_UINT16 msg, void* data, pTW_IDENTITY dest = nullptr) {
        return m_entry(&m_app, dest, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(Call(DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    void OpenManager() {
        TW_HANDLE parent = nullptr;
        ASSERT_EQ(Call(DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
        ASSERT_NE(+m_app.Id, 0u);
    }
    void CloseManager() {
        TW_HANDLE parent = nullptr;
        EXPECT_EQ(Call(DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_SUCCESS);
    }
    TW_IDENTITY OpenDefault() {
        TW_IDENTITY source{};
        EXPECT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
        return source;
    }

    DSMENTRYPROC m_entry = nullptr;
    TW_IDENTITY m_app{};
};

int g_choice = -1;
int g_offered = 0;
int g_current = -1;
QStringList g_rows;
int ChooseScripted(void*, const char* const* names, int count, int current) {
    g_offered = count;
    g_current = current;
    g_rows.clear();
    for (int i = 0; i < count; ++i)
        g_rows << QString::fromUtf8(names[i]);
    return g_choice;
}

} // namespace

TEST_F(ManagerTest, SequenceErrorsAreRefusedWithTheirConditionCodes) {
    TW_IDENTITY source{};
    TW_HANDLE parent = nullptr;
    // Nothing works before the application has opened the manager.
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Call(DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_FAILURE);

    OpenManager();
    const TW_UINT32 id = m_app.Id;
    EXPECT_EQ(Call(DAT_PARENT, MSG_OPENDSM, &parent), TWRC_FAILURE) << "opened twice";
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(+m_app.Id, id);
    EXPECT_EQ(Condition(), TWCC_SUCCESS) << "the condition is reset once read";

    EXPECT_EQ(Call(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_FAILURE) << "no source open";
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_STATUS status{};
    EXPECT_EQ(Call(DAT_STATUS, MSG_GET, &status, &source), TWRC_FAILURE) << "no source to route to";

    source = OpenDefault();
    TW_IDENTITY second{};
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &second), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_MAXCONNECTIONS);
    EXPECT_EQ(Call(DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_FAILURE) << "a source is open";
    EXPECT_EQ(Condition(), TWCC_SEQERROR);

    TW_IDENTITY stranger = source;
    stranger.Id += 1000;
    EXPECT_EQ(Call(DAT_STATUS, MSG_GET, &status, &stranger), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADDEST);
    EXPECT_EQ(Call(0x7777, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);

    EXPECT_EQ(Call(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    CloseManager();
}

TEST_F(ManagerTest, ListsEverySourceAndOpensByNameOrDefault) {
    OpenManager();
    std::vector<std::string> names;
    TW_IDENTITY id{};
    for (TW_UINT16 rc = Call(DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
         rc = Call(DAT_IDENTITY, MSG_GETNEXT, &id)) {
        names.emplace_back(id.ProductName);
        EXPECT_NE(+id.Id, 0u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Velmora Testquelle B", "Velmora Testquelle"}))
        << "file-name order: velmora-scripted-B.ds sorts first";
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_ENDOFLIST);

    // Without a remembered default the first source is the default.
    TW_IDENTITY def{};
    ASSERT_EQ(Call(DAT_IDENTITY, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
    EXPECT_STREQ(def.ProductName, "Velmora Testquelle B");

    TW_IDENTITY wanted{};
    std::strcpy(wanted.ProductName, "Velmora Testquelle");
    ASSERT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &wanted), TWRC_SUCCESS);
    EXPECT_STREQ(wanted.ProductName, "Velmora Testquelle");
    EXPECT_NE(+wanted.Id, 0u);
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_CLOSEDS, &wanted), TWRC_SUCCESS);

    TW_IDENTITY missing{};
    std::strcpy(missing.ProductName, "Kein Scanner");
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &missing), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
    CloseManager();
}

TEST_F(ManagerTest, UserSelectRemembersTheChoiceInTheConfigurationFolder) {
    ManagerFunction<void (*)(VelmoraDSM_SelectFn, void*)>("VelmoraDSM_SetSelectDialog")(
        &ChooseScripted, nullptr);
    OpenManager();
    TW_IDENTITY chosen{};
    g_choice = -1;
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_USERSELECT, &chosen), TWRC_CANCEL);
    EXPECT_EQ(g_offered, 2);
    EXPECT_EQ(g_current, 0);
    EXPECT_FALSE(
        QFile::exists(m_dir.filePath(QStringLiteral("config/velmora/twain-default-source"))))
        << "cancel remembers nothing";

    g_choice = 1;
    ASSERT_EQ(Call(DAT_IDENTITY, MSG_USERSELECT, &chosen), TWRC_SUCCESS);
    EXPECT_STREQ(chosen.ProductName, "Velmora Testquelle");
    CloseManager();

    // A new session of the manager opens the chosen source as the default and preselects it.
    m_app.Id = 0;
    OpenManager();
    const TW_IDENTITY source = OpenDefault();
    EXPECT_STREQ(source.ProductName, "Velmora Testquelle");
    TW_IDENTITY closing = source;
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_CLOSEDS, &closing), TWRC_SUCCESS);
    g_choice = -1;
    Call(DAT_IDENTITY, MSG_USERSELECT, &chosen);
    EXPECT_EQ(g_current, 1);

    // MSG_SET makes another source the default.
    TW_IDENTITY other{};
    std::strcpy(other.ProductName, "Velmora Testquelle B");
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_SET, &other), TWRC_SUCCESS);
    TW_IDENTITY def{};
    ASSERT_EQ(Call(DAT_IDENTITY, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
    EXPECT_STREQ(def.ProductName, "Velmora Testquelle B");
    CloseManager();
}

TEST_F(ManagerTest, NoticesWaitInTheMailboxForTheNextProcessEvent) {
    OpenManager();
    TW_IDENTITY source = OpenDefault();
    TW_EVENT event{&event, MSG_NULL};
    EXPECT_EQ(m_entry(&m_app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event),
              TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_NULL);

    // A source may post from any thread; the notices come back one a call, in order.
    std::thread poster([&] {
        EXPECT_EQ(m_entry(&source, &m_app, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr),
                  TWRC_SUCCESS);
        EXPECT_EQ(m_entry(&source, &m_app, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr),
                  TWRC_SUCCESS);
    });
    poster.join();
    for (TW_UINT16 expected : {MSG_XFERREADY, MSG_CLOSEDSREQ}) {
        event.TWMessage = MSG_NULL;
        EXPECT_EQ(m_entry(&m_app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event),
                  TWRC_DSEVENT);
        EXPECT_EQ(event.TWMessage, expected);
    }
    event.TWMessage = MSG_NULL;
    EXPECT_EQ(m_entry(&m_app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event),
              TWRC_NOTDSEVENT);

    // A notice for an application that is not open is refused.
    TW_IDENTITY nobody{};
    nobody.Id = 987654;
    EXPECT_EQ(m_entry(&source, &nobody, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    CloseManager();
}

TEST_F(ManagerTest, MemoryFunctionsKeepABlockRegistry) {
    OpenManager();
    TW_ENTRYPOINT entry{};
    ASSERT_EQ(Call(DAT_ENTRYPOINT, MSG_GET, &entry), TWRC_SUCCESS);
    // The record is packed: its function pointers are copied out before use.
    const DSM_MEMALLOCATE allocate = entry.DSM_MemAllocate;
    const DSM_MEMLOCK lock = entry.DSM_MemLock;
    const DSM_MEMUNLOCK unlock = entry.DSM_MemUnlock;
    const DSM_MEMFREE release = entry.DSM_MemFree;
    ASSERT_TRUE(allocate && lock && unlock && release);
    auto size = ManagerFunction<std::size_t (*)(void*)>("VelmoraDSM_BlockSize");
    TW_HANDLE h = allocate(100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(size(h), 100u);
    EXPECT_EQ(ManagerLiveBlocks(), m_managerBlocks + 1);
    EXPECT_EQ(lock(h), h);
    unlock(h);
    int notABlock = 0;
    EXPECT_EQ(size(&notABlock), 0u);
    EXPECT_EQ(lock(&notABlock), nullptr);
    release(&notABlock); // ignored, not a crash
    release(h);
    EXPECT_EQ(size(h), 0u);
    CloseManager();
}

TEST_F(ManagerTest, ARefusedOpenPassesTheSourceConditionOn) {
    Scenario("open = refuse");
    OpenManager();
    TW_IDENTITY source{};
    EXPECT_EQ(Call(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
    CloseManager();
}

// A source that stands for several devices is offered as its devices; the chosen device is
// handed to its source, which the manager makes the default, and is preselected next time.
TEST_F(ManagerTest, UserSelectOffersEveryDeviceOfASourceOfDevices) {
    ManagerFunction<void (*)(VelmoraDSM_SelectFn, void*)>("VelmoraDSM_SetSelectDialog")(
        &ChooseScripted, nullptr);
    Scenario("devices = x,y");
    OpenManager();
    TW_IDENTITY chosen{};
    g_choice = 3;
    ASSERT_EQ(Call(DAT_IDENTITY, MSG_USERSELECT, &chosen), TWRC_SUCCESS);
    // Both copies of the scripted source list the scenario's devices, in file-name order.
    EXPECT_EQ(g_rows, (QStringList{"Testgerät x", "Testgerät y", "Testgerät x", "Testgerät y"}));
    EXPECT_EQ(g_current, 0);
    EXPECT_STREQ(chosen.ProductName, "Velmora Testquelle");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("default-device y")));

    g_choice = -1;
    Call(DAT_IDENTITY, MSG_USERSELECT, &chosen);
    EXPECT_EQ(g_current, 3) << "the chosen device of the default source";
    EXPECT_TRUE(TakeLog().filter(QStringLiteral("default-device")).isEmpty())
        << "cancel remembers nothing";

    // A source that cannot list its devices is offered as itself.
    Scenario("");
    g_choice = -1;
    Call(DAT_IDENTITY, MSG_USERSELECT, &chosen);
    EXPECT_EQ(g_rows, (QStringList{"Velmora Testquelle B", "Velmora Testquelle"}));
    EXPECT_EQ(g_current, 1);
    CloseManager();
}
