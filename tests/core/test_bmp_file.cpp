// Snapshot output: .bmp files of packed DIBs, and where a printed picture lands.
#include "media/bmp_file.h"
#include "media/decoded_picture.h"
#include "media/print_layout.h"
#include "support/independent_readers.h"
#include "support/temp_store.h"
#include "wire/bitmap_info.h"
#include "wire/byte_order.h"

#include <QDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Each pixel and colour channel differs: swapped channels, flipped rows or lost padding show.
QImage Pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (y * 13 + x * 3) & 0xFF, (x ^ y) & 0xFF));
        }
    }
    return image;
}

// The file's bytes as they are on disk.
Block ReadFile(const QString& path) {
    const std::string bytes = test::ReadFileBytes(path.toStdString());
    return Block(bytes.begin(), bytes.end());
}

// A 5 x 3 eight-bit picture with a four-colour table and biSizeImage left 0.
Block EightBitDib() {
    Block dib =
        BitmapInfoHeader{.biWidth = 5, .biHeight = 3, .biBitCount = 8, .biClrUsed = 4}.Bytes();
    // Black, red, green, blue (B, G, R, 0); then the rows, bottom first, each padded to 8 bytes.
    dib.insert(dib.end(),
               {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0,  //
                3, 3, 3, 3, 3, 9, 9,   9, 2, 2,   2, 2, 2,   9, 9, 9, 0, 1, 2, 3, 0, 9, 9, 9});
    return dib;
}

TEST(BmpFile, TwentyFourBitPicturesGetTheFileHeaderAndReadBackExactly) {
    test::TempStore temp;
    for (const QSize size : {QSize(160, 120), QSize(70, 30)}) {
        SCOPED_TRACE(size.width());
        const QImage image = Pattern(size.width(), size.height());
        const Block dib = ToPackedDib24(image);
        const int imageSize = (size.width() * 3 + 3) / 4 * 4 * size.height();
        EXPECT_EQ(ReadLe32(dib, 20), std::uint32_t(imageSize));
        // "BM", the file's size, two reserved words, the offset of the pixels; then the DIB.
        Block file = dib;
        file.insert(file.begin(), {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0});
        WriteLe32(file, 2, std::uint32_t(54 + imageSize));
        EXPECT_EQ(BmpFileBytes(dib), file);

        const QString path =
            QString::fromStdString(temp.File("pattern" + std::to_string(size.width()) + ".bmp"));
        QString error;
        ASSERT_TRUE(WriteBmpFile(path, dib, error)) << error.toStdString();
        EXPECT_EQ(ReadFile(path), file);
        EXPECT_EQ(test::ReadBackWithFfmpeg(path), test::Rgb24Rows(image));
    }
}

TEST(BmpFile, ColourTablesMoveThePixelsAndAZeroImageSizeIsWorkedOut) {
    Block dib = EightBitDib();
    dib.push_back(0xEE);  // bytes past the picture are not part of it
    const Block file = BmpFileBytes(dib);
    ASSERT_EQ(file.size(), 14u + 40 + 16 + 24);
    EXPECT_EQ(ReadLe32(file, 2), file.size());
    EXPECT_EQ(ReadLe32(file, 10), 14u + 40 + 4 * 4);
    EXPECT_EQ(ReadLe32(file, 14 + 20), 24u);  // biSizeImage, as written into the file
    EXPECT_EQ(ReadLe32(dib, 20), 0u);         // the caller's DIB is left alone

    test::TempStore temp;
    const QString path = QString::fromStdString(temp.File("eight.bmp"));
    QString error;
    ASSERT_TRUE(WriteBmpFile(path, dib, error)) << error.toStdString();
    // Top row first: black, red, green, blue, black; then five green; then five blue.
    const QByteArray expected = QByteArray::fromHex(
        "000000ff000000ff000000ff000000"
        "00ff0000ff0000ff0000ff0000ff00"
        "0000ff0000ff0000ff0000ff0000ff");
    EXPECT_EQ(test::ReadBackWithFfmpeg(path), expected);
}

TEST(BmpFile, DibsShorterThanTheyClaimAreRefused) {
    const Block whole = ToPackedDib24(Pattern(8, 4));
    Block eight = EightBitDib();
    eight.pop_back();  // the computed image size is not all there
    Block colours = EightBitDib();
    WriteLe32(colours, 32, 0x40000000);  // a colour table far past the end
    Block compressed = EightBitDib();
    WriteLe32(compressed, 16, MakeFourcc('M', 'J', 'P', 'G'));  // no size to work out
    for (const Block& dib :
         {Block(whole.begin(), whole.end() - 1), Block(whole.begin(), whole.begin() + 39), Block(),
          eight, colours, compressed}) {
        EXPECT_TRUE(BmpFileBytes(dib).empty()) << dib.size();
    }
}

// A failed write (nowhere to create it, a refused picture) leaves no file and the old one whole.
TEST(BmpFile, AFailedWriteLeavesNoFileAndKeepsTheOldOne) {
    test::TempStore temp;
    const Block dib = ToPackedDib24(Pattern(8, 4));
    const auto refused = [](const QString& path, std::span<const std::uint8_t> bytes) {
        QString error;
        EXPECT_FALSE(WriteBmpFile(path, bytes, error)) << path.toStdString();
        EXPECT_FALSE(error.isEmpty());
    };
    refused("/proc/orvane-snapshot.bmp", dib);

    // A longer old file is replaced whole; a refused picture leaves it as it was.
    const QString folder = QString::fromStdString(temp.File("out"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + "/old.bmp";
    test::WriteFileBytes(path.toStdString(), std::string(5000, 'x'));
    QString error;
    ASSERT_TRUE(WriteBmpFile(path, dib, error));
    EXPECT_EQ(ReadFile(path), BmpFileBytes(dib));
    refused(path, std::span(dib).first(dib.size() - 1));
    EXPECT_EQ(ReadFile(path), BmpFileBytes(dib));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A picture printed as large as it shows on the screen, by each axis's resolutions, centred;
// sizes cut in single precision and halves cut apart, as the page was always laid out.
TEST(PrintLayout, EnlargesByTheResolutionsAndCentres) {
    const struct {
        QSize picture;
        QSizeF screen, printer;
        QSize page;
        float factorX;
        QRect target;
    } cases[] = {
        {{320, 240}, {96, 96}, {600, 600}, {4800, 6600}, 6.25f, {1400, 2550, 2000, 1500}},
        {{320, 240}, {600, 600}, {300, 300}, {2400, 3300}, 2.0f, {880, 1410, 640, 480}},
        {{100, 100}, {96, 96}, {192, 288}, {1000, 1000}, 2.0f, {400, 350, 200, 300}},
        // 600 / 72 in float times 15 is just under 125 (in double it rounds to 125); the
        // corner is 1000 / 2 - 124 / 2 and 999 / 2 - 124 / 2.
        {{15, 15}, {72, 72}, {600, 600}, {1000, 999}, 600.0f / 72.0f, {438, 437, 124, 124}},
        // An odd printed width on an even page: 500 - 51, not (1000 - 103) / 2.
        {{33, 17}, {96, 96}, {300, 300}, {1000, 1000}, 3.125f, {449, 474, 103, 53}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.width());
        const PrintPlacement placed = PlaceForPrint(c.picture, c.screen, c.printer, c.page);
        EXPECT_FLOAT_EQ(static_cast<float>(placed.factorX), c.factorX);
        EXPECT_EQ(placed.target, c.target);
    }
}

}  // namespace
}  // namespace orvane
