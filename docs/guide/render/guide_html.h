#pragma once

#include <QString>

namespace orvane::guide {

// One page of the operator's guide: Markdown in, a whole HTML page out. The Markdown is read
// with Qt's own reader; the HTML is written from the document's structure (headings,
// paragraphs, lists, tables, code, links and pictures) with one plain stylesheet. Links to
// other pages of the guide (NAME.md, NAME.md#part) become links to NAME.html.
QString RenderPage(const QString& markdown);

// A link target as the rendered page uses it: "NAME.md[#part]" -> "NAME.html[#part]" for a
// page of the guide; anything else (pictures, web addresses) unchanged.
QString RewriteLink(const QString& target);

// Renders every NAME.md of `sourceDir` into `outputDir`/NAME.html and copies the pictures of
// `sourceDir`/images into `outputDir`/images. False, with the reason in `error`, when a file
// cannot be read or written.
bool RenderGuide(const QString& sourceDir, const QString& outputDir, QString& error);

}  // namespace orvane::guide
