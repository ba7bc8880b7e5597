// Online help: which guide it opens, and how the guide's Markdown becomes its HTML pages.
#include "app/help_location.h"
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "guide_html.h"
#include "shared/command_ids.h"
#include "support/scoped_env.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(OnlineHelp, WithoutABrowserTheOperatorIsToldWhereTheGuideIs) {
    test::TempStore temp;
    test::UseFreeListenPort(temp.path());
    test::ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    // No xdg-open nor any browser on the path: the desktop cannot show a page.
    test::ScopedEnv path{"PATH", QByteArray::fromStdString(temp.folder())};
    test::ScriptedPrompts prompts;
    ViewerApp app;
    ASSERT_EQ(app.InitInstance({"orvane", "/Embedding"}), ViewerApp::StartResult::Started);
    app.mainFrame()->RunCommand(cmd::kOnlineHelp);
    ASSERT_EQ(prompts.texts().size(), 1);
    const QString told = prompts.texts()[0];
    EXPECT_TRUE(told.contains("The guide is at\n/") && told.endsWith(".html"))
        << told.toStdString();
}

// Installed pages (PREFIX/bin beside PREFIX/share/orvane/help) come before a build tree's
// (BUILD/src/app beside BUILD/help); with neither, none. A folder is no page.
TEST(HelpLocation, InstalledGuideComesFirstThenTheBuildsThenNone) {
    const QTemporaryDir root;
    const QString app = root.filePath("src/app");
    const QString installed = root.filePath("src/share/orvane/help/index.html");
    const QString built = root.filePath("help/index.html");
    ASSERT_TRUE(QDir().mkpath(app) && QDir().mkpath(installed) && QDir(root.path()).mkdir("help"));
    EXPECT_TRUE(FindHelpIndex(app).isEmpty());
    test::WriteFileBytes(built.toStdString(), "");
    EXPECT_EQ(FindHelpIndex(app), built);
    ASSERT_TRUE(QDir(installed).removeRecursively());
    test::WriteFileBytes(installed.toStdString(), "");
    EXPECT_EQ(FindHelpIndex(app), installed);
}

// The page keeps its structure; links to the guide's pages go to their HTML, nothing else.
TEST(GuidePage, KeepsTheStructureOfThePage) {
    const QString html = guide::RenderPage(
        "# Connecting\n\n"
        "Press **Connect** and type `admin`; see [options](options.md).\n\n"
        "[a](connect.md#id-code) [b](sub/page.md) [c](https://example.org/readme.md) [d](#top) "
        "[e](notes.mdx)\n\n"
        "![The dialog](images/connect.png)\n\n"
        "1. First\n2. Second\n   - inner\n3. Third\n\n"
        "| Field | Meaning |\n|---|---|\n| User name: | up to 20 characters |\n\n"
        "```\norvane-cli probe 127.0.0.1:1000\nclip: a<b>.avi\n```\n");
    // Code keeps its lines in one block, escaped; a heading is not bold twice.
    for (const char* part :
         {"<title>Connecting - Orvane</title>", "<h1>Connecting</h1>", "<strong>Connect</strong>",
          "<code>admin</code>", "<a href=\"options.html\">options</a>",
          "<a href=\"connect.html#id-code\">a</a>", "<a href=\"sub/page.html\">b</a>",
          "<a href=\"https://example.org/readme.md\">c</a>", "<a href=\"#top\">d</a>",
          "<a href=\"notes.mdx\">e</a>", "<img src=\"images/connect.png\" alt=\"The dialog\">",
          "<ol>\n<li>First</li>\n<li>Second<ul>\n<li>inner</li>\n</ul>\n</li>\n"
          "<li>Third</li>\n</ol>",
          "<tr><th>Field</th><th>Meaning</th></tr>",
          "<tr><td>User name:</td><td>up to 20 characters</td></tr>",
          "<pre><code>orvane-cli probe 127.0.0.1:1000\nclip: a&lt;b&gt;.avi</code></pre>"}) {
        EXPECT_TRUE(html.contains(part)) << part;
    }
}

}  // namespace
}  // namespace orvane
