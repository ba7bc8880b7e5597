#include "video/snapshot_window.h"

#include "common/log.h"
#include "media/bmp_file.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"
#include "shared/prompt_service.h"
#include "shared/window_cascade.h"
#include "video/snapshot_commands.h"
#include "wire/bitmap_info.h"

#include <QAbstractPrintDialog>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>

#include <utility>

namespace orvane {
namespace {

// A dialog-type window: the window manager keeps it in front of the main window, which an
// alarm's snapshots need (they are taken while a dialog is open, and the main window that gets
// the focus back must not cover them).
constexpr Qt::WindowFlags kWindowFlags = Qt::Dialog | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                         Qt::WindowCloseButtonHint;

// A stored frame is the channel's last one as received; its own decoder starts fresh, which
// an intra frame needs nothing more for.
QImage DecodeStoredFrame(std::span<const std::uint8_t> stored) {
    if (stored.empty()) {
        return {};
    }
    QString why;
    const QImage picture = DecodeSingleFrame(stored, &why);
    if (picture.isNull()) {
        qCWarning(lcMedia) << "snapshot: the stored frame gives no picture:" << why;
    }
    return picture;
}

// The dialogs are parented to the snapshot window and live on the heap: whatever closes the
// window while one is open takes the dialog with it, and the guard sees that.
QString ChooseWithDialog(QWidget* parent) {
    QPointer<QFileDialog> dialog = new QFileDialog(parent);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(snaptext::kDefaultSuffix);
    dialog->setNameFilter(snaptext::kBitmapFilter);
    dialog->selectFile(snaptext::kDefaultFileName);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog) {
        return {};
    }
    const QStringList files = dialog->selectedFiles();
    dialog->deleteLater();
    return accepted && !files.isEmpty() ? files.first() : QString();
}

bool SetUpWithDialog(QPrinter& printer, QWidget* parent) {
    QPointer<QPrintDialog> dialog = new QPrintDialog(&printer, parent);
    dialog->setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog->setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog->setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog->setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog) {
        return false;
    }
    dialog->deleteLater();
    return accepted;
}

}  // namespace

SnapshotWindow::FileChooser SnapshotWindow::chooseSaveFile = ChooseWithDialog;
SnapshotWindow::PrintSetup SnapshotWindow::setUpPrinter = SetUpWithDialog;

SnapshotWindow::SnapshotWindow(QImage picture, const QString& title, QWidget* parent)
    : QWidget(parent ? parent->window() : nullptr, kWindowFlags),
      picture_(std::move(picture)),
      packedDib_(ToPackedDib24(picture_)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(title);
}

SnapshotWindow* SnapshotWindow::Create(const QImage& lastPicture,
                                       std::span<const std::uint8_t> storedFrame,
                                       const QString& title, QWidget* parent) {
    QImage picture = lastPicture.isNull() ? DecodeStoredFrame(storedFrame) : lastPicture;
    if (picture.isNull()) {
        return nullptr;
    }
    // Owned by the parent's window; without one it deletes itself on close.
    auto* window = new SnapshotWindow(std::move(picture), title, parent);
    window->SizeToPicture();
    window->PlaceOverOwner();
    window->show();
    window->raise();
    return window;
}

void SnapshotWindow::PlaceOverOwner() {
    QWidget* owner = parentWidget();
    if (!owner) {
        return;
    }
    int others = 0;
    for (QObject* child : owner->children()) {
        auto* snapshot = qobject_cast<SnapshotWindow*>(child);
        others += snapshot && snapshot != this && snapshot->isVisible() ? 1 : 0;
    }
    move(CascadedTopLeft(owner->geometry(), size(), others));
}

void SnapshotWindow::SizeToPicture() {
    // A top-level QWidget's geometry is its client area; the frame comes on top of it.
    resize(picture_.size());
}

std::unique_ptr<QMenu> SnapshotWindow::MakeContextMenu() {
    // No parent: the menu outlives a window closed while it is open.
    auto menu = std::make_unique<QMenu>();
    menu->addAction(tr(snaptext::kSaveFile))->setData(snapcmd::kSaveFile);
    menu->addAction(tr(snaptext::kPrint))->setData(snapcmd::kPrint);
    return menu;
}

void SnapshotWindow::RunCommand(int commandId) {
    switch (commandId) {
        case snapcmd::kSaveFile:
            OnSaveFile();
            break;
        case snapcmd::kPrint:
            OnPrint();
            break;
        default:
            break;
    }
}

void SnapshotWindow::OnSaveFile() {
    QPointer<SnapshotWindow> self(this);
    const QString path = chooseSaveFile ? chooseSaveFile(this) : QString();
    if (!self || path.isEmpty()) {
        return;
    }
    QString error;
    if (WriteBmpFile(path, packedDib_, error)) {
        PromptService::Show(this, snaptext::kSaveOk);
        return;
    }
    qCWarning(lcMedia) << "snapshot not saved to" << path << ":" << error;
    PromptService::Show(this,
                        QString(snaptext::kSaveFailed).arg(QDir::toNativeSeparators(path), error),
                        PromptButtons::Ok, PromptIcon::Exclamation);
}

void SnapshotWindow::OnPrint() {
    QPointer<SnapshotWindow> self(this);
    QPrinter printer(QPrinter::HighResolution);
    if (!setUpPrinter || !setUpPrinter(printer, this) || !self) {
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        qCWarning(lcMedia) << "snapshot: the printer did not start";
        PromptService::Show(this, snaptext::kPrintFailed, PromptButtons::Ok,
                            PromptIcon::Exclamation);
        update();
        return;
    }
    // The picture prints at the size it has on this window's screen.
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSizeF screenDpi =
        shownOn ? QSizeF(shownOn->logicalDotsPerInchX(), shownOn->logicalDotsPerInchY())
                : QSizeF(printer.logicalDpiX(), printer.logicalDpiY());
    const PrintPlacement placement = PlaceForPrint(
        picture_.size(), screenDpi, QSizeF(printer.logicalDpiX(), printer.logicalDpiY()),
        QSize(printer.width(), printer.height()));
    painter.drawImage(placement.target, picture_);
    painter.end();
    lastPlacement_ = placement;
    update();
}

void SnapshotWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

void SnapshotWindow::contextMenuEvent(QContextMenuEvent* event) {
    QPointer<SnapshotWindow> self(this);
    const auto menu = MakeContextMenu();
    QAction* chosen = menu->exec(event->globalPos());
    if (self && chosen) {
        RunCommand(chosen->data().toInt());
    }
}

}  // namespace orvane
