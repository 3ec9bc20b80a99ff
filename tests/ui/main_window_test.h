// The main window's fixture, shared by the test files that drive it: the
// real application started in-process for each test, and ended after it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "server/server.h"
#include "ui/status_display.h"
#include "ui_support.h"

inline std::string hostText()
{
    return serverSettings.hostIpText ? serverSettings.hostIpText : "(null)";
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(manifestCodePage(), 0u);
        ASSERT_EQ(GetACP(), manifestCodePage()) << "the manifest's code page, in any locale";
        app = startApp();
        ASSERT_TRUE(app.mainWindow) << "no main window: is there an X display (DISPLAY)?";
        ASSERT_TRUE(app.panel);
    }
    void TearDown() override { endApp(app); }

    void expectStoppedTexts()
    {
        EXPECT_EQ(std::string(statusTexts.stateLine), sjis("[ 停止 ] しています。"));
        EXPECT_EQ(std::string(statusTexts.indicatorGlyph), sjis("  ■  "));
        EXPECT_EQ(runIndicator, 0);
    }
    void expectRunningTexts()
    {
        EXPECT_EQ(std::string(statusTexts.stateLine), sjis("[ 稼動 ] しています。"));
        EXPECT_EQ(std::string(statusTexts.indicatorGlyph), sjis("  ▲  "));
        EXPECT_EQ(runIndicator, 1);
    }
    bool repaintRequested() const { return GetUpdateRect(app.mainWindow, nullptr, FALSE) != 0; }

    App app;
};
