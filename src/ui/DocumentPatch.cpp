#include "ui/DocumentPatch.h"

#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace wendrix {

namespace {

// A format as it reads, without the index of the list, table or frame it
// belongs to, which differs between documents.
bool Same(QTextFormat a, QTextFormat b) {
  a.clearProperty(QTextFormat::ObjectIndex);
  b.clearProperty(QTextFormat::ObjectIndex);
  return a == b;
}

// One character format over a run of characters, adjacent equal runs merged:
// two documents may cut the same text into fragments differently.
struct FormatRun {
  QTextCharFormat format;
  int length;
};

std::vector<FormatRun> RunsOf(const QTextBlock& block) {
  std::vector<FormatRun> runs;
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    const QTextFragment fragment = it.fragment();
    if (!runs.empty() && Same(runs.back().format, fragment.charFormat()))
      runs.back().length += fragment.length();
    else
      runs.push_back({fragment.charFormat(), fragment.length()});
  }
  return runs;
}

// The format of each character of the block, as an index into its runs.
std::vector<size_t> FormatPerCharacter(const std::vector<FormatRun>& runs) {
  std::vector<size_t> formats;
  for (size_t r = 0; r < runs.size(); ++r)
    formats.insert(formats.end(), static_cast<size_t>(runs[r].length), r);
  return formats;
}

bool SameList(const QTextBlock& a, const QTextBlock& b) {
  const QTextList* x = a.textList();
  const QTextList* y = b.textList();
  if (!x || !y) return !x && !y;
  return Same(x->format(), y->format()) && x->itemNumber(a) == y->itemNumber(b);
}

// What a block is made of besides its text.
bool SameShape(const QTextBlock& a, const QTextBlock& b) {
  return Same(a.blockFormat(), b.blockFormat()) && Same(a.charFormat(), b.charFormat()) && SameList(a, b);
}

bool SameBlock(const QTextBlock& a, const QTextBlock& b) {
  if (a.text() != b.text() || !SameShape(a, b)) return false;
  const std::vector<FormatRun> x = RunsOf(a);
  const std::vector<FormatRun> y = RunsOf(b);
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const FormatRun& r, const FormatRun& s) {
    return r.length == s.length && Same(r.format, s.format);
  });
}

// One element of a frame or a table cell: a block, a table, or another
// frame (which is never patched, only replaced).
struct Item {
  QTextBlock block;
  QTextFrame* frame = nullptr;
  QTextTable* table() const { return qobject_cast<QTextTable*>(frame); }
  bool IsBlock() const { return frame == nullptr; }
  // Where it lies in its document, its block separator or frame markers
  // aside.
  int Start() const { return frame ? frame->firstPosition() - 1 : block.position(); }
  int End() const { return frame ? frame->lastPosition() + 1 : block.position() + block.length() - 1; }
};
using Items = std::vector<Item>;

Items ItemsOf(QTextFrame::iterator it, const QTextFrame::iterator& end) {
  Items items;
  for (; it != end; ++it) {
    if (QTextFrame* frame = it.currentFrame())
      items.push_back({{}, frame});
    else
      items.push_back({it.currentBlock(), nullptr});
  }
  return items;
}

Items ItemsOf(const QTextTableCell& cell) { return ItemsOf(cell.begin(), cell.end()); }

bool SameItems(const Items& a, const Items& b);

// Same rows and columns, and every cell spanning the same.
bool SameGrid(QTextTable* a, QTextTable* b) {
  if (a->rows() != b->rows() || a->columns() != b->columns()) return false;
  for (int r = 0; r < a->rows(); ++r)
    for (int c = 0; c < a->columns(); ++c) {
      const QTextTableCell x = a->cellAt(r, c);
      const QTextTableCell y = b->cellAt(r, c);
      if (x.row() != y.row() || x.column() != y.column() || x.rowSpan() != y.rowSpan() ||
          x.columnSpan() != y.columnSpan())
        return false;
    }
  return true;
}

// Calls visit for each cell of the grid once, at its first row and column.
template <typename Visit>
void ForEachCell(QTextTable* table, Visit visit) {
  for (int r = 0; r < table->rows(); ++r)
    for (int c = 0; c < table->columns(); ++c) {
      const QTextTableCell cell = table->cellAt(r, c);
      if (cell.row() == r && cell.column() == c) visit(r, c);
    }
}

bool SameTable(QTextTable* a, QTextTable* b) {
  if (!SameGrid(a, b) || !Same(a->format(), b->format())) return false;
  bool same = true;
  ForEachCell(a, [&](int r, int c) {
    const QTextTableCell x = a->cellAt(r, c);
    const QTextTableCell y = b->cellAt(r, c);
    same = same && Same(x.format(), y.format()) && SameItems(ItemsOf(x), ItemsOf(y));
  });
  return same;
}

bool SameItem(const Item& a, const Item& b) {
  if (a.IsBlock() || b.IsBlock()) return a.IsBlock() && b.IsBlock() && SameBlock(a.block, b.block);
  return a.table() && b.table() && SameTable(a.table(), b.table());
}

bool SameItems(const Items& a, const Items& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameItem);
}

// Lists of the fresh document and the shown document's lists made for them.
using Lists = QHash<const QTextList*, QTextList*>;

// Writes a fresh block's formats and text into the block at the cursor,
// which is empty, and puts it in the list that stands for the fresh one's.
void Fill(QTextCursor& cursor, const QTextBlock& fresh, Lists& lists) {
  QTextBlockFormat format = fresh.blockFormat();
  format.clearProperty(QTextFormat::ObjectIndex);
  cursor.setBlockFormat(format);
  // The first block of a table cell has the cell's format, which stays.
  if (!cursor.block().charFormat().isTableCellFormat()) cursor.setBlockCharFormat(fresh.charFormat());
  if (const QTextList* list = fresh.textList()) {
    if (QTextList* made = lists.value(list))
      made->add(cursor.block());
    else
      lists.insert(list, cursor.createList(list->format()));
  }
  for (auto it = fresh.begin(); !it.atEnd(); ++it)
    cursor.insertText(it.fragment().text(), it.fragment().charFormat());
}

// Writes copies of the fresh items at the cursor, which stands in an empty
// block out of any list: the first block fills it, and a table goes after
// it, with the empty block Qt leaves behind a table taking the next block.
void Build(QTextCursor& cursor, const Items& fresh, Lists& lists) {
  bool blockFree = true;
  for (const Item& item : fresh) {
    if (item.IsBlock()) {
      if (!blockFree) cursor.insertBlock();
      Fill(cursor, item.block, lists);
      blockFree = false;
      continue;
    }
    QTextTable* table = item.table();
    if (!table) continue;  // other frames are not made by the pages' HTML
    QTextTableFormat format = table->format();
    format.clearProperty(QTextFormat::ObjectIndex);
    QTextTable* made = cursor.insertTable(table->rows(), table->columns(), format);
    ForEachCell(table, [&](int r, int c) {
      const QTextTableCell cell = table->cellAt(r, c);
      if (cell.rowSpan() > 1 || cell.columnSpan() > 1)
        made->mergeCells(r, c, cell.rowSpan(), cell.columnSpan());
    });
    ForEachCell(table, [&](int r, int c) {
      const QTextTableCell cell = table->cellAt(r, c);
      QTextTableCell target = made->cellAt(r, c);
      target.setFormat(cell.format());
      QTextCursor inCell = target.firstCursorPosition();
      Build(inCell, ItemsOf(cell), lists);
    });
    cursor.setPosition(made->lastPosition() + 1);
    blockFree = true;
  }
}

class Patcher {
 public:
  explicit Patcher(QTextDocument& shown) : shown_(shown) {}

  void PatchRoot(const QTextDocument& fresh) {
    QTextFrame* root = shown_.rootFrame();
    QTextFrame* freshRoot = fresh.rootFrame();
    if (!Same(root->frameFormat(), freshRoot->frameFormat())) root->setFrameFormat(freshRoot->frameFormat());
    PatchItems(ItemsOf(root->begin(), root->end()), ItemsOf(freshRoot->begin(), freshRoot->end()), [this] {
      return std::pair{0, shown_.characterCount() - 1};
    });
  }

 private:
  // The whole of a frame's or a cell's content as it lies now.
  using Extent = std::function<std::pair<int, int>()>;

  // Tables that pair off with tables of the same grid are patched in place,
  // and the runs of blocks between them as blocks; anything else replaces
  // the whole content.
  void PatchItems(const Items& old, const Items& now, const Extent& whole) {
    if (SameItems(old, now)) return;
    std::vector<size_t> oldTables;
    std::vector<size_t> nowTables;
    for (size_t k = 0; k < old.size(); ++k)
      if (!old[k].IsBlock()) oldTables.push_back(k);
    for (size_t k = 0; k < now.size(); ++k)
      if (!now[k].IsBlock()) nowTables.push_back(k);
    // The runs between tables, as [from, to) in each.
    std::vector<std::pair<size_t, size_t>> oldRuns;
    std::vector<std::pair<size_t, size_t>> nowRuns;
    bool alike = oldTables.size() == nowTables.size();
    for (size_t t = 0; alike && t <= oldTables.size(); ++t) {
      oldRuns.emplace_back(t == 0 ? 0 : oldTables[t - 1] + 1,
                           t < oldTables.size() ? oldTables[t] : old.size());
      nowRuns.emplace_back(t == 0 ? 0 : nowTables[t - 1] + 1,
                           t < nowTables.size() ? nowTables[t] : now.size());
      // A run can only be patched into one that has blocks as well.
      alike =
          (oldRuns.back().first == oldRuns.back().second) == (nowRuns.back().first == nowRuns.back().second);
      if (alike && t < oldTables.size()) {
        QTextTable* a = old[oldTables[t]].table();
        QTextTable* b = now[nowTables[t]].table();
        alike = a && b && SameGrid(a, b);
      }
    }
    if (!alike) {
      const auto [from, to] = whole();
      QTextCursor cursor(&shown_);
      cursor.setPosition(from);
      cursor.setPosition(to, QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
      if (QTextList* list = cursor.currentList()) list->remove(cursor.block());
      Lists lists;
      Build(cursor, now, lists);
      return;
    }
    // From the last, so that what is still to be patched stays where it is.
    for (size_t t = oldRuns.size(); t-- > 0;) {
      PatchBlocks(Items(old.begin() + static_cast<std::ptrdiff_t>(oldRuns[t].first),
                        old.begin() + static_cast<std::ptrdiff_t>(oldRuns[t].second)),
                  Items(now.begin() + static_cast<std::ptrdiff_t>(nowRuns[t].first),
                        now.begin() + static_cast<std::ptrdiff_t>(nowRuns[t].second)));
      if (t > 0) PatchTable(old[oldTables[t - 1]].table(), now[nowTables[t - 1]].table());
    }
  }

  // Two runs of blocks, both empty or both not.
  void PatchBlocks(const Items& old, const Items& now) {
    size_t prefix = 0;
    while (prefix < old.size() && prefix < now.size() && SameItem(old[prefix], now[prefix])) ++prefix;
    size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           SameItem(old[old.size() - 1 - suffix], now[now.size() - 1 - suffix]))
      ++suffix;
    if (prefix + suffix == old.size() && prefix + suffix == now.size()) return;
    bool pairwise = old.size() == now.size();
    for (size_t k = prefix; pairwise && k < old.size() - suffix; ++k)
      pairwise = SameList(old[k].block, now[k].block);
    if (pairwise) {
      for (size_t k = old.size() - suffix; k-- > prefix;) PatchBlock(old[k].block, now[k].block);
      return;
    }
    // Whole lists go, and come, together; and each side keeps at least
    // one block to stand in.
    auto listed = [](const Item& item) { return item.block.textList() != nullptr; };
    for (;;) {
      bool middleListed = false;
      for (size_t k = prefix; k < old.size() - suffix; ++k) middleListed |= listed(old[k]);
      for (size_t k = prefix; k < now.size() - suffix; ++k) middleListed |= listed(now[k]);
      if (middleListed) {
        while (prefix > 0 && listed(old[prefix - 1])) --prefix;
        while (suffix > 0 && listed(old[old.size() - suffix])) --suffix;
      }
      if (prefix + suffix < old.size() && prefix + suffix < now.size()) break;
      if (prefix > 0)
        --prefix;
      else
        --suffix;
    }
    const QTextBlock first = old[prefix].block;
    const QTextBlock last = old[old.size() - 1 - suffix].block;
    QTextCursor cursor(&shown_);
    cursor.setPosition(first.position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (QTextList* list = cursor.currentList()) list->remove(cursor.block());
    Lists lists;
    Build(cursor,
          Items(now.begin() + static_cast<std::ptrdiff_t>(prefix),
                now.end() - static_cast<std::ptrdiff_t>(suffix)),
          lists);
  }

  // Brings the block's formats up to date and replaces the characters
  // between the longest common beginning and end.
  void PatchBlock(const QTextBlock& block, const QTextBlock& fresh) {
    QTextCursor cursor(block);
    if (!Same(block.blockFormat(), fresh.blockFormat())) {
      QTextBlockFormat format = fresh.blockFormat();
      format.setObjectIndex(block.blockFormat().objectIndex());  // stays in its list
      cursor.setBlockFormat(format);
    }
    // The first block of a table cell has the cell's own format, which the
    // table's patch brought up to date.
    if (!block.charFormat().isTableCellFormat() && !Same(block.charFormat(), fresh.charFormat()))
      cursor.setBlockCharFormat(fresh.charFormat());
    const QString text = block.text();
    const QString freshText = fresh.text();
    const std::vector<FormatRun> runs = RunsOf(block);
    const std::vector<FormatRun> freshRuns = RunsOf(fresh);
    const std::vector<size_t> formats = FormatPerCharacter(runs);
    const std::vector<size_t> freshFormats = FormatPerCharacter(freshRuns);
    auto same = [&](qsizetype i, qsizetype j) {
      return text[i] == freshText[j] && Same(runs[formats[static_cast<size_t>(i)]].format,
                                             freshRuns[freshFormats[static_cast<size_t>(j)]].format);
    };
    qsizetype head = 0;
    while (head < text.size() && head < freshText.size() && same(head, head)) ++head;
    qsizetype tail = 0;
    while (tail < text.size() - head && tail < freshText.size() - head &&
           same(text.size() - 1 - tail, freshText.size() - 1 - tail))
      ++tail;
    if (head + tail == text.size() && head + tail == freshText.size()) return;
    const int start = block.position();
    cursor.setPosition(start + static_cast<int>(head));
    cursor.setPosition(start + static_cast<int>(text.size() - tail), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    for (qsizetype j = head; j < freshText.size() - tail;) {
      const size_t run = freshFormats[static_cast<size_t>(j)];
      qsizetype end = j;
      while (end < freshText.size() - tail && freshFormats[static_cast<size_t>(end)] == run) ++end;
      cursor.insertText(freshText.mid(j, end - j), freshRuns[run].format);
      j = end;
    }
  }

  void PatchTable(QTextTable* table, QTextTable* fresh) {
    if (!Same(table->format(), fresh->format())) {
      QTextTableFormat format = fresh->format();
      format.setObjectIndex(table->format().objectIndex());
      table->setFormat(format);
    }
    std::vector<std::pair<int, int>> cells;
    ForEachCell(fresh, [&](int r, int c) { cells.emplace_back(r, c); });
    for (size_t i = cells.size(); i-- > 0;) {
      const int r = cells[i].first;
      const int c = cells[i].second;
      QTextTableCell cell = table->cellAt(r, c);
      const QTextTableCell freshCell = fresh->cellAt(r, c);
      if (!Same(cell.format(), freshCell.format())) cell.setFormat(freshCell.format());
      PatchItems(ItemsOf(cell), ItemsOf(freshCell), [table, r, c] {
        const QTextTableCell now = table->cellAt(r, c);
        return std::pair{now.firstPosition(), now.lastPosition()};
      });
    }
  }

  QTextDocument& shown_;
};

}  // namespace

bool NeedsRenewal(const QTextDocument& shown, const QTextDocument& fresh) {
  const qsizetype needed = fresh.allFormats().size();
  return shown.allFormats().size() > 2 * needed + 64;
}

// Each change reaches the layout on its own, so that it lays out and
// repaints that part alone rather than everything between two changes.
void PatchDocument(QTextDocument& shown, const QTextDocument& fresh) { Patcher(shown).PatchRoot(fresh); }

}  // namespace wendrix
