#include "shell/AppSettings.h"
#include "shell/FerrovanLogger.h"
#include "shell/JsonFile.h"

#include "LogFileTestSupport.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace {

using ferrovan::AppSettings;
using ferrovan::CFerrovanLogger;
using fv_test::modeOf;

struct Fields {
    std::int32_t top, left, width, height;
    bool maximized, autoUpdates;

    bool operator==(const Fields& other) const
    {
        return top == other.top && left == other.left && width == other.width && height == other.height &&
               maximized == other.maximized && autoUpdates == other.autoUpdates;
    }
};

std::ostream& operator<<(std::ostream& out, const Fields& f)
{
    return out << "{" << f.top << ", " << f.left << ", " << f.width << ", " << f.height << ", " << f.maximized << ", "
               << f.autoUpdates << "}";
}

Fields fieldsOf(const AppSettings& settings)
{
    return {settings.getTop(),    settings.getLeft(),     settings.getWidth(),
            settings.getHeight(), settings.isMaximized(), settings.isAutoUpdatesEnabled()};
}

const Fields kDefaults = {0, 0, 1400, 900, false, true};

// Padding after the JSON value brings the file to `size` bytes.
std::string paddedTo(std::string json, std::size_t size)
{
    json.resize(size, ' ');
    return json;
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override { CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::string settingsPath() const { return m_dir.file("fv_settings.json"); }
    std::string logText() const { return fv_test::readFile(m_dir.file("fv_app.log")); }

    fv_test::TempDir m_dir;
};

TEST_F(Settings, LoadsWhatTheFileSaysAndKeepsDefaultsForWhatItCannot)
{
    struct Case {
        const char* name;
        std::string content;
        Fields expected;
    };
    const std::string small = R"({"autoUpdatesEnabled": false})";
    const Case cases[] = {
        {"everything",
         R"({"window": {"top": 10, "left": 20, "width": 800, "height": 600, "maximized": true},
                           "autoUpdatesEnabled": false})",
         {10, 20, 800, 600, true, false}},
        {"too small a window, a negative top",
         R"({"window": {"top": -5, "left": 10, "width": 150, "height": 50}})",
         {-5, 10, 1400, 900, false, true}},
        {"a monitor left of and above the primary",
         R"({"window": {"top": -1080, "left": -1920, "width": 1920, "height": 1080}})",
         {-1080, -1920, 1920, 1080, false, true}},
        {"smallest window kept", R"({"window": {"width": 200, "height": 100}})", {0, 0, 200, 100, false, true}},
        {"just below the smallest", R"({"window": {"width": 199, "height": 99}})", {0, 0, 1400, 900, false, true}},
        {"a string in the window",
         R"({"window": {"top": "x", "left": 3, "width": 900, "height": 700},
                                       "autoUpdatesEnabled": false})",
         {0, 0, 1400, 900, false, false}},
        {"a number over INT_MAX",
         R"({"window": {"top": 2147483648, "left": 3, "width": 900, "height": 700},
                                      "autoUpdatesEnabled": false})",
         {0, 0, 1400, 900, false, false}},
        {"the switch as a string", R"({"autoUpdatesEnabled": "no"})", kDefaults},
        {"booleans as numbers",
         R"({"window": {"width": 900, "height": 700, "maximized": 1}, "autoUpdatesEnabled": 0})",
         {0, 0, 900, 700, true, true}},
        {"a window that is no object",
         R"({"window": [1, 2], "autoUpdatesEnabled": false})",
         {0, 0, 1400, 900, false, false}},
        {"an array root", "[]", kDefaults},
        {"a number root", "5", kDefaults},
        {"a string root", R"("x")", kDefaults},
        {"truncated", R"({"window": {"top": 10, "left": 2)", kDefaults},
        {"empty", "", kDefaults},
        {"exactly 10 MiB", paddedTo(small, 10485760), {0, 0, 1400, 900, false, false}},
        {"one byte over 10 MiB", paddedTo(small, 10485761), kDefaults},
    };
    for (const Case& c : cases) {
        fv_test::writeFile(settingsPath(), c.content);
        EXPECT_EQ(c.expected, fieldsOf(AppSettings(settingsPath()))) << c.name;
    }
}

TEST_F(Settings, KeepsDefaultsWithoutAReadableFile)
{
    EXPECT_EQ(kDefaults, fieldsOf(AppSettings(settingsPath())));
    ASSERT_EQ(0, ::mkdir(settingsPath().c_str(), 0700));
    EXPECT_EQ(kDefaults, fieldsOf(AppSettings(settingsPath())));
}

TEST_F(Settings, WritesEveryValueInTheStyledFormOnlyForItsOwner)
{
    // An older file readable by everyone is replaced, not rewritten in place.
    fv_test::writeFile(settingsPath(), "{}");
    ASSERT_EQ(0, ::chmod(settingsPath().c_str(), 0644));
    AppSettings(settingsPath()).setWindowPosition(100, 200);
    EXPECT_EQ("{\n"
              "   \"autoUpdatesEnabled\" : true,\n"
              "   \"window\" : {\n"
              "      \"height\" : 900,\n"
              "      \"left\" : 200,\n"
              "      \"maximized\" : false,\n"
              "      \"top\" : 100,\n"
              "      \"width\" : 1400\n"
              "   }\n"
              "}\n",
              fv_test::readFile(settingsPath()));
    EXPECT_EQ(0600u, modeOf(settingsPath()));
    EXPECT_EQ(0u, modeOf(settingsPath() + ".tmp")) << "no temporary file is left";
}

TEST_F(Settings, EverySetterSavesWhatTheNextStartReads)
{
    fv_test::writeFile(settingsPath(), R"({"autoUpdatesEnabled": false})");
    {
        AppSettings settings(settingsPath());
        settings.setWindowRect(-40, -1900, 1024, 768);
    }
    EXPECT_EQ((Fields{-40, -1900, 1024, 768, false, false}), fieldsOf(AppSettings(settingsPath())));
    AppSettings(settingsPath()).setWindowSize(1280, 720, true);
    EXPECT_EQ((Fields{-40, -1900, 1280, 720, true, false}), fieldsOf(AppSettings(settingsPath())));
    AppSettings(settingsPath()).setWindowPlacement(30, 60, 800, 600, false);
    EXPECT_EQ((Fields{30, 60, 800, 600, false, false}), fieldsOf(AppSettings(settingsPath())));
}

TEST_F(Settings, AFailedWriteKeepsTheOldFileAndIsLogged)
{
    const std::string old = R"({"window": {"top": 1, "left": 2, "width": 300, "height": 400}})";
    fv_test::writeFile(settingsPath(), old);
    ASSERT_EQ(0, ::mkdir((settingsPath() + ".tmp").c_str(), 0700));
    AppSettings settings(settingsPath());
    EXPECT_FALSE(settings.save());
    settings.setWindowPosition(100, 200);
    EXPECT_EQ(old, fv_test::readFile(settingsPath()));
    const std::string log = logText();
    EXPECT_NE(std::string::npos,
              log.find("[Error] ferrovan::writeJsonToFile: Cannot create " + settingsPath() + ".tmp"))
        << log;
}

TEST(JsonFile, ReadsOnlyWholeJsonDocumentsOfAtMostTenMebibytes)
{
    fv_test::TempDir dir;
    Json::Value root;
    EXPECT_FALSE(ferrovan::readFileToString(dir.file("missing.json"), root));
    EXPECT_FALSE(ferrovan::readFileToString(dir.path(), root));
    fv_test::writeFile(dir.file("a.json"), R"({"a": [1, 2]})");
    ASSERT_TRUE(ferrovan::readFileToString(dir.file("a.json"), root));
    EXPECT_EQ(2, root["a"][1].asInt());
}

} // namespace
