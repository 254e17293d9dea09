#include <thread>

#include "LinkFixture.h"
#include "decode/LegacyDecoder.h"
#include "joystick/StatusRecord.h"

namespace wendrix::test {
namespace {

std::vector<uint8_t> Message(int32_t steering, uint16_t sequence = 1, size_t length = 32) {
  return BuildFramedMessage({steering, 0, sequence, 0, 0}, length);
}

std::vector<uint8_t> Frame(int32_t steering, uint16_t sequence = 1, size_t length = 32) {
  return BuildFrame(Message(steering, sequence, length));
}

// Sends the pieces with a pause between them, so that each one is likely
// to arrive in a receive of its own.
void SendInPieces(int fd, std::span<const uint8_t> bytes, std::initializer_list<size_t> cuts) {
  size_t from = 0;
  for (size_t to : cuts) {
    ASSERT_TRUE(SendAll(fd, bytes.subspan(from, to - from)));
    std::this_thread::sleep_for(20ms);
    from = to;
  }
  ASSERT_TRUE(SendAll(fd, bytes.subspan(from)));
}

TEST_F(LinkTest, GreetingIsSentBeforeThePhoneSendsAnything) {
  gLegacy.lastLegacySequence = 500;
  int fd = Connect();
  EXPECT_EQ(ReadBytes(fd, 2), (std::vector<uint8_t>{0x00, 0x02}));
  EXPECT_TRUE(ReadBytes(fd, 1, 300ms).empty()) << "nothing follows the greeting";
  EXPECT_EQ(gLegacy.lastLegacySequence.load(), 0) << "reset before the greeting";
}

TEST_F(LinkTest, HandshakeFieldsSentInPiecesAreServedLikeWholeOnes) {
  {
    SCOPED_TRACE("legacy: mode word 2+2, identifier 5+7, trailing pair 1+1");
    int fd = Open();
    auto opening = Concat(BuildLegacyOpening(), BuildLegacyRecord({1, 1111, 2222, 0}));
    SendInPieces(fd, opening, {2, 4, 9, 16, 17});
    ASSERT_TRUE(UpdateWithX(1111));
    EXPECT_EQ(Updates().back().axisY, 2222);
  }
  {
    SCOPED_TRACE("framed: mode word 1+3, payload in three pieces");
    int fd = Open();
    SendInPieces(fd, Frame(100), {1, 4, 10, 30});
    ASSERT_TRUE(UpdateWithX(16384 + 100));
  }
}

TEST_F(LinkTest, FramedStreamsDeliverEachFrameWhole) {
  int fd = Open();
  // Mode word 0x00000016: a first frame of 22 bytes, axes only.
  ReportStore(gState.report.buttons, 7u);
  ASSERT_TRUE(SendAll(fd, Frame(-16384, 1, 22)));
  ASSERT_TRUE(UpdateWithX(0));
  EXPECT_EQ(Updates().back().buttons, 7u);

  // The largest frame allowed, then a small one through the same buffer.
  ASSERT_TRUE(SendAll(fd, Frame(200, 2, kMaxFrameLength)));
  ASSERT_TRUE(SendAll(fd, Frame(300, 3, 32)));
  ASSERT_TRUE(UpdateWithX(16384 + 300));
  auto u = Updates();
  ASSERT_EQ(u.size(), 3u);
  EXPECT_EQ(u[1].axisX, 16384 + 200);
}

TEST_F(LinkTest, FramesSentTogetherAreDeliveredOneByOneInOrder) {
  int fd = Open();
  std::vector<uint8_t> burst;
  for (int i = 1; i <= 60; ++i) {
    // Lengths that vary, so frames straddle every receive and buffer edge.
    auto frame = Frame(i, static_cast<uint16_t>(i), 22 + static_cast<size_t>(i % 13) * 7);
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(SendAll(fd, burst));
  ASSERT_TRUE(UpdateCountReaches(60));
  auto u = Updates();
  ASSERT_EQ(u.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(u[static_cast<size_t>(i)].axisX, 16384 + i + 1);
}

TEST_F(LinkTest, AnEmptyFrameCountsAsActivityWithoutDecoding) {
  int fd = Open();
  ASSERT_TRUE(SendAll(fd, Frame(5)));
  ASSERT_TRUE(UpdateCountReaches(1));
  gState.wifiDataSeen = false;
  ASSERT_TRUE(SendAll(fd, BuildFrame({})));
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));
  // A later frame still arrives, so the empty one was cut correctly.
  ASSERT_TRUE(SendAll(fd, Frame(6)));
  ASSERT_TRUE(UpdateWithX(16384 + 6));
  EXPECT_EQ(Updates().size(), 2u);
}

TEST_F(LinkTest, OversizeLengthEndsTheReaderBeforeAnyPayload) {
  {
    SCOPED_TRACE("as the mode word");
    int fd = Open();
    ASSERT_TRUE(SendAll(fd, BuildFrameWithLength(kMaxFrameLength + 1, {})));
    EXPECT_TRUE(PeerClosed(fd));
  }
  {
    SCOPED_TRACE("after a good frame");
    int fd = Open();
    ASSERT_TRUE(SendAll(fd, Frame(9)));
    ASSERT_TRUE(UpdateCountReaches(1));
    gState.wifiDataSeen = false;
    ASSERT_TRUE(SendAll(fd, BuildFrameWithLength(kMaxFrameLength + 1, Message(10))));
    EXPECT_TRUE(PeerClosed(fd));
  }
  EXPECT_EQ(Updates().size(), 1u);
  EXPECT_FALSE(gState.wifiDataSeen.load());
}

TEST_F(LinkTest, EveryEndOfASessionClosesItsSocket) {
  auto opening = BuildLegacyOpening();
  {
    SCOPED_TRACE("phone closes right after the greeting");
    int fd = Open();
    EndWrites(fd);
    EXPECT_TRUE(PeerClosed(fd));
  }
  {
    SCOPED_TRACE("stream ends inside the mode word");
    int fd = Open();
    ASSERT_TRUE(SendAll(fd, std::vector<uint8_t>{0, 0}));
    EndWrites(fd);
    EXPECT_TRUE(PeerClosed(fd));
  }
  {
    SCOPED_TRACE("identifier wrong in its last byte");
    int fd = Open();
    auto wrong = opening;
    wrong[kModeWordSize + kAppIdentifierSize - 1] = 'D';
    ASSERT_TRUE(SendAll(fd, Concat(wrong, BuildLegacyRecord({1, 500, 600, 1}))));
    EXPECT_TRUE(PeerClosed(fd));
  }
  {
    SCOPED_TRACE("framed stream ends inside a payload");
    int fd = Open();
    auto frame = Frame(1);
    ASSERT_TRUE(SendAll(fd, std::span(frame).first(10)));
    EndWrites(fd);
    EXPECT_TRUE(PeerClosed(fd));
  }
  EXPECT_TRUE(Updates().empty());
  EXPECT_FALSE(gState.wifiDataSeen.load());
  {
    SCOPED_TRACE("legacy stream ends");
    int fd = Open();
    ASSERT_TRUE(SendAll(fd, Concat(opening, BuildLegacyRecord({1, 500, 600, 0}))));
    ASSERT_TRUE(UpdateWithX(500));
    EndWrites(fd);
    EXPECT_TRUE(PeerClosed(fd));
  }
  {
    SCOPED_TRACE("framed stream reset by the phone");
    int fd = Open();
    ASSERT_TRUE(SendAll(fd, Frame(2)));
    ASSERT_TRUE(UpdateWithX(16384 + 2));
    Reset(fd);  // nothing to read back; TearDown checks the descriptor
  }
}

TEST_F(LinkTest, LegacyRecordsSplitAnywhereDecodeLikeWholeOnes) {
  int fd = Open();
  ASSERT_TRUE(SendAll(fd, BuildLegacyOpening()));
  std::vector<LegacyRecord> records;
  for (uint16_t i = 1; i <= 20; ++i)
    records.push_back({i, static_cast<uint16_t>(1000 * i), static_cast<uint16_t>(30000 - 100 * i), 0});
  const auto bytes = BuildLegacyRecords(records);

  const size_t pieces[] = {3, 5, 1, 6, 9, 2, 13, 4, 8, 1, 1, 1, 1, 1, 1, 1, 15};
  size_t sent = 0, complete = 0;
  for (size_t i = 0; sent < bytes.size(); ++i) {
    size_t n = std::min(pieces[i % std::size(pieces)], bytes.size() - sent);
    ASSERT_TRUE(SendAll(fd, std::span(bytes).subspan(sent, n)));
    sent += n;
    if (sent / kLegacyRecordSize > complete) {
      complete = sent / kLegacyRecordSize;
      ASSERT_TRUE(UpdateWithX(records[complete - 1].steering)) << "after " << sent << " bytes";
    } else {
      std::this_thread::sleep_for(5ms);  // lets the part-record arrive alone
    }
  }
  // Every push shows a record that was sent, in order.
  int32_t last = 0;
  for (const auto& r : Updates()) {
    EXPECT_EQ(r.axisX % 1000, 0);
    EXPECT_EQ(r.axisY, 30000 - r.axisX / 10);
    EXPECT_GE(r.axisX, last);
    last = r.axisX;
  }
  EXPECT_EQ(last, 20000);
}

TEST_F(LinkTest, LegacyChunkOfStaleRecordsStillRaisesTheFlag) {
  int fd = Open();
  ASSERT_TRUE(SendAll(fd, Concat(BuildLegacyOpening(), BuildLegacyRecord({5, 700, 800, 0}))));
  ASSERT_TRUE(UpdateWithX(700));
  // The first chunk marks the link after its push; only then is the flag
  // free for the second one.
  ASSERT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));
  gState.wifiDataSeen = false;
  ASSERT_TRUE(SendAll(fd, BuildLegacyRecord({3, 900, 900, 0})));
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));
  ASSERT_TRUE(UpdateCountReaches(2));
  EXPECT_EQ(Updates().back().axisX, 700);
}

// The pages name the Wi-Fi phone that delivers data, never a connection
// that got no further than the greeting.
TEST_F(LinkTest, ThePeerShownIsTheStreamThatLastDeliveredData) {
  gStatus.wifiPeerAddress = 0;
  gStatus.wifiPeerPort = 0;
  const auto shows = [](int fd) {
    return Eventually([fd] { return gStatus.wifiPeerPort.load() == LocalPort(fd); });
  };

  const int phone = Open();
  ASSERT_TRUE(SendAll(phone, Concat(BuildLegacyOpening(), BuildLegacyRecord({1, 1111, 2222, 0}))));
  ASSERT_TRUE(UpdateWithX(1111));
  ASSERT_TRUE(shows(phone));
  EXPECT_EQ(gStatus.wifiPeerAddress.load(), 0x0100007Fu) << "127.0.0.1 in network order";

  // A stranger that connects and leaves, or stops inside the handshake.
  const int stranger = Open();
  Close(stranger);
  const int halfway = Open();
  const auto opening = BuildLegacyOpening();
  ASSERT_TRUE(SendAll(halfway, std::span(opening).first(6)));
  ASSERT_TRUE(SendAll(phone, BuildLegacyRecord({2, 1112, 2222, 0})));
  ASSERT_TRUE(UpdateWithX(1112));
  EXPECT_TRUE(shows(phone));
  Close(halfway);

  // A framed stream is named once its first frame arrives, and the phone
  // that sends after it is named again.
  const int framed = Open();
  EXPECT_FALSE(Eventually([&] { return gStatus.wifiPeerPort.load() == LocalPort(framed); }, 200ms));
  ASSERT_TRUE(SendAll(framed, Frame(100)));
  ASSERT_TRUE(UpdateWithX(16384 + 100));
  EXPECT_TRUE(shows(framed));
  ASSERT_TRUE(SendAll(phone, BuildLegacyRecord({3, 1113, 2222, 0})));
  EXPECT_TRUE(shows(phone));

  // Bluetooth streams leave the Wi-Fi peer alone.
  const int radio = Open(LinkKind::Bluetooth);
  ASSERT_TRUE(SendAll(radio, Frame(200)));
  ASSERT_TRUE(UpdateWithX(16384 + 200));
  EXPECT_TRUE(shows(phone));
}

TEST_F(LinkTest, EachLinkRaisesItsOwnFlag) {
  struct Case {
    LinkKind link;
    bool framed;
  };
  for (Case c : {Case{LinkKind::Wifi, true}, Case{LinkKind::Wifi, false}, Case{LinkKind::Bluetooth, true},
                 Case{LinkKind::Bluetooth, false}}) {
    SCOPED_TRACE(testing::Message() << "wifi " << (c.link == LinkKind::Wifi) << " framed " << c.framed);
    gState.wifiDataSeen = false;
    gState.bluetoothDataSeen = false;
    const size_t before = Updates().size();
    int fd = Open(c.link);
    ASSERT_TRUE(
        SendAll(fd, c.framed ? Frame(1) : Concat(BuildLegacyOpening(), BuildLegacyRecord({1, 1, 1, 0}))));
    ASSERT_TRUE(UpdateCountReaches(before + 1));
    auto& own = c.link == LinkKind::Wifi ? gState.wifiDataSeen : gState.bluetoothDataSeen;
    auto& other = c.link == LinkKind::Wifi ? gState.bluetoothDataSeen : gState.wifiDataSeen;
    EXPECT_TRUE(Eventually([&] { return own.load(); }));
    EXPECT_FALSE(other.load());
    Close(fd);
  }
}

TEST_F(LinkTest, EveryAcceptResetsTheFramedSequenceEvenWhileAnotherSessionRuns) {
  gState.sequenceCheck = true;
  int a = Open();
  ASSERT_TRUE(SendAll(a, Frame(1, 20000)));
  ASSERT_TRUE(UpdateWithX(16384 + 1));
  EXPECT_EQ(gState.lastSequence.load(), 20000);

  int b = Open(LinkKind::Bluetooth);
  EXPECT_EQ(gState.lastSequence.load(), 0);
  // 40000 is newer than 20000 but not than 0: only numbers from 1 to 32767 are.
  ASSERT_TRUE(SendAll(a, Frame(2, 40000)));
  ASSERT_TRUE(SendAll(a, Frame(3, 5)));
  ASSERT_TRUE(UpdateWithX(16384 + 3));
  for (const auto& r : Updates()) EXPECT_NE(r.axisX, 16384 + 2);
  Close(b);
}

}  // namespace
}  // namespace wendrix::test
