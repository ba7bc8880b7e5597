// How the dialogs look and sit on the screen: their size, and where message boxes appear.
#include "app/about_dialog.h"
#include "app/options_dialog.h"
#include "common/code_page.h"
#include "net/connect_dialog.h"
#include "net/connect_flow.h"
#include "net/remote_control_dialogs.h"
#include "playback/clip_browser_dialog.h"
#include "shared/message_box_placement.h"
#include "site/channel_table.h"
#include "store/clip_removal.h"
#include "store/record_path_dialog.h"
#include "store/settings.h"
#include "store/site_book.h"
#include "store/site_book_dialog.h"
#include "support/temp_store.h"
#include "video/open_channel_dialog.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace orvane {
namespace {

// The designed dialogs keep the size their layout gives them: an operator cannot resize one.
TEST(DialogLook, EveryDesignedDialogHasItsFixedSize) {
    test::TempStore temp;
    auto opened = OpenSettings(temp.path());
    Settings& settings = opened.settings;
    ChannelTable channels;
    channels.Replace({{2, "Lobby"}, {7, "Gate"}});
    SiteBook book(settings.store());
    ClipIndex index(settings.store(), {});
    ClipHousekeeper housekeeper(settings.store());
    const ClipPlayerFactory noPlayer = [](const ClipRecord&, QWidget*) { return nullptr; };
    const std::vector<std::pair<const char*, std::function<std::unique_ptr<QDialog>()>>> rows{
        {"connect", [&] { return std::make_unique<ConnectDialog>(settings); }},
        {"open channel", [&] { return std::make_unique<OpenChannelDialog>(channels); }},
        {"remote control", [] { return std::make_unique<RemoteControlDialog>(); }},
        {"command", [] { return std::make_unique<CommandDialog>(CodePage()); }},
        {"about", [] { return std::make_unique<AboutDialog>(); }},
        {"retry", [] { return std::make_unique<RetryDialog>("IP Address : 127.0.0.1"); }},
        {"options", [&] { return std::make_unique<OptionsDialog>(settings, [](bool) {}); }},
        {"record path", [&] { return std::make_unique<RecordPathDialog>(settings); }},
        {"site book", [&] { return std::make_unique<SiteBookDialog>(false, book, CodePage()); }},
        {"clip browser",
         [&] { return std::make_unique<ClipBrowserDialog>(index, housekeeper, noPlayer); }},
    };
    for (const auto& [name, make] : rows) {
        SCOPED_TRACE(name);
        const std::unique_ptr<QDialog> dialog = make();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_EQ(dialog->size(), dialog->minimumSize());
    }
}

TEST(MessageBoxPlacement, CentresOnTheFrameAndStaysOnTheScreen) {
    const QRect screen(0, 0, 1280, 1024);
    const QSize box(300, 100);
    EXPECT_EQ(MessageBoxTopLeft({100, 50, 800, 600}, box + QSize(0, 1), screen), QPoint(350, 299));
    // A window hanging off the screen's edges pulls the box in, never out.
    EXPECT_EQ(MessageBoxTopLeft({-700, -500, 800, 600}, box, screen), QPoint(0, 0));
    EXPECT_EQ(MessageBoxTopLeft({1200, 900, 800, 600}, box, screen), QPoint(980, 924));
    // A second screen to the left has negative coordinates.
    EXPECT_EQ(MessageBoxTopLeft({-1000, 0, 800, 600}, {200, 100}, {-1280, 0, 1280, 1024}),
              QPoint(-700, 250));
}

TEST(MessageBoxPlacement, ABoxAskedForByAChildWidgetCentresOnItsWindow) {
    QWidget window;
    window.setGeometry(60, 40, 400, 300);
    auto* child = new QWidget(&window);
    child->setGeometry(250, 200, 120, 80);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QSize box(200, 100);
    const QPoint topLeft = MessageBoxTopLeft(*child, box);
    const QRect frame = window.frameGeometry();
    EXPECT_LE(std::abs(QRect(topLeft, box).center().x() - frame.center().x()), 1);
    EXPECT_LE(std::abs(QRect(topLeft, box).center().y() - frame.center().y()), 1);
    EXPECT_EQ(MessageBoxTopLeft(window, box), topLeft);
}

}  // namespace
}  // namespace orvane
