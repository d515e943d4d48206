// The help viewer's text document, built from the reader's model. The builder
// touches nothing but the document it fills, so it may run on any thread.
#pragma once

#include <QFont>
#include <functional>

#include "info/rich_text.h"

class QTextDocument;

namespace m32 {

// Fills a text document from the reader's model, replacing what it held.
// Rich documents carry their own character formats on top of `base`; plain
// ones show in `base` alone. Tables become tables of the document with the
// file's cell widths (a cell as wide as several of another row's spans them),
// pictures the picture itself (PNG, JPEG, BMP) or a placeholder of its size. Returns false when
// `cancelled` said so (the document is then incomplete).
bool FillTextDocument(QTextDocument& doc, const info::Document& model, const QFont& base,
                      const std::function<bool()>& cancelled = {});

}  // namespace m32
