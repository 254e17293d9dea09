// Brings a rich-text document shown on screen up to date with a fresh
// rendering of the same page, changing only what differs, so that the view
// lays out and repaints no more than that and keeps its scroll position and
// the user's selection.
#pragma once

class QTextDocument;

namespace wendrix {

// Makes `shown` read as `fresh`: blocks and tables that are alike stay as
// they are, a block whose text or formats differ has only the differing
// characters replaced, tables of the same shape are patched cell by cell,
// and whatever else differs is replaced by a copy from `fresh`.
void PatchDocument(QTextDocument& shown, const QTextDocument& fresh);

// Whether `shown` holds many more formats than `fresh`, a rendering of
// the same page, needs. Each list or table made anew by a patch leaves
// behind formats that a document never frees, so a page patched for long
// is best replaced by a fresh rendering now and then.
bool NeedsRenewal(const QTextDocument& shown, const QTextDocument& fresh);

}  // namespace wendrix
