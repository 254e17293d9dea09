// Patching a shown document into a fresh rendering of the same page: the
// result reads exactly as the fresh one, and what did not change (tables,
// the reader's selection) is left where it was.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObject>
#include <QTextTable>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../status/Snapshots.h"
#include "status/PageFiles.h"
#include "status/StatusPages.h"
#include "ui/DocumentPatch.h"

namespace wendrix {
namespace {

// A page as the light pane renders it: the built-in style sheet, 13 px text.
class PageDocument final : public QTextDocument {
 public:
  explicit PageDocument(const std::string& html) {
    setUndoRedoEnabled(false);
    QFont font;
    font.setPixelSize(13);
    setDefaultFont(font);
    setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:1/t/zodevur_app/en/waiting.php")));
    setHtml(QString::fromStdString(html));
  }

 protected:
  QVariant loadResource(int type, const QUrl&) override {
    if (type != StyleSheetResource) return {};
    return QString::fromUtf8(kStyleFile.data(), static_cast<qsizetype>(kStyleFile.size()));
  }
};

std::string Page(std::string_view file, const std::string& live) {
  std::string page(file);
  page.replace(page.find("<!--live-->"), 11, live);
  return page;
}

QTextTable* FirstTable(QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    if (QTextTable* table = QTextCursor(block).currentTable()) return table;
  return nullptr;
}

using test::Address;

// Patches the document along a run of renderings; after each step it must
// read as the fresh rendering does.
void Follow(std::string_view file, const std::vector<std::string>& lives, bool sameTable) {
  PageDocument shown(Page(file, lives[0]));
  for (size_t i = 1; i < lives.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    QTextTable* table = FirstTable(shown);
    const PageDocument fresh(Page(file, lives[i]));
    PatchDocument(shown, fresh);
    EXPECT_EQ(shown.toHtml().toStdString(), fresh.toHtml().toStdString());
    if (sameTable) {
      EXPECT_EQ(FirstTable(shown), table) << "the table was built anew";
    }
  }
}

TEST(DocumentPatch, TheSetUpCheckFollowsItsFactsWithTheSameTable) {
  using Spoil = std::function<void(StatusSnapshot&)>;
  const std::vector<Spoil> steps = {
      [](StatusSnapshot&) {},
      [](StatusSnapshot& s) { s.joystick = JoystickState::kBusy; },
      [](StatusSnapshot& s) { s.udp = ListenerState::kPortBusy; },
      [](StatusSnapshot& s) {
        s.udp = ListenerState::kPortBusy;
        s.bluetooth = BluetoothState::kNoBluez;
      },
      [](StatusSnapshot& s) {
        s.announced.push_back({Address("198.18.1.9"), Address("198.18.1.255"), SendResult::kFailed});
        s.announced.push_back({Address("169.254.3.4"), Address("169.254.255.255"), SendResult::kSent});
      },
      [](StatusSnapshot& s) { s.announced.clear(); },
      [](StatusSnapshot& s) { s.system.computerName = "a <longer> name & more"; },
      [](StatusSnapshot&) {},
  };
  std::vector<std::string> lives;
  for (const Spoil& spoil : steps) {
    StatusSnapshot s = test::HealthySnapshot();
    spoil(s);
    lives.push_back(RenderWaitingLive(s));
  }
  Follow(kWaitingPageFile, lives, true);
  // And the same steps backwards, and every second one.
  Follow(kWaitingPageFile, {lives.rbegin(), lives.rend()}, true);
  std::vector<std::string> skipping;
  for (size_t i = 0; i < lives.size(); i += 2) skipping.push_back(lives[i]);
  Follow(kWaitingPageFile, skipping, true);
}

TEST(DocumentPatch, TheConnectedPageFollowsItsLinks) {
  StatusSnapshot s = test::HealthySnapshot();
  s.now = 1'000'000'000'000;
  std::vector<std::string> lives = {RenderConnectedLive(s)};
  s.connected = true;
  s.wifi = {true, s.now - 75'000, 4000, 50};
  s.wifiPeer = Address("198.18.0.7");
  s.wifiPeerPort = 50123;
  lives.push_back(RenderConnectedLive(s));
  s.bluetoothLink = {true, s.now - 1000, 10, 2};
  s.bluetoothPeer = 0x0011223344AAull;
  s.bluetoothPeerName = "Ann's phone";
  lives.push_back(RenderConnectedLive(s));
  s.wifi = {};
  lives.push_back(RenderConnectedLive(s));
  s.connected = false;
  s.bluetoothLink = {};
  lives.push_back(RenderConnectedLive(s));
  Follow(kConnectedPageFile, lives, false);
}

// Blocks and lists that come and go, cells whose content changes shape,
// tables that gain rows: whatever the change, the result reads as fresh.
TEST(DocumentPatch, AnyChangeEndsAsTheFreshRendering) {
  const std::vector<std::string> pages = {
      "<p>one</p><p>two</p><p>three</p>",
      "<p>zero</p><p>one</p><p>two</p><p>three</p>",
      "<p>one</p><p>three</p>",
      "<p>one</p><p><b>thr</b>ee</p><p>four</p>",
      "<p>one</p><ul><li>a</li><li>b</li></ul><p>four</p>",
      "<p>one</p><ul><li>a</li><li>b changed</li><li>c</li></ul><p>four</p>",
      "<p>one</p><ul><li>a</li></ul><ol><li>x</li><li>y</li></ol>",
      "<table><tr><td>a</td><td>b</td></tr></table><p>after</p>",
      "<table><tr><td>a<div>b</div><div>c</div></td><td>b</td></tr></table><p>after</p>",
      "<table><tr><td><table><tr><td>in</td></tr></table></td><td>b</td></tr></table><p>after</p>",
      "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table><p>after</p>",
      "<p>before</p><table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>",
      "<table><tr><td colspan=2>ab</td></tr><tr><td>c</td><td>d</td></tr></table><p>x</p>",
      "<h2>head</h2><table><tr><td>only</td></tr></table><ul><li>z</li></ul>",
      "",
      "<p>one</p><p>two</p><p>three</p>",
  };
  PageDocument shown(pages[0]);
  for (size_t i = 1; i < pages.size(); ++i) {
    SCOPED_TRACE(pages[i]);
    const PageDocument fresh(pages[i]);
    PatchDocument(shown, fresh);
    EXPECT_EQ(shown.toHtml().toStdString(), fresh.toHtml().toStdString());
  }
  // Every change again, from each page to every other.
  for (size_t i = 0; i < pages.size(); ++i)
    for (size_t j = 0; j < pages.size(); ++j) {
      SCOPED_TRACE(pages[i] + " -> " + pages[j]);
      PageDocument from(pages[i]);
      const PageDocument to(pages[j]);
      PatchDocument(from, to);
      EXPECT_EQ(from.toHtml().toStdString(), to.toHtml().toStdString());
    }
}

// A page patched back and forth keeps the same number of frames and lists,
// and reads as the fresh rendering; the formats that lists made anew leave
// behind grow slowly, and only after many changes call for a fresh document.
TEST(DocumentPatch, PatchingBackAndForthKeepsItsObjectsAndAsksForRenewalLate) {
  StatusSnapshot busy = test::HealthySnapshot();
  busy.joystick = JoystickState::kBusy;
  busy.udp = ListenerState::kPortBusy;
  const PageDocument calm(Page(kWaitingPageFile, RenderWaitingLive(test::HealthySnapshot())));
  const PageDocument troubled(Page(kWaitingPageFile, RenderWaitingLive(busy)));
  PageDocument shown(Page(kWaitingPageFile, RenderWaitingLive(test::HealthySnapshot())));
  EXPECT_FALSE(NeedsRenewal(shown, calm));
  auto objects = [&] { return shown.findChildren<QTextObject*>().size(); };
  const auto before = objects();
  int changes = 0;
  while (!NeedsRenewal(shown, calm) && changes < 10000) {
    PatchDocument(shown, changes % 2 ? calm : troubled);
    ++changes;
    if (changes % 2 == 0) {
      EXPECT_EQ(objects(), before) << "after " << changes << " changes";
    }
  }
  EXPECT_GE(changes, 50) << "renewed too often";
  EXPECT_LT(changes, 10000) << "the formats left behind are never noticed";
  PatchDocument(shown, calm);
  EXPECT_EQ(shown.toHtml(), calm.toHtml());
}

// Unchanged text keeps a selection on it, and a change inside one block
// leaves the rest of the block alone.
TEST(DocumentPatch, ASelectionOutsideTheChangeIsKept) {
  PageDocument shown("<p>keep this</p><table><tr><td>Virtual joystick</td><td>ready now</td></tr></table>");
  QTextCursor selection = shown.find(QStringLiteral("this"));
  QTextCursor inBlock = shown.find(QStringLiteral("now"));
  ASSERT_FALSE(selection.isNull());
  PatchDocument(
      shown,
      PageDocument("<p>keep this</p><table><tr><td>Virtual joystick</td><td>failing now</td></tr></table>"));
  EXPECT_EQ(selection.selectedText(), QStringLiteral("this"));
  EXPECT_EQ(inBlock.selectedText(), QStringLiteral("now"));
  EXPECT_TRUE(shown.toPlainText().contains(QStringLiteral("failing now")));
}

}  // namespace
}  // namespace wendrix

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
