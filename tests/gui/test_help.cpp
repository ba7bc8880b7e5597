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
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

void Touch(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

// A prefix with bin/ and share/, and a build tree with src/app/ and help/, in one folder.
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
    EXPECT_TRUE(prompts.texts()[0].contains("The guide is at\n/"))
        << prompts.texts()[0].toStdString();
    EXPECT_TRUE(prompts.texts()[0].endsWith(".html")) << prompts.texts()[0].toStdString();
}

// Installed pages (PREFIX/bin beside PREFIX/share/orvane/help) come before a build tree's
// (BUILD/src/app beside BUILD/help); with neither, the built-in page. A folder is no page.
TEST(HelpLocation, InstalledGuideComesFirstThenTheBuildsThenNone) {
    const QTemporaryDir root;
    const auto path = [&](const QString& relative) { return root.filePath(relative); };
    ASSERT_TRUE(QDir().mkpath(path("prefix/bin")) && QDir().mkpath(path("build/src/app")));
    EXPECT_TRUE(FindHelpIndex(path("prefix/bin")).isEmpty());
    Touch(path("prefix/share/orvane/help/index.html"));
    EXPECT_EQ(FindHelpIndex(path("prefix/bin")), path("prefix/share/orvane/help/index.html"));

    const QString app = path("build/src/app");
    EXPECT_TRUE(FindHelpIndex(app).isEmpty());
    ASSERT_TRUE(QDir().mkpath(path("build/src/share/orvane/help/index.html")));
    Touch(path("build/help/index.html"));
    EXPECT_EQ(FindHelpIndex(app), path("build/help/index.html"));
    Touch(path("build/share/orvane/help/index.html"));
    EXPECT_EQ(FindHelpIndex(path("build/src")), path("build/share/orvane/help/index.html"));
    ASSERT_TRUE(QDir(path("build/src/share/orvane/help/index.html")).removeRecursively());
    Touch(path("build/src/share/orvane/help/index.html"));
    EXPECT_EQ(FindHelpIndex(app), path("build/src/share/orvane/help/index.html"));
    EXPECT_EQ(HelpIndexCandidates(app), QStringList({path("build/src/share/orvane/help/index.html"),
                                                     path("build/help/index.html")}));
}

// Links to pages of the guide become links to their HTML; nothing else changes.
TEST(GuideLinks, PagesOfTheGuideBecomeHtmlAndNothingElseChanges) {
    const std::pair<QString, QString> rows[] = {
        {"connect.md", "connect.html"},
        {"connect.md#id-code", "connect.html#id-code"},
        {"sub/page.md", "sub/page.html"},
        {"images/connect.png", "images/connect.png"},
        {"https://example.org/readme.md", "https://example.org/readme.md"},
        {"#top", "#top"},
        {"notes.mdx", "notes.mdx"}};
    for (const auto& [link, rewritten] : rows) {
        EXPECT_EQ(guide::RewriteLink(link), rewritten);
    }
}

TEST(GuidePage, KeepsTheStructureOfThePage) {
    const QString html = guide::RenderPage(
        "# Connecting\n\n"
        "Press **Connect** and type `admin`; see [options](options.md).\n\n"
        "![The dialog](images/connect.png)\n\n"
        "1. First\n2. Second\n   - inner\n3. Third\n\n"
        "| Field | Meaning |\n|---|---|\n| User name: | up to 20 characters |\n\n"
        "```\norvane-cli probe 127.0.0.1:1000\nclip: a<b>.avi\n```\n");
    EXPECT_TRUE(html.contains("<title>Connecting - Orvane</title>"));
    EXPECT_TRUE(html.contains("<h1>Connecting</h1>"));  // not bold twice
    EXPECT_TRUE(html.contains("<strong>Connect</strong>"));
    EXPECT_TRUE(html.contains("<code>admin</code>"));
    EXPECT_TRUE(html.contains("<a href=\"options.html\">options</a>"));
    EXPECT_TRUE(html.contains("<img src=\"images/connect.png\" alt=\"The dialog\">"));
    EXPECT_TRUE(
        html.contains("<ol>\n<li>First</li>\n<li>Second<ul>\n<li>inner</li>\n</ul>\n"
                      "</li>\n<li>Third</li>\n</ol>"));
    EXPECT_TRUE(html.contains("<tr><th>Field</th><th>Meaning</th></tr>"));
    EXPECT_TRUE(html.contains("<tr><td>User name:</td><td>up to 20 characters</td></tr>"));
    // Code keeps its lines in one block, escaped.
    EXPECT_TRUE(html.contains(
        "<pre><code>orvane-cli probe 127.0.0.1:1000\nclip: a&lt;b&gt;.avi</code></pre>"));
}

TEST(GuideRendering, WritesEveryPageAndCopiesThePictures) {
    QTemporaryDir source;
    QTemporaryDir output;
    QFile page(source.filePath("index.md"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("# Orvane\n\n[Connect](connect.md)\n");
    page.close();
    Touch(source.filePath("connect.md"));
    Touch(source.filePath("images/connect.png"));
    Touch(source.filePath("notes.txt"));
    QString error;
    ASSERT_TRUE(guide::RenderGuide(source.path(), output.filePath("help"), error))
        << error.toStdString();
    const QDir help(output.filePath("help"));
    EXPECT_EQ(help.entryList(QDir::Files), QStringList({"connect.html", "index.html"}));
    EXPECT_TRUE(QFile::exists(help.filePath("images/connect.png")));
    // Rendering again over an earlier result works.
    EXPECT_TRUE(guide::RenderGuide(source.path(), help.path(), error)) << error.toStdString();

    // A source that cannot be read is named.
    Touch(source.filePath("broken.md"));
    QFile(source.filePath("broken.md")).setPermissions(QFileDevice::WriteOwner);
    if (!QFile(source.filePath("broken.md")).open(QIODevice::ReadOnly)) {  // not as root
        EXPECT_FALSE(guide::RenderGuide(source.path(), help.path(), error));
        EXPECT_TRUE(error.contains("broken.md"));
    }
}

}  // namespace
}  // namespace orvane
