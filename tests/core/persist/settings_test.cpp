#include "persist/settings.h"

#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/ledger_location.h"
#include "persist/profile_struct.h"
#include "tests/support/temp_folder.h"
#include "unprivileged_child.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;

// The first-run record as any installation writes it.
constexpr char kDefaultUserKey[] = "3100390032002E003100360038002E0032002E003100350038000000000000005000000061006400"
                                   "6D0069006E0000000000000000000000000000000000000000000000000000000000000000000000"
                                   "00000000000000000000000000000000000000007700720065006E00710000000000000000000000"
                                   "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
                                   "00000000000000001B";

std::string userKeyOf(const LoginRecord& r)
{
    const std::u16string digits = encodeProfileStruct(r.bytes);
    return {digits.begin(), digits.end()};
}

class Settings : public ::testing::Test
{
protected:
    void SetUp() override { settings.Init(folder.path()); }
    void TearDown() override { simulateDiskFullAfter(std::nullopt); }

    std::string setupFile() const { return test::readBytes(settings.setupPath); }
    LoginRecord storedRecord() const
    {
        LoginRecord r;
        EXPECT_TRUE(IniFile::load(settings.setupPath).readStruct(u"User", u"UserKey", r.bytes));
        return r;
    }

    test::TempFolder folder;
    CSettings settings;
};

TEST(SettingsObject, GetInstanceGivesOneInertObject)
{
    CSettings::ResetForTests();
    CSettings& s = CSettings::GetInstance();
    EXPECT_EQ(&s, &CSettings::GetInstance());
    EXPECT_TRUE(s.setupPath.empty() && s.languagePath.empty());
    EXPECT_FALSE(s.login || s.texts || s.language || s.platform);
    EXPECT_EQ(s.initialised, 0);

    // Not initialised: nothing is read or written, even with a path in place.
    test::TempFolder folder;
    s.setupPath = folder / "orv_setup.ini";
    s.LoadUser();
    s.SaveLanguage(2);
    s.SavePlatform(1);
    s.LoadTexts();
    EXPECT_EQ(folder.entryCount(), 0u);
    CSettings::ResetForTests();
}

TEST(SettingsObject, InitBuildsThePathsOnceAndKeepsMembers)
{
    CSettings s;
    s.Init(fs::path());
    EXPECT_EQ(s.setupPath, fs::path("orv_setup.ini"));
    EXPECT_EQ(s.languagePath, fs::path("orv_language.ini"));
    ASSERT_TRUE(s.login && s.texts && s.language && s.platform);
    EXPECT_EQ(s.login->bytes, LoginRecord{}.bytes);
    EXPECT_EQ(s.initialised, 1);

    s.login->setUser(u"kept");
    LanguageTexts* texts = s.texts.get();
    s.Init(fs::path("/elsewhere"));
    EXPECT_EQ(s.setupPath, fs::path("orv_setup.ini"));
    EXPECT_EQ(s.login->user(), u"kept");
    EXPECT_EQ(s.texts.get(), texts);
}

TEST(SettingsObject, TheProgramFolderHoldsTheRunningExecutable)
{
    const fs::path folder = executableFolder();
    EXPECT_TRUE(folder.is_absolute());
#ifdef _WIN32
    EXPECT_TRUE(fs::exists(folder / "persist_tests.exe"));
#else
    EXPECT_TRUE(fs::exists(folder / "persist_tests"));
#endif
    CSettings s;
    s.Init();
    EXPECT_EQ(s.setupPath, folder / "orv_setup.ini");
}

TEST_F(Settings, FirstRunWritesOnlyTheDefaultRecord)
{
    settings.LoadUser();
    EXPECT_EQ(setupFile(), test::nativeLines(std::string("[User]\nUserKey=") + kDefaultUserKey + "\n"));
    EXPECT_EQ(settings.login->ip(), u"192.168.2.158");
    EXPECT_EQ(settings.login->user(), u"admin");
    EXPECT_EQ(settings.login->password(), u"wrenq");
    EXPECT_EQ(settings.login->port(), 80u);
    EXPECT_EQ(settings.login->hold(), 0);
    EXPECT_EQ(*settings.platform, 0);
}

TEST_F(Settings, HoldClearedKeepsTheRememberedLogin)
{
    LoginRecord earlier;
    earlier.setIp(u"10.0.0.5");
    earlier.setUser(u"bob");
    earlier.setPassword(u"pw");
    earlier.setPort(80);
    earlier.setHold(1);
    test::writeBytes(settings.setupPath, "[User]\r\nUserKey=" + userKeyOf(earlier) + "\r\n[Lang]\r\nLangKey=2\r\n");
    settings.LoadUser();
    ASSERT_EQ(*settings.login, earlier);

    settings.RememberLogin(false, u"192.168.2.7", u"eve", u"other");
    LoginRecord expected = earlier;
    expected.setHold(0);
    expected.setPort(19436);
    EXPECT_EQ(storedRecord(), expected);
    EXPECT_EQ(IniFile::load(settings.setupPath).readInt(u"Lang", u"LangKey", 0), 2);

    settings.RememberLogin(true, u"192.168.2.7", u"eve", u"other");
    EXPECT_EQ(storedRecord().ip(), u"192.168.2.7");
    EXPECT_EQ(storedRecord().user(), u"eve");
    EXPECT_EQ(storedRecord().password(), u"other");
    EXPECT_EQ(storedRecord().hold(), 1);
}

TEST_F(Settings, NamesInAnyCaseAndPlatformKeepsLowEightBits)
{
    LoginRecord held;
    held.setDefaults();
    held.setHold(1);
    for (auto [value, expected] : {std::pair{"258", 2}, {"1", 1}, {"-1", 255}, {"x", 0}}) {
        test::writeBytes(settings.setupPath,
                         "[user]\nuserkey=" + userKeyOf(held) + "\n[PROC]\nplatform=" + value + "\n");
        settings.LoadUser();
        EXPECT_EQ(*settings.platform, expected) << value;
        EXPECT_EQ(settings.login->hold(), 1);
    }
}

class DamagedUserKey
    : public Settings
    , public ::testing::WithParamInterface<std::pair<const char*, std::string>>
{
};

TEST_P(DamagedUserKey, FallsBackToTheDefaultAndRewritesIt)
{
    test::writeBytes(settings.setupPath, "; keep me\n[User]\nUserKey=" + GetParam().second + "\n[Proc]\nPlatform=1\n");
    settings.LoadUser();
    EXPECT_EQ(settings.login->user(), u"admin");
    EXPECT_EQ(setupFile(), std::string("; keep me\n[User]\nUserKey=") + kDefaultUserKey + "\n[Proc]\nPlatform=1\n");
    EXPECT_EQ(*settings.platform, 1);
}

std::string validOtherKey()
{
    LoginRecord r;
    r.setUser(u"bob");
    return userKeyOf(r);
}

INSTANTIATE_TEST_SUITE_P(Values, DamagedUserKey,
                         ::testing::Values(std::pair{"wrongChecksum", validOtherKey().substr(0, 336) + "00"},
                                           std::pair{"oddLength", validOtherKey() + "0"},
                                           std::pair{"shortRecord", validOtherKey().substr(2)},
                                           std::pair{"badDigit", "Z" + validOtherKey().substr(1)},
                                           std::pair{"empty", std::string()}),
                         [](const auto& info) { return info.param.first; });

TEST_F(Settings, LongTextsFillTheirFieldWithoutTerminator)
{
    settings.LoadUser();
    const std::u16string name40(40, u'n');
    settings.RememberLogin(true, u"192.168.222.222.1", name40, u"secret");
    const LoginRecord stored = storedRecord();
    EXPECT_EQ(stored.user(), std::u16string(32, u'n'));
    EXPECT_EQ(stored.password(), u"secret"); // the next field, not run into
    EXPECT_EQ(stored.ip(), u"192.168.222.222.");
    EXPECT_EQ(stored.bytes[LoginRecord::kUser.offset + 62], 'n');
    EXPECT_EQ(stored.bytes[LoginRecord::kUser.offset + 63], 0);
}

TEST_F(Settings, SavesWriteTheFileButNotTheBytesInMemory)
{
    settings.LoadUser();
    settings.SavePlatform(1);
    settings.SaveLanguage(2);
    EXPECT_EQ(*settings.platform, 0);
    EXPECT_EQ(setupFile(),
              test::nativeLines(std::string("[User]\nUserKey=") + kDefaultUserKey +
                                "\n\n[Proc]\nPlatform=1\n\n[Lang]\nLangKey=2\n"));
}

TEST_F(Settings, AFailedWriteChangesNothingAndReportsNothing)
{
    settings.LoadUser();
    const std::string before = setupFile();
    simulateDiskFullAfter(16);
    settings.RememberLogin(true, u"10.1.1.1", u"x", u"y");
    settings.SaveLanguage(2);
    EXPECT_EQ(setupFile(), before);
    EXPECT_EQ(folder.entryCount(), 1u);
    EXPECT_EQ(settings.login->ip(), u"10.1.1.1"); // memory keeps the new login
}

#ifndef _WIN32
TEST_F(Settings, AReadOnlyFolderChangesNothing)
{
    settings.LoadUser();
    const std::string before = setupFile();
    test::makeReadOnlyForAll(folder.path());
    const int child = test::runUnprivileged([this] {
        EXPECT_FALSE(folderIsWritable(folder.path()));
        settings.RememberLogin(true, u"10.1.1.1", u"x", u"y");
        settings.SavePlatform(1);
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(setupFile(), before);
    EXPECT_EQ(folder.entryCount(), 1u);
}
#endif

TEST(SettingsObject, AProgramFolderThatIsAFileGivesDefaultsSilently)
{
    test::TempFolder folder;
    test::writeBytes(folder / "plain", "plain");
    CSettings s;
    s.Init(folder / "plain");
    s.LoadUser();
    s.SaveLanguage(2);
    s.LoadTexts();
    EXPECT_EQ(s.login->user(), u"admin");
    EXPECT_EQ((*s.texts)[0], u"Default");
    EXPECT_EQ(test::readBytes(folder / "plain"), "plain");
    EXPECT_EQ(folder.entryCount(), 1u);
}

#ifndef _WIN32
// An installed copy: a program folder that may hold an administrator's defaults, and a user whose
// configuration folder does not exist yet. Each start runs where permission bits bind.
class UserSettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::makeReadOnlyForAll(folder.path());
        fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::add);
        fs::create_directory(program);
        test::makeWritableForAll(program);
        fs::create_directory(home);
        test::makeWritableForAll(home);
        // A desktop session's umask, which alone would give 0755 folders and 0644 files.
        savedUmask = ::umask(022);
    }
    void TearDown() override
    {
        ::umask(savedUmask);
        fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
    }

    static unsigned modeOf(const fs::path& path)
    {
        struct stat st
        {
        };
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
    }

    // One start of the console, as far as settings go: Init, LoadUser and LoadTexts, then `use`.
    void start(const std::function<void(CSettings&)>& use)
    {
        const int child = test::runUnprivileged([&] {
            CSettings s;
            s.Init(program, userFolder);
            s.LoadUser();
            s.LoadTexts();
            use(s);
        });
        EXPECT_EQ(child, 0) << "a start of the settings failed";
    }

    static std::string heldLoginFile(std::u16string_view ip, int language)
    {
        LoginRecord r;
        r.setDefaults();
        r.setIp(ip);
        r.setHold(1);
        return "[User]\nUserKey=" + userKeyOf(r) + "\n[Lang]\nLangKey=" + std::to_string(language) + "\n";
    }

    mode_t savedUmask = 0;
    test::TempFolder folder;
    const fs::path program = folder / "program";
    const fs::path home = folder / "home";
    const fs::path userFolder = home / ".config" / "OrvCamera";
};

TEST_F(UserSettingsFile, AWritableProgramFolderKeepsEverythingBesideIt)
{
    start([&](CSettings& s) {
        EXPECT_FALSE(s.perUser);
        EXPECT_EQ(s.setupPath, program / "orv_setup.ini");
        s.SaveLanguage(1);
        EXPECT_TRUE(rememberLedgerLocation(searchToolStateFile(s), "ledger.db"));
    });
    EXPECT_EQ(IniFile::load(program / "orv_setup.ini").readInt(u"Lang", u"LangKey", 0), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(program), {}), 2); // no probe left behind
    EXPECT_FALSE(fs::exists(home / ".config"));
    // A portable folder is the user's own: its files get what the user's umask gives, except the
    // settings file, which holds the remembered password and is made the user's only.
    EXPECT_EQ(modeOf(program / "orv_setup.ini"), 0600u);
    EXPECT_EQ(modeOf(program / "orv_searchtool.ini"), 0644u);
}

TEST_F(UserSettingsFile, TheUsersFolderAndEveryFileInItAreTheUsersOnly)
{
    test::makeReadOnlyForAll(program);
    start([](CSettings& s) {
        EXPECT_TRUE(s.perUser);
        s.RememberLogin(true, u"10.9.9.9", u"bob", u"secret");
        s.SaveLanguage(2);
        EXPECT_TRUE(rememberLedgerLocation(searchToolStateFile(s), "ledger.db"));
    });
    EXPECT_EQ(modeOf(home / ".config"), 0700u);
    EXPECT_EQ(modeOf(userFolder), 0700u);
    EXPECT_EQ(modeOf(userFolder / "orv_setup.ini"), 0600u);
    EXPECT_EQ(modeOf(userFolder / "orv_searchtool.ini"), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(userFolder), {}), 2);
}

TEST_F(UserSettingsFile, AnOlderVersionsReadableFolderAndFileAreTightenedAtStart)
{
    test::makeReadOnlyForAll(program);
    // As an older version left them, created by the user.
    ASSERT_EQ(test::runUnprivileged([&] {
                  fs::create_directories(userFolder);
                  fs::permissions(userFolder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                                  fs::perms::others_read | fs::perms::others_exec);
                  test::writeBytes(userFolder / "orv_setup.ini", heldLoginFile(u"10.0.0.7", 2));
                  test::writeBytes(userFolder / "orv_searchtool.ini", "[Ledger]\nLocation=old.db\n");
              }),
              0);
    ASSERT_EQ(modeOf(userFolder / "orv_setup.ini"), 0644u);

    start([](CSettings& s) { EXPECT_EQ(s.login->ip(), u"10.0.0.7"); });
    EXPECT_EQ(modeOf(userFolder), 0700u);
    EXPECT_EQ(modeOf(userFolder / "orv_setup.ini"), 0600u);
    // The search tool's file is tightened when it is next written.
    EXPECT_EQ(modeOf(userFolder / "orv_searchtool.ini"), 0644u);
    start([](CSettings& s) { EXPECT_TRUE(rememberLedgerLocation(searchToolStateFile(s), "new.db")); });
    EXPECT_EQ(modeOf(userFolder / "orv_searchtool.ini"), 0600u);
}

TEST_F(UserSettingsFile, AReadOnlyProgramFolderGivesTheUserACopyOfItsDefaults)
{
    const std::string shipped = heldLoginFile(u"10.0.0.5", 2);
    test::writeBytes(program / "orv_setup.ini", shipped);
    test::makeReadOnlyForAll(program);

    start([&](CSettings& s) {
        EXPECT_TRUE(s.perUser);
        EXPECT_EQ(s.setupPath, userFolder / "orv_setup.ini");
        EXPECT_EQ(s.languagePath, program / "orv_language.ini");
        EXPECT_EQ(s.login->ip(), u"10.0.0.5");
        EXPECT_EQ(*s.language, 2);
        s.RememberLogin(true, u"10.9.9.9", u"bob", u"pw");
        s.SavePlatform(1);
    });
    EXPECT_EQ(test::readBytes(program / "orv_setup.ini"), shipped);
    EXPECT_EQ(std::distance(fs::directory_iterator(program), {}), 1);

    // The next start finds the user's own file and does not copy the defaults over it.
    start([&](CSettings& s) {
        EXPECT_EQ(s.login->ip(), u"10.9.9.9");
        EXPECT_EQ(s.login->user(), u"bob");
        EXPECT_EQ(*s.platform, 1);
        EXPECT_EQ(*s.language, 2);
    });
}

TEST_F(UserSettingsFile, WithoutDefaultsTheUsersFileStartsWithTheDefaultRecord)
{
    test::makeReadOnlyForAll(program);
    start([](CSettings& s) { EXPECT_TRUE(s.perUser); });
    EXPECT_EQ(test::readBytes(userFolder / "orv_setup.ini"), std::string("[User]\nUserKey=") + kDefaultUserKey + "\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(program), {}), 0);
}

TEST_F(UserSettingsFile, AProgramFolderThatBecomesReadOnlyBetweenTwoStartsKeepsLoginAndLanguage)
{
    start([](CSettings& s) {
        EXPECT_FALSE(s.perUser);
        s.RememberLogin(true, u"10.1.1.1", u"bob", u"pw");
        s.SaveLanguage(1);
    });
    test::makeReadOnlyForAll(program);
    start([](CSettings& s) {
        EXPECT_TRUE(s.perUser);
        EXPECT_EQ(s.login->ip(), u"10.1.1.1");
        EXPECT_EQ(s.login->user(), u"bob");
        EXPECT_EQ(s.login->password(), u"pw");
        EXPECT_EQ(s.login->hold(), 1);
        EXPECT_EQ(*s.language, 1);
    });
    EXPECT_TRUE(fs::exists(userFolder / "orv_setup.ini"));
}

TEST_F(UserSettingsFile, WhenTheUsersFolderCannotBeMadeTheDefaultsStillApply)
{
    test::writeBytes(program / "orv_setup.ini", heldLoginFile(u"10.0.0.5", 1));
    test::makeReadOnlyForAll(program);
    test::writeBytes(home / ".config", "a file, not a folder");
    start([&](CSettings& s) {
        EXPECT_FALSE(s.perUser);
        EXPECT_EQ(s.setupPath, program / "orv_setup.ini");
        EXPECT_EQ(s.login->ip(), u"10.0.0.5");
        EXPECT_EQ(*s.language, 1);
    });
}
#endif

} // namespace
} // namespace orv
