// The snapshot window: its picture and size, saving it as a .bmp file and printing it.
#include "frame_source.h"
#include "media/decoded_picture.h"
#include "media/print_layout.h"
#include "support/event_loop.h"
#include "support/independent_readers.h"
#include "support/media_samples.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/snapshot_commands.h"
#include "video/snapshot_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::WaitUntil;

// A camera-like picture as the windows get it.
QImage Pattern(int width, int height) {
    return sim::TestPattern(0, 0, QSize(width, height)).convertToFormat(QImage::Format_RGB32);
}

// The titles of the snapshot windows shown.
QStringList SnapshotWindows() {
    QStringList titles;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<SnapshotWindow*>(widget) && widget->isVisible()) {
            titles << widget->windowTitle();
        }
    }
    return titles;
}

class SnapshotWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        main.setCentralWidget(new QWidget);
        main.resize(800, 600);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        savedChooser = SnapshotWindow::chooseSaveFile;
        savedPrintSetup = SnapshotWindow::setUpPrinter;
        // No test may reach a real modal dialog.
        SnapshotWindow::chooseSaveFile = [](QWidget*) {
            ADD_FAILURE() << "unexpected save dialog";
            return QString();
        };
        SnapshotWindow::setUpPrinter = [](QPrinter&, QWidget*) {
            ADD_FAILURE() << "unexpected print dialog";
            return false;
        };
    }
    void TearDown() override {
        SnapshotWindow::chooseSaveFile = savedChooser;
        SnapshotWindow::setUpPrinter = savedPrintSetup;
        delete snapshot.data();
    }

    // A snapshot of picture taken from a widget inside the main window.
    SnapshotWindow* Take(const QImage& picture, std::span<const std::uint8_t> frame = {}) {
        snapshot = SnapshotWindow::Create(picture, frame, "0003 Gate", main.centralWidget());
        return snapshot.data();
    }

    QString InTemp(const std::string& name) const {
        return QString::fromStdString(temp.File(name));
    }

    test::TempStore temp;
    test::ScriptedPrompts prompts;
    QMainWindow main;
    QPointer<SnapshotWindow> snapshot;
    SnapshotWindow::FileChooser savedChooser;
    SnapshotWindow::PrintSetup savedPrintSetup;
};

TEST_F(SnapshotWindowTest, AWindowOfItsOwnWhoseClientAreaIsThePicture) {
    const QImage picture = Pattern(160, 120);
    SnapshotWindow* window = Take(picture);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "0003 Gate");
    EXPECT_EQ(window->rect().size(), QSize(160, 120));
    EXPECT_EQ(window->geometry().size(), QSize(160, 120));
    EXPECT_EQ(window->parentWidget(), &main);
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_EQ(window->windowHandle()->transientParent(), main.windowHandle());
    const Qt::WindowFlags flags = window->windowFlags();
    // Of dialog type, the only kind X window managers keep in front of the main window.
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinMaxButtonsHint));
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(window->picture(), picture);
    EXPECT_EQ(window->packedDib(), ToPackedDib24(picture));

    EXPECT_EQ(window->grab().toImage().convertToFormat(QImage::Format_RGB32), picture);
    // Stretched over the client area whatever its size.
    window->resize(320, 240);
    ASSERT_TRUE(WaitUntil([&] { return window->size() == QSize(320, 240); }));
    const QImage stretched = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_LT(test::MeanDifference(stretched, picture.scaled(320, 240)), 3.0);

    window->close();
    EXPECT_TRUE(WaitUntil([&] { return snapshot.isNull(); }));  // it deletes itself
}

TEST_F(SnapshotWindowTest, WithoutAPictureTheStoredFrameIsDecoded) {
    const QSize size(160, 120);
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, size);
    ASSERT_NE(encoder, nullptr);
    const QImage sent = sim::TestPattern(0, 0, size);
    const auto frame = encoder->Encode(sent);
    ASSERT_TRUE(frame);
    SnapshotWindow* window = Take(QImage(), *frame);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->picture().size(), size);
    EXPECT_LT(test::MeanDifference(window->picture(), sent), 8.0);
    EXPECT_EQ(window->rect().size(), size);
    EXPECT_EQ(window->packedDib(), ToPackedDib24(window->picture()));
}

TEST_F(SnapshotWindowTest, NoPictureAndNoFrameMakeNoWindow) {
    EXPECT_EQ(Take(QImage()), nullptr);
    const Block garbage(100, 0x5A);
    EXPECT_EQ(Take(QImage(), garbage), nullptr);
    EXPECT_TRUE(SnapshotWindows().isEmpty());
    EXPECT_TRUE(prompts.shown().empty());
}

// The file's bytes are the bitmap writer's; the window asks over itself, leaves the current
// folder alone, and says what came of it.
TEST_F(SnapshotWindowTest, SaveSaysOkOnlyForAWrittenFileAndNothingWhenCancelled) {
    SnapshotWindow* window = Take(Pattern(160, 120));
    ASSERT_NE(window, nullptr);
    const struct {
        const char* name;
        QString chosen;
        QStringList said;
        PromptIcon icon;
    } rows[] = {
        {"written", InTemp("capture.bmp"), {"\n\n Save OK. \n\n"}, PromptIcon::None},
        {"no such folder", InTemp("missing/folder/capture.bmp"), {}, PromptIcon::Exclamation},
        {"cancelled", QString(), {}, PromptIcon::None},
    };
    const QString currentBefore = QDir::currentPath();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = prompts.shown().size();
        QWidget* askedBy = nullptr;
        SnapshotWindow::chooseSaveFile = [&](QWidget* parent) {
            askedBy = parent;
            return row.chosen;
        };
        window->RunCommand(snapcmd::kSaveFile);
        EXPECT_EQ(askedBy, window);
        EXPECT_EQ(QDir::currentPath(), currentBefore);
        const bool written = !row.said.isEmpty();
        EXPECT_EQ(!row.chosen.isEmpty() && QFileInfo::exists(row.chosen), written);
        if (row.chosen.isEmpty()) {
            EXPECT_EQ(prompts.shown().size(), before);
            continue;
        }
        ASSERT_EQ(prompts.shown().size(), before + 1);
        const PromptRequest& said = prompts.shown().back();
        EXPECT_EQ(said.icon, row.icon);
        if (written) {
            EXPECT_EQ(said.text, row.said[0]);
            EXPECT_EQ(said.buttons, PromptButtons::Ok);
        } else {
            EXPECT_TRUE(said.text.contains(QDir::toNativeSeparators(row.chosen)))
                << said.text.toStdString();
            EXPECT_FALSE(said.text.contains("Save OK"));
        }
    }
    EXPECT_EQ(QDir(QString::fromStdString(temp.folder())).entryList(QDir::Files),
              QStringList{"capture.bmp"});
}

TEST_F(SnapshotWindowTest, PrintPlacesThePictureAtThePrintersResolution) {
    SnapshotWindow* window = Take(Pattern(320, 240));
    ASSERT_NE(window, nullptr);
    const QString pdf = InTemp("snapshot.pdf");
    QSizeF printerDpi;
    QSize page;
    SnapshotWindow::setUpPrinter = [&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printerDpi = QSizeF(printer.logicalDpiX(), printer.logicalDpiY());
        page = QSize(printer.width(), printer.height());
        return true;
    };
    window->RunCommand(snapcmd::kPrint);
    EXPECT_TRUE(prompts.shown().empty());
    QFile printed(pdf);
    ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(printed.read(5) == "%PDF-");
    EXPECT_GT(printed.size(), 1000);

    ASSERT_TRUE(window->lastPrintPlacement());
    const PrintPlacement used = *window->lastPrintPlacement();
    const QScreen* screen = window->screen();
    const PrintPlacement expected = PlaceForPrint(
        QSize(320, 240), QSizeF(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()),
        printerDpi, page);
    EXPECT_EQ(used.target, expected.target);
    EXPECT_DOUBLE_EQ(used.factorX, expected.factorX);
    // A high-resolution printer enlarges the picture, centred on the page.
    EXPECT_GT(used.target.width(), 320);
    EXPECT_TRUE(QRect(QPoint(0, 0), page).contains(used.target));
    EXPECT_LE(std::abs(used.target.center().x() - page.width() / 2), 1);
}

TEST_F(SnapshotWindowTest, APrinterThatCannotStartPrintsNothingAndSays) {
    SnapshotWindow* window = Take(Pattern(160, 120));
    ASSERT_NE(window, nullptr);
    const QString pdf = InTemp("missing/snapshot.pdf");
    SnapshotWindow::setUpPrinter = [&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    window->RunCommand(snapcmd::kPrint);
    EXPECT_FALSE(window->lastPrintPlacement());
    EXPECT_FALSE(QFileInfo::exists(pdf));
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].text, snaptext::kPrintFailed);
    EXPECT_EQ(prompts.shown()[0].icon, PromptIcon::Exclamation);

    // A cancelled print dialog prints nothing and says nothing.
    SnapshotWindow::setUpPrinter = [](QPrinter&, QWidget*) { return false; };
    window->RunCommand(snapcmd::kPrint);
    EXPECT_EQ(prompts.shown().size(), 1u);
}

TEST_F(SnapshotWindowTest, TheContextMenuOffersSaveAndPrint) {
    SnapshotWindow* window = Take(Pattern(160, 120));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QString path = InTemp("from-menu.bmp");
    SnapshotWindow::chooseSaveFile = [&](QWidget*) { return path; };

    QStringList texts;
    QList<int> ids;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        for (QAction* action : menu->actions()) {
            texts << action->text();
            ids << action->data().toInt();
        }
        menu->setActiveAction(menu->actions().value(0));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(window, &click);
    EXPECT_EQ(texts, (QStringList{"Save a file", "Print"}));
    EXPECT_EQ(ids, (QList<int>{snapcmd::kSaveFile, snapcmd::kPrint}));
    // The chosen item runs its command.
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(prompts.texts(), QStringList{"\n\n Save OK. \n\n"});
}

}  // namespace
}  // namespace orvane
