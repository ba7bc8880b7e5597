#pragma once

#include "common/block.h"
#include "media/print_layout.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class QMenu;
class QPrinter;

namespace orvane {

// One picture of a channel, frozen in a window of its own that the operator can save as a
// .bmp file or print. It belongs to the main window (it stays in front of it and closes with
// it) and deletes itself when closed.
class SnapshotWindow : public QWidget {
    Q_OBJECT
  public:
    // Asks where to save; an empty path is a cancel. The program's is a save-file dialog.
    using FileChooser = std::function<QString(QWidget* parent)>;
    // Lets the operator set up the printer; false is a cancel. The program's is a print
    // dialog.
    using PrintSetup = std::function<bool(QPrinter& printer, QWidget* parent)>;
    static FileChooser chooseSaveFile;
    static PrintSetup setUpPrinter;

    // The window of lastPicture, or, when that is null, of storedFrame decoded (a packed
    // frame as received: BITMAPINFOHEADER, colours, data). Shown at once, its client area the
    // picture's size. nullptr, and no window, when neither gives a picture.
    static SnapshotWindow* Create(const QImage& lastPicture,
                                  std::span<const std::uint8_t> storedFrame, const QString& title,
                                  QWidget* parent);

    const QImage& picture() const { return picture_; }
    // The picture as a 24-bit packed DIB: what Save writes.
    const Block& packedDib() const { return packedDib_; }
    // Where the last print put the picture, in printer pixels.
    const std::optional<PrintPlacement>& lastPrintPlacement() const { return lastPlacement_; }

    // Sizes the window so its client area is exactly the picture.
    void SizeToPicture();
    // Puts a new snapshot over the middle of the main window.
    void PlaceOverOwner();
    // The context menu; its actions carry their command ids as data.
    std::unique_ptr<QMenu> MakeContextMenu();
    void RunCommand(int commandId);
    void OnSaveFile();
    void OnPrint();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    SnapshotWindow(QImage picture, const QString& title, QWidget* parent);

    QImage picture_;
    Block packedDib_;
    std::optional<PrintPlacement> lastPlacement_;
};

namespace snaptext {
inline constexpr const char* kSaveFile = "Save a file";
inline constexpr const char* kPrint = "Print";
inline constexpr const char* kSaveOk = "\n\n Save OK. \n\n";
inline constexpr const char* kSaveFailed = "Cannot save the snapshot to\n%1\n\n%2";
inline constexpr const char* kPrintFailed = "Cannot start printing the snapshot.";
inline constexpr const char* kDefaultFileName = "capture";
inline constexpr const char* kDefaultSuffix = "bmp";
inline constexpr const char* kBitmapFilter = "Bitmap file (*.bmp)";
}  // namespace snaptext

}  // namespace orvane
