// nwclient.conf and the connection steps, with and without a tree.
#include "client_fixture.h"
#include "nwclient/client_state.h"
#include "nwclient/ldap/ldap_library.h"
#include "temp_trees.h"

#include <ldap.h>

#include <cstdlib>
#include <filesystem>

using namespace nw;
using testsupport::MemoryBackend;
using testsupport::TempDir;

namespace {

class Connection : public ::testing::Test {
protected:
    void SetUp() override { resetClient(); }
    void TearDown() override { resetClient(); }
};

// Keeps an environment variable for the test's life.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

TEST_F(Connection, ConfigurationLinesKeysAndComments) {
    ClientConfig c;
    ASSERT_EQ(parseConfiguration("# comment\r\n; another\r\n\r\n  TREE = sqlite:school.tree \r\n"
                                 "operator=admin.UNTERRICHT\rDefaultContext=.PROJEKTE.UNTERRICHT\nServer=SRV1\n",
                                 "/etc/x/nwclient.conf", c),
              SUCCESSFUL);
    EXPECT_EQ(c.tree, "sqlite:school.tree");
    EXPECT_EQ(c.operatorName, "admin.UNTERRICHT") << "a lone CR ends a line too";
    EXPECT_EQ(c.defaultContext, ".PROJEKTE.UNTERRICHT");
    EXPECT_EQ(c.values.at("server"), "SRV1");
    EXPECT_EQ(c.file, "/etc/x/nwclient.conf");
    // An unknown key is taken but named with its line (CR LF and a lone CR end one line each),
    // never a refusal.
    EXPECT_EQ(configurationWarnings(),
              std::vector<std::string>{"/etc/x/nwclient.conf, Zeile 7: Server=SRV1 (unbekannter Schlüssel, nicht beachtet)"});
}

// A blank or tab and "#" end a value, a "#" inside one stays; the README's LDAP block parses as copied.
TEST_F(Connection, EndOfLineCommentsEndTheValue) {
    const std::string readme = testsupport::readFile(TARVEL_SOURCE_DIR "/README.md");
    const size_t begin = readme.find("```\nTree=ldaps://") + 4;
    ClientConfig c;
    ASSERT_EQ(parseConfiguration(readme.substr(begin, readme.find("```", begin) - begin), "f", c), SUCCESSFUL);
    EXPECT_EQ(c.values.at("tree") + "|" + c.values.at("passwordfile") + "|" + c.values.at("timeout"),
              "ldaps://ldap.schule.example|tarvel-ldap.pw|10");
    ASSERT_EQ(parseConfiguration("Tree=x\t# c\nBindDN=cn=a\\#1 # c\nPasswordFile=p#w\nTimeout=9 #\n", "f", c), SUCCESSFUL);
    EXPECT_EQ(c.values, (std::map<std::string, std::string>{
                            {"tree", "x"}, {"binddn", "cn=a\\#1"}, {"passwordfile", "p#w"}, {"timeout", "9"}}));
    EXPECT_EQ(configurationWarnings(), std::vector<std::string>{});
}

TEST_F(Connection, GarbageConfigurationIsInvalidNotACrash) {
    ClientConfig c;
    // Each refusal names the file and, where a line is the reason, the line.
    const std::pair<std::string, std::string> refused[] = {
        {"Operator=admin\n", "f: Tree= fehlt oder ist leer (welches Verzeichnis?)"},
        {"Tree=sqlite:a\nthis is no setting\n", "f, Zeile 2: this is no setting (keine Zeile der Form Schlüssel=Wert)"},
        {"Tree=sqlite:a\n# c\n =value # c\n", "f, Zeile 3: =value (vor dem = fehlt der Schlüssel)"},
        {std::string("Tree=sqlite:a\n\0\x01\x02", 16), "f: enthält ein NUL-Byte (keine Textdatei)"},
        {"Tree=sqlite:a\nDefaultContext=a..b\n", "f, Zeile 2: DefaultContext=a..b (kein gültiger Name)"},
    };
    for (const auto& [text, problem] : refused) {
        EXPECT_EQ(parseConfiguration(text, "f", c), TARVEL_CONFIGURATION_INVALID) << text;
        EXPECT_EQ(configurationProblem(), problem);
    }
    // Switches that say yes or no: anything else is refused, naming the line, never read as "no".
    for (const char* line : {"StartTLS=ja", "StartTLS=maybe", "starttls=true", "TLSVerify=nein", "TLSVerify=0"}) {
        EXPECT_EQ(parseConfiguration(std::string("Tree=ldap://x\n# c\n") + line + "\n", "nwclient.conf", c),
                  TARVEL_CONFIGURATION_INVALID) << line;
        EXPECT_EQ(configurationProblem(), std::string("nwclient.conf, Zeile 3: ") + line + " (erlaubt sind yes und no)");
    }
    EXPECT_EQ(parseConfiguration("Tree=ldap://x\nStartTLS=YES\nTLSVerify=no\n", "f", c), SUCCESSFUL);
    EXPECT_EQ(configurationProblem(), "");

    TempDir dir;
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += char((i * 7919) % 256);
    testsupport::writeFile(dir.file("nwclient.conf"), binary);
    setConfigurationFile(dir.file("nwclient.conf"));
    uint32_t ref = 0;
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_CONFIGURATION_INVALID);
    setConfigurationFile(dir.path());  // a folder is no configuration file
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_CONFIGURATION_INVALID);
}

TEST_F(Connection, WithoutConfigurationTheLibraryWorksAndTheTreeCallsSayNoConnection) {
    TempDir dir;
    setConfigurationFile(dir.file("missing.conf"));
    EXPECT_EQ(NWCallsInit(nullptr, nullptr), SUCCESSFUL);
    EXPECT_EQ(NWCLXInit(nullptr, nullptr), SUCCESSFUL);
    LCONV lc{};
    NWLlocaleconv(&lc);
    EXPECT_EQ(lc.country_id, 49);
    EXPECT_EQ(lc.code_page, 1252);
    EXPECT_EQ(NWInitUnicodeTables(lc.country_id, lc.code_page), SUCCESSFUL);

    uint32_t ref = 0;
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_NO_CONFIGURATION);
    NWCONN_HANDLE conn = 0;
    EXPECT_EQ(NWCCOpenConnByRef(ref, NWCC_OPEN_LICENSED, 0, &conn), INVALID_CONNECTION);
    char server[NW_MAX_SERVER_NAME_LEN];
    EXPECT_EQ(NWCCGetConnRefInfo(ref, NWCC_INFO_SERVER_NAME, sizeof server, server), INVALID_CONNECTION);

    NWDSContextHandle ctx = -1;
    ASSERT_EQ(NWDSCreateContextHandle(&ctx), SUCCESSFUL);
    ASSERT_EQ(NWDSSetContext(ctx, DCK_NAME_CONTEXT, "PROJEKTE.UNTERRICHT"), SUCCESSFUL);
    Buf_T* buf = nullptr;
    ASSERT_EQ(NWDSAllocBuf(DEFAULT_MESSAGE_LEN, &buf), SUCCESSFUL);
    int32_t iter = NO_MORE_ITERATIONS;
    EXPECT_EQ(NWDSList(ctx, "", &iter, buf), ERR_NO_CONNECTION);
    uint32_t id = 0;
    EXPECT_EQ(NWDSMapNameToID(ctx, conn, "Gast01", &id), ERR_NO_CONNECTION);
    EXPECT_EQ(NWDSAddSecurityEquiv(ctx, "a", "b"), ERR_NO_CONNECTION);
    EXPECT_EQ(NWDSFreeBuf(buf), SUCCESSFUL);
    EXPECT_EQ(NWDSFreeContext(ctx), SUCCESSFUL);
    EXPECT_EQ(NWFreeUnicodeTables(), SUCCESSFUL);
}

TEST_F(Connection, AnUnknownKindOfTreeIsInvalid) {
    TempDir dir;
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=nfs:/x\n");
    setConfigurationFile(dir.file("nwclient.conf"));
    uint32_t ref = 0;
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_CONFIGURATION_INVALID);
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=sqlite:\n");
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_CONFIGURATION_INVALID);
}

// The user's own file first: one beside the program (a development build) never overrides it.
// libldap is opened only for an LDAP tree; the backend's calls reach the real library, and a
// missing library is a status of its own, not a crash at start or at the first call.
TEST_F(Connection, TheLdapLibraryIsOpenedForAnLdapTreeAndItsAbsenceIsReported) {
    std::string why;
    ASSERT_TRUE(ldapLibraryLoads(why)) << why;
    EXPECT_STREQ(ldap_err2string(LDAP_SIZELIMIT_EXCEEDED), "Size limit exceeded");
    LDAPURLDesc* url = nullptr;
    ASSERT_EQ(ldap_url_parse("ldap://schule.example:1389", &url), LDAP_SUCCESS);
    EXPECT_EQ(url->lud_port, 1389);
    ldap_free_urldesc(url);

    setLdapLibraryName("libtarvel-absent-ldap.so.0");
    EXPECT_FALSE(ldapLibraryLoads(why));
    EXPECT_NE(why.find("libtarvel-absent-ldap.so.0"), std::string::npos) << why;
    TempDir dir;
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=ldap://127.0.0.1:1\nOperator=admin.UNTERRICHT\n");
    setConfigurationFile(dir.file("nwclient.conf"));
    uint32_t ref = 0;
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_LDAP_LIBRARY_MISSING);
    setLdapLibraryName(TARVEL_LDAP_SONAME);
}

TEST_F(Connection, SearchPathIsTheUserConfigFolderThenEtcThenBesideTheProgram) {
    const std::string beside = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/nwclient.conf";
    ScopedEnv home("HOME", "/home/u");
    for (const auto& [xdg, own] : {std::pair{"relative", "/home/u/.config"}, std::pair{"/srv/cfg", "/srv/cfg"}}) {
        ScopedEnv env("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(configurationSearchPath(), (std::vector<std::string>{std::string(own) + "/tarvel/nwclient.conf",
                                                                        "/etc/tarvel/nwclient.conf", beside}));
    }
}

TEST_F(Connection, TheCommandLineNamesTheFileInEitherForm) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"t", "--nwclient=a", "x"}, "a"}, {{"t", "--nwclient=a", "--nwclient", "b", "/ini=x"}, "b"},
        {{"--nwclient=self"}, ""},          {{"t", "-nwclient=a", "x--nwclient=b", "--nwclient"}, ""},
    };
    for (const auto& [arguments, file] : cases) EXPECT_EQ(configurationFileOption(arguments), file) << arguments.back();
}

// However often the program reads the file, each warning reaches stderr once.
TEST_F(Connection, AWarningIsReportedOncePerProcess) {
    TempDir dir;
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=sqlite:gone.tree\nTreee=x\n");
    setConfigurationFile(dir.file("nwclient.conf"));
    testing::internal::CaptureStderr();
    ClientConfig c;
    EXPECT_EQ(loadConfiguration(c) + loadConfiguration(c), SUCCESSFUL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tarvel: " + dir.file("nwclient.conf") + ", Zeile 2: Treee=x (unbekannter Schlüssel, nicht beachtet)\n");
}

TEST_F(Connection, TheUserConfigFolderIsReadWhenNoFileWasSet) {
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    std::filesystem::create_directories(dir.file("tarvel"));
    testsupport::writeFile(dir.file("tarvel/nwclient.conf"), "Tree=sqlite:gone.tree\n");
    uint32_t ref = 0;
    // Found and read: the tree it names is missing beside it.
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_TREE_MISSING);
    std::filesystem::remove(dir.file("tarvel/nwclient.conf"));
    EXPECT_EQ(NWCCGetPrimConnRef(&ref), TARVEL_NO_CONFIGURATION);
}

TEST_F(Connection, DefaultContextOfTheConfigurationStartsNewContexts) {
    TempDir dir;
    testsupport::writeFile(dir.file("nwclient.conf"), "Tree=sqlite:school.tree\nDefaultContext=PROJEKTE.UNTERRICHT\n");
    setConfigurationFile(dir.file("nwclient.conf"));
    auto backend = std::make_unique<MemoryBackend>();
    auto o = backend->add(ROOT_ID, "UNTERRICHT", "Organization", true);
    backend->add(o, "PROJEKTE", "Organizational Unit", true);
    installBackend(std::move(backend));
    uint32_t ref = 0;
    ASSERT_EQ(NWCCGetPrimConnRef(&ref), SUCCESSFUL);
    NWDSContextHandle ctx = -1;
    ASSERT_EQ(NWDSCreateContextHandle(&ctx), SUCCESSFUL);
    char name[MAX_DN_BYTES];
    ASSERT_EQ(NWDSGetContext(ctx, DCK_NAME_CONTEXT, name), SUCCESSFUL);
    EXPECT_STREQ(name, "PROJEKTE.UNTERRICHT");
}

TEST_F(Connection, ServerNameAndConnectionHandle) {
    auto backend = std::make_unique<MemoryBackend>();
    backend->server = std::string(48, 'S');
    installBackend(std::move(backend));
    uint32_t ref = 0;
    ASSERT_EQ(NWCCGetPrimConnRef(&ref), SUCCESSFUL);
    ASSERT_NE(currentBackend(), nullptr);
    NWCONN_HANDLE conn = 0;
    ASSERT_EQ(NWCCOpenConnByRef(ref, NWCC_OPEN_LICENSED, 0, &conn), SUCCESSFUL);
    char server[NW_MAX_SERVER_NAME_LEN];
    ASSERT_EQ(NWCCGetConnRefInfo(ref, NWCC_INFO_SERVER_NAME, sizeof server, server), SUCCESSFUL);
    EXPECT_EQ(std::string(server), std::string(48, 'S'));
    EXPECT_EQ(NWCCGetConnRefInfo(ref, NWCC_INFO_SERVER_NAME, 48, server), NWE_BUFFER_OVERFLOW);
    EXPECT_EQ(NWCCGetConnRefInfo(ref, 6, sizeof server, server), NWE_PARAM_INVALID);
    EXPECT_EQ(NWCCGetConnRefInfo(ref + 1, NWCC_INFO_SERVER_NAME, sizeof server, server), INVALID_CONNECTION);
    EXPECT_EQ(NWCCCloseConn(conn), SUCCESSFUL);
    EXPECT_EQ(NWCCCloseConn(conn), INVALID_CONNECTION);
}
