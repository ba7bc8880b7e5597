// The snapshot window: its picture and size, saving it as a .bmp file and printing it.
#include "frame_source.h"
#include "media/print_layout.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/scripted_prompts.h"
#include "support/temp_store.h"
#include "video/snapshot_commands.h"
#include "video/snapshot_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QPointer>
#include <QPrinter>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// A camera-like picture as the windows get it.
QImage Pattern(int width, int height) {
    return sim::TestPattern(0, 0, QSize(width, height)).convertToFormat(QImage::Format_RGB32);
}

class SnapshotWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        main.setCentralWidget(new QWidget);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        // Without choosers no test can reach a real modal dialog; none here wants one.
        SnapshotWindow::chooseSaveFile = nullptr;
        SnapshotWindow::setUpPrinter = nullptr;
    }

    // A snapshot of picture taken from a widget inside the main window.
    SnapshotWindow* Take(const QImage& picture, std::span<const std::uint8_t> frame = {}) {
        snapshot = SnapshotWindow::Create(picture, frame, "0003 Gate", main.centralWidget());
        return snapshot.data();
    }
    QString InTemp(const char* name) const { return QString::fromStdString(temp.File(name)); }

    test::TempStore temp;
    test::ScriptedPrompts prompts;
    QMainWindow main;
    QPointer<SnapshotWindow> snapshot;
};

// A dialog-type window over the main window (the only kind X window managers keep in front of
// it), its client area the picture stretched, deleting itself. Without a picture the stored
// frame is decoded; with neither, or a frame that is not one, no window and nothing said.
TEST_F(SnapshotWindowTest, AWindowOfItsOwnWhoseClientAreaIsThePicture) {
    const QImage picture = Pattern(160, 120);
    SnapshotWindow* window = Take(picture);
    ASSERT_TRUE(window && QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowHandle()->transientParent(), main.windowHandle());
    EXPECT_EQ(window->windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_EQ(window->grab().toImage().convertToFormat(QImage::Format_RGB32), picture);
    window->resize(320, 240);
    ASSERT_TRUE(test::WaitUntil([&] { return window->size() == QSize(320, 240); }));
    const QImage stretched = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_LT(test::MeanDifference(stretched, picture.scaled(320, 240)), 3.0);
    window->close();
    EXPECT_TRUE(test::WaitUntil([&] { return snapshot.isNull(); }));

    EXPECT_EQ(Take(QImage()), nullptr);
    EXPECT_EQ(Take(QImage(), Block(100, 0x5A)), nullptr);
    EXPECT_TRUE(prompts.shown().empty());
    const auto frame =
        sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, picture.size())->Encode(picture);
    ASSERT_TRUE(frame);
    window = Take(QImage(), *frame);
    ASSERT_NE(window, nullptr);
    EXPECT_LT(test::MeanDifference(window->picture(), picture), 8.0);
    EXPECT_EQ(window->rect().size(), picture.size());
}

// Saving is offered by the context menu; the window asks over itself and says "Save OK." only
// for a written file, which file it could not write, and nothing when cancelled.
TEST_F(SnapshotWindowTest, SaveSaysOkOnlyForAWrittenFileAndNothingWhenCancelled) {
    SnapshotWindow* window = Take(Pattern(160, 120));
    ASSERT_TRUE(window && QTest::qWaitForWindowExposed(window));
    QString chosen = InTemp("capture.bmp");
    QWidget* askedBy = nullptr;
    SnapshotWindow::chooseSaveFile = [&](QWidget* parent) {
        askedBy = parent;
        return chosen;
    };
    QTimer::singleShot(0, [] {  // the first entry of the menu
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(window, &click);
    EXPECT_EQ(askedBy, window);
    EXPECT_TRUE(QFileInfo::exists(chosen));
    EXPECT_EQ(prompts.texts(), QStringList{snaptext::kSaveOk});

    chosen = InTemp("missing/folder/capture.bmp");
    window->RunCommand(snapcmd::kSaveFile);
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_TRUE(prompts.texts()[1].contains(QDir::toNativeSeparators(chosen)))
        << prompts.texts()[1].toStdString();
    chosen.clear();
    window->RunCommand(snapcmd::kSaveFile);
    EXPECT_EQ(prompts.shown().size(), 2u);
}

// Printed at the printer's resolution as the layout places it for this screen; a printer that
// cannot start prints nothing and says so; a cancelled print dialog says nothing.
TEST_F(SnapshotWindowTest, PrintPlacesThePictureAtThePrintersResolution) {
    SnapshotWindow* window = Take(Pattern(320, 240));
    ASSERT_NE(window, nullptr);
    const QScreen* screen = window->screen();
    const QSizeF screenDpi(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
    QString pdf = InTemp("snapshot.pdf");
    std::optional<PrintPlacement> expected;
    SnapshotWindow::setUpPrinter = [&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        const QSizeF dpi(printer.logicalDpiX(), printer.logicalDpiY());
        expected = PlaceForPrint({320, 240}, screenDpi, dpi, {printer.width(), printer.height()});
        return true;
    };
    window->RunCommand(snapcmd::kPrint);
    EXPECT_TRUE(test::ReadFileBytes(pdf.toStdString()).starts_with("%PDF-"));
    ASSERT_TRUE(window->lastPrintPlacement() && expected);
    EXPECT_EQ(window->lastPrintPlacement()->target, expected->target);

    pdf = InTemp("missing/snapshot.pdf");
    window->RunCommand(snapcmd::kPrint);
    EXPECT_FALSE(QFileInfo::exists(pdf));
    EXPECT_EQ(prompts.texts(), QStringList{snaptext::kPrintFailed});
    SnapshotWindow::setUpPrinter = [](QPrinter&, QWidget*) { return false; };
    window->RunCommand(snapcmd::kPrint);
    EXPECT_EQ(prompts.shown().size(), 1u);
}

}  // namespace
}  // namespace orvane
