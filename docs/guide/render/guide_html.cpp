#include "guide_html.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <vector>

namespace orvane::guide {
namespace {

constexpr const char* kStyle = R"(body { font-family: "DejaVu Sans", Arial, sans-serif; color: #222;
  max-width: 62em; margin: 1em auto; padding: 0 1em; line-height: 1.45; }
h1, h2, h3 { color: #1d3557; line-height: 1.2; }
h1 { border-bottom: 2px solid #1d3557; padding-bottom: .2em; }
a { color: #1d5fa7; }
img { max-width: 100%; border: 1px solid #bbb; }
code, pre { font-family: "DejaVu Sans Mono", monospace; background: #f3f3f0; }
code { padding: 0 .2em; }
pre { padding: .6em .8em; overflow-x: auto; }
table { border-collapse: collapse; margin: .5em 0; }
th, td { border: 1px solid #ccc; padding: .25em .6em; text-align: left; vertical-align: top; }
th { background: #eef1f5; }
)";

QString Escape(const QString& text) {
    QString out = text.toHtmlEscaped();
    out.replace(QChar::LineSeparator, QStringLiteral("<br>\n"));
    return out;
}

bool IsCode(const QTextBlock& block) {
    const QTextBlockFormat format = block.blockFormat();
    return format.hasProperty(QTextFormat::BlockCodeFence) ||
           format.hasProperty(QTextFormat::BlockCodeLanguage) || format.nonBreakableLines();
}

// The inline content of one block: text with emphasis, code, links and pictures. Headings
// and table headings are bold by their own tag.
QString Inline(const QTextBlock& block, bool boldByTag = false) {
    QString out;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid()) {
            continue;
        }
        const QTextCharFormat format = fragment.charFormat();
        if (format.isImageFormat()) {
            const QTextImageFormat image = format.toImageFormat();
            const QString alt = image.property(QTextFormat::ImageAltText).toString();
            // One object character per picture.
            for (int i = 0; i < fragment.text().size(); ++i) {
                out += QStringLiteral("<img src=\"%1\" alt=\"%2\">")
                           .arg(RewriteLink(image.name()).toHtmlEscaped(), alt.toHtmlEscaped());
            }
            continue;
        }
        QString text = Escape(fragment.text());
        if (format.fontFixedPitch()) {
            text = "<code>" + text + "</code>";
        }
        if (format.fontItalic()) {
            text = "<em>" + text + "</em>";
        }
        if (!boldByTag && format.fontWeight() >= QFont::Bold) {
            text = "<strong>" + text + "</strong>";
        }
        if (format.fontStrikeOut()) {
            text = "<del>" + text + "</del>";
        }
        if (format.isAnchor() && !format.anchorHref().isEmpty()) {
            text = QStringLiteral("<a href=\"%1\">%2</a>")
                       .arg(RewriteLink(format.anchorHref()).toHtmlEscaped(), text);
        }
        out += text;
    }
    return out;
}

bool IsOrdered(const QTextList* list) {
    const auto style = list->format().style();
    return style != QTextListFormat::ListDisc && style != QTextListFormat::ListCircle &&
           style != QTextListFormat::ListSquare;
}

// Writes a frame's blocks and tables, keeping lists open across their items and joining the
// lines of a code block.
class Writer {
  public:
    explicit Writer(QString& output) : out(output) {}

    void Frame(QTextFrame* frame) {
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                CloseCode();
                CloseLists(nullptr);
                if (auto* table = qobject_cast<QTextTable*>(child)) {
                    Table(table);
                } else {
                    Frame(child);
                }
            } else {
                Block(it.currentBlock());
            }
        }
        CloseCode();
        CloseLists(nullptr);
    }

  private:
    QString& out;
    struct OpenList {
        QTextList* list;
        bool itemOpen;
    };
    std::vector<OpenList> lists_;
    bool inCode_ = false;

    void CloseCode() {
        if (inCode_) {
            out += "</code></pre>\n";
            inCode_ = false;
        }
    }

    // Closes open lists down to `keep` (all of them for null).
    void CloseLists(QTextList* keep) {
        while (!lists_.empty() && lists_.back().list != keep) {
            if (lists_.back().itemOpen) {
                out += "</li>\n";
            }
            out += IsOrdered(lists_.back().list) ? "</ol>\n" : "</ul>\n";
            lists_.pop_back();
        }
    }

    void Block(const QTextBlock& block) {
        if (IsCode(block)) {
            CloseLists(nullptr);
            out += inCode_ ? QStringLiteral("\n") : QStringLiteral("<pre><code>");
            QString text = block.text();
            text.replace(QChar::LineSeparator, QChar('\n'));
            out += text.toHtmlEscaped();
            inCode_ = true;
            return;
        }
        CloseCode();
        if (QTextList* list = block.textList()) {
            ListItem(list, block);
            return;
        }
        CloseLists(nullptr);
        const QTextBlockFormat format = block.blockFormat();
        const QString content = Inline(block, format.headingLevel() > 0);
        if (format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth)) {
            out += "<hr>\n";
            return;
        }
        if (content.trimmed().isEmpty()) {
            return;
        }
        if (const int level = format.headingLevel(); level > 0) {
            out += QStringLiteral("<h%1>%2</h%1>\n").arg(level).arg(content);
            return;
        }
        if (format.property(QTextFormat::BlockQuoteLevel).toInt() > 0) {
            out += "<blockquote><p>" + content + "</p></blockquote>\n";
            return;
        }
        out += "<p>" + content + "</p>\n";
    }

    void ListItem(QTextList* list, const QTextBlock& block) {
        bool known = false;
        for (const OpenList& open : lists_) {
            known = known || open.list == list;
        }
        if (known) {
            CloseLists(list);
        } else {
            // A list less indented than the open ones ends them; a deeper one nests inside.
            while (!lists_.empty() &&
                   lists_.back().list->format().indent() >= list->format().indent()) {
                CloseLists(lists_.size() > 1 ? lists_[lists_.size() - 2].list : nullptr);
            }
            out += IsOrdered(list) ? "<ol>\n" : "<ul>\n";
            lists_.push_back({list, false});
        }
        if (lists_.back().itemOpen) {
            out += "</li>\n";
        }
        out += "<li>" + Inline(block);
        lists_.back().itemOpen = true;
    }

    void Table(QTextTable* table) {
        const int header = table->format().headerRowCount();
        out += "<table>\n";
        for (int row = 0; row < table->rows(); ++row) {
            const bool heading = row < std::max(header, 1);
            const QString tag = heading ? QStringLiteral("th") : QStringLiteral("td");
            out += "<tr>";
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                QStringList parts;
                for (auto it = cell.begin(); !it.atEnd(); ++it) {
                    if (!it.currentFrame()) {
                        parts << Inline(it.currentBlock(), heading);
                    }
                }
                out += QStringLiteral("<%1>%2</%1>").arg(tag, parts.join("<br>"));
            }
            out += "</tr>\n";
        }
        out += "</table>\n";
    }
};

QString FirstHeading(const QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() > 0) {
            return block.text().trimmed();
        }
    }
    return {};
}

}  // namespace

QString RewriteLink(const QString& target) {
    static const QRegularExpression page(QStringLiteral(R"(^([^:/?#]+(?:/[^:/?#]+)*)\.md(#.*)?$)"));
    const QRegularExpressionMatch match = page.match(target);
    if (!match.hasMatch()) {
        return target;
    }
    return match.captured(1) + ".html" + match.captured(2);
}

QString RenderPage(const QString& markdown) {
    QTextDocument document;
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    QString body;
    Writer(body).Frame(document.rootFrame());
    const QString heading = FirstHeading(document);
    const QString title = heading.isEmpty() || heading == QLatin1String("Orvane")
                              ? QStringLiteral("Orvane")
                              : heading + QStringLiteral(" - Orvane");
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
               "<title>%1</title>\n<style>\n%2</style>\n</head>\n<body>\n%3</body>\n</html>\n")
        .arg(title.toHtmlEscaped(), QString::fromLatin1(kStyle), body);
}

bool RenderGuide(const QString& sourceDir, const QString& outputDir, QString& error) {
    const QDir source(sourceDir);
    QDir output(outputDir);
    if (!output.mkpath(QStringLiteral("images"))) {
        error = QStringLiteral("cannot create %1").arg(output.filePath("images"));
        return false;
    }
    for (const QString& name : source.entryList({QStringLiteral("*.md")}, QDir::Files)) {
        QFile in(source.filePath(name));
        if (!in.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(in.fileName(), in.errorString());
            return false;
        }
        const QString html = RenderPage(QString::fromUtf8(in.readAll()));
        QSaveFile out(output.filePath(QFileInfo(name).completeBaseName() + ".html"));
        if (!out.open(QIODevice::WriteOnly) || out.write(html.toUtf8()) < 0 || !out.commit()) {
            error = QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString());
            return false;
        }
    }
    const QDir images(source.filePath(QStringLiteral("images")));
    for (const QString& name : images.entryList(QDir::Files)) {
        const QString target = output.filePath(QStringLiteral("images/") + name);
        QFile::remove(target);
        if (!QFile::copy(images.filePath(name), target)) {
            error = QStringLiteral("cannot copy %1 to %2").arg(images.filePath(name), target);
            return false;
        }
    }
    return true;
}

}  // namespace orvane::guide
