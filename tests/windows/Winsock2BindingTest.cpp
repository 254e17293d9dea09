// LoadWinsock2 on Windows: ws2_32.dll by name, the ten look-ups in their
// order, the ANSI registration entry where the wide one is missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Winsock2Library.h"
#include "link/winsock2.h"

namespace wendrix {
namespace {

struct Loading {
  std::vector<std::string> loaded;
  std::vector<std::string> lookedUp;
  bool libraryPresent = true;
  std::string missing;  // an entry the fake library lacks
  int frees = 0;
};
Loading* loading = nullptr;

int gEntry;  // every found entry points here; none is called
const auto kFakeLibrary = reinterpret_cast<HMODULE>(&loading);

HMODULE FakeLoad(const char* name) {
  loading->loaded.emplace_back(name);
  return loading->libraryPresent ? kFakeLibrary : nullptr;
}
FARPROC FakeFind(HMODULE library, const char* name) {
  EXPECT_EQ(library, kFakeLibrary);
  loading->lookedUp.emplace_back(name);
  return name == loading->missing ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&gEntry));
}
BOOL FakeFree(HMODULE library) {
  EXPECT_EQ(library, kFakeLibrary);
  ++loading->frees;
  return TRUE;
}
constexpr LibraryLoaderCalls kFakeLoader = {&FakeLoad, &FakeFind, &FakeFree};

// Each test binds a fake library; the real binding is restored after it.
class Winsock2Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    loading = &state_;
    UnloadWinsock2();
    SetLibraryLoaderForTesting(&kFakeLoader);
  }
  void TearDown() override {
    UnloadWinsock2();
    SetLibraryLoaderForTesting(nullptr);
    EXPECT_TRUE(LoadWinsock2());
    loading = nullptr;
  }
  Loading state_;
};

const std::vector<std::string> kOrder = {
    "WSAStartup", "WSAGetLastError", "socket",   "bind",           "listen",
    "accept",     "getsockname",     "WSAIoctl", "WSASetServiceW", "recv"};

TEST_F(Winsock2Binding, LoadsTheLibraryByNameAndLooksUpTheTenEntriesInOrder) {
  ASSERT_TRUE(LoadWinsock2());
  EXPECT_EQ(state_.loaded, std::vector<std::string>{"ws2_32.dll"});
  EXPECT_EQ(state_.lookedUp, kOrder);
  EXPECT_TRUE(Ws2_32.setServiceIsWide);
  EXPECT_EQ(Winsock2Entries.library, kFakeLibrary);
  EXPECT_EQ(Winsock2Entries.WSASetService, &SetServiceWin32);

  // Loaded: a second call loads nothing.
  EXPECT_TRUE(LoadWinsock2());
  EXPECT_EQ(state_.loaded.size(), 1u);
  EXPECT_EQ(state_.lookedUp.size(), kOrder.size());
}

TEST_F(Winsock2Binding, WithoutTheWideRegistrationEntryTakesTheAnsiOne) {
  state_.missing = "WSASetServiceW";
  ASSERT_TRUE(LoadWinsock2());
  std::vector<std::string> order = kOrder;
  order.insert(order.end() - 1, "WSASetServiceA");
  EXPECT_EQ(state_.lookedUp, order);
  EXPECT_FALSE(Ws2_32.setServiceIsWide);
  EXPECT_NE(Ws2_32.WSASetService, nullptr);
  EXPECT_NE(Winsock2Entries.WSASetService, nullptr);
}

TEST_F(Winsock2Binding, AMissingEntryStaysEmptyInTheTable) {
  state_.missing = "WSAIoctl";
  ASSERT_TRUE(LoadWinsock2());
  EXPECT_EQ(Ws2_32.WSAIoctl, nullptr);
  EXPECT_EQ(Winsock2Entries.WSAIoctl, nullptr);
  EXPECT_NE(Winsock2Entries.recv, nullptr);
}

TEST_F(Winsock2Binding, AFailedLoadReportsFalseAndTheNextCallTriesAgain) {
  state_.libraryPresent = false;
  EXPECT_FALSE(LoadWinsock2());
  EXPECT_TRUE(state_.lookedUp.empty());
  state_.libraryPresent = true;
  EXPECT_TRUE(LoadWinsock2());
  EXPECT_EQ(state_.loaded.size(), 2u);
}

TEST_F(Winsock2Binding, UnloadFreesTheLibraryOnce) {
  ASSERT_TRUE(LoadWinsock2());
  EXPECT_TRUE(UnloadWinsock2());
  EXPECT_TRUE(UnloadWinsock2());
  EXPECT_EQ(state_.frees, 1);
}

// The system's library, as the program binds it at start.
TEST(Winsock2System, EveryEntryIsFoundInTheSystemLibrary) {
  ASSERT_TRUE(LoadWinsock2());
  EXPECT_NE(Ws2_32.handle, nullptr);
  EXPECT_NE(Ws2_32.WSAStartup, nullptr);
  EXPECT_NE(Ws2_32.WSAGetLastError, nullptr);
  EXPECT_NE(Ws2_32.socket, nullptr);
  EXPECT_NE(Ws2_32.bind, nullptr);
  EXPECT_NE(Ws2_32.listen, nullptr);
  EXPECT_NE(Ws2_32.accept, nullptr);
  EXPECT_NE(Ws2_32.getsockname, nullptr);
  EXPECT_NE(Ws2_32.WSAIoctl, nullptr);
  EXPECT_NE(Ws2_32.WSASetService, nullptr);
  EXPECT_TRUE(Ws2_32.setServiceIsWide);
  EXPECT_NE(Ws2_32.recv, nullptr);
}

}  // namespace
}  // namespace wendrix
