// Card counting, global card numbers, the snapshot, module references and
// name binding, each scenario in a freshly started device manager.
#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "fake_host.h"
#include "fresh_process.h"
#include "lx/devmm.h"

namespace {

constexpr int kHeron = 0;
constexpr int kEgret = 1;
constexpr int kTernCard = 4;

bool ternCardLoaded() { return GetModuleHandleA("TernCard.dll") != nullptr; }

int32_t cardCount(int type) {
  int32_t count = -99;
  EXPECT_EQ(LxDevGetCardNumber(type, &count), LX_OK);
  return count;
}

struct Mapping {
  LxStatus status;
  int32_t type;
  int32_t number;
};

Mapping mapIndex(int cardIndex) {
  Mapping m{0, -99, -99};
  m.status = LxDevGetTypeFromIndex(cardIndex, &m.type, &m.number);
  return m;
}

void expectMapping(int cardIndex, int32_t type, int32_t number) {
  Mapping m = mapIndex(cardIndex);
  EXPECT_EQ(m.status, LX_OK) << "index " << cardIndex;
  EXPECT_EQ(m.type, type) << "index " << cardIndex;
  EXPECT_EQ(m.number, number) << "index " << cardIndex;
}

void expectNoCard(int cardIndex) {
  Mapping m = mapIndex(cardIndex);
  EXPECT_EQ(m.status, LX_NO_CARD_FOUND) << "index " << cardIndex;
  EXPECT_EQ(m.type, -99) << "outputs must stay untouched, index " << cardIndex;
  EXPECT_EQ(m.number, -99) << "outputs must stay untouched, index " << cardIndex;
}

TEST(CardCounting, EachTypeIsCountedOnceThroughItsLibraryWhichIsReleasedAgain) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    host->ternCardCount = 2;
    host->heronCount = 1;
    EXPECT_EQ(cardCount(kTernCard), 2);
    EXPECT_EQ(host->ternCardCountCalls, 1);
    EXPECT_EQ(host->ternCard.attaches, 1);
    EXPECT_EQ(host->ternCard.detaches, 1);
    EXPECT_FALSE(ternCardLoaded());

    host->ternCardCount = 5;  // the cell answers until the snapshot
    EXPECT_EQ(cardCount(kTernCard), 2);
    EXPECT_EQ(host->ternCardCountCalls, 1);
    EXPECT_EQ(host->ternCard.attaches, 1);

    EXPECT_EQ(cardCount(kHeron), 1);
    EXPECT_EQ(cardCount(kEgret), 0);  // no library of that type
  });
}

TEST(CardCounting, NegativeAnswerOfALibraryCountsNoCards) {
  expectInFreshProcess([] {
    fakeHost()->ternCardCount = -1;
    fakeHost()->heronCount = 1;
    EXPECT_EQ(cardCount(kTernCard), 0);
    expectMapping(1, kHeron, 1);
    expectNoCard(2);
  });
}

TEST(GlobalCardNumbers, TwoTernCardsMapToNumbersOneAndTwoOfTheirType) {
  expectInFreshProcess([] {
    fakeHost()->ternCardCount = 2;
    expectMapping(1, kTernCard, 1);
    expectMapping(2, kTernCard, 2);
    expectNoCard(3);
    expectNoCard(0);
    expectNoCard(-1);
    expectNoCard(INT_MIN);
  });
}

TEST(GlobalCardNumbers, NumbersRunThroughTheTypesInTableOrder) {
  expectInFreshProcess([] {
    fakeHost()->heronCount = 1;
    fakeHost()->ternCardCount = 2;
    expectMapping(1, kHeron, 1);
    expectMapping(2, kTernCard, 1);
    expectMapping(3, kTernCard, 2);
    expectNoCard(4);
    expectNoCard(INT_MAX);
  });
}

TEST(GlobalCardNumbers, WithoutCardsEveryNumberIsUnknown) {
  expectInFreshProcess([] {
    for (int type = 0; type < 5; ++type) EXPECT_EQ(cardCount(type), 0);
    expectNoCard(1);
    expectNoCard(2);
  });
}

TEST(Snapshot, FirstOpenFreezesCountsUntilANewStaticMemorySize) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    host->ternCardCount = 2;
    EXPECT_EQ(cardCount(kTernCard), 2);
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    EXPECT_EQ(host->ternCardCountCalls, 1) << "the snapshot takes the count from the cell";

    host->ternCardCount = 3;  // a card appears
    EXPECT_EQ(cardCount(kTernCard), 2);
    expectNoCard(3);
    EXPECT_EQ(host->ternCardCountCalls, 1);

    ASSERT_EQ(LxDevSetStaticMem(16), LX_OK);
    EXPECT_EQ(cardCount(kTernCard), 3);
    expectMapping(3, kTernCard, 3);

    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);  // a new snapshot
    host->ternCardCount = 4;
    EXPECT_EQ(cardCount(kTernCard), 3);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
  });
}

TEST(Snapshot, AFailedOpenStillFreezesTheCounts) {
  expectInFreshProcess([] {
    fakeHost()->ternCardCount = 1;
    EXPECT_EQ(LxDevOpenDriver(kEgret), LX_OPEN_DRIVER_FAILED);
    fakeHost()->ternCardCount = 2;
    EXPECT_EQ(cardCount(kTernCard), 1);
    EXPECT_EQ(fakeHost()->ternCardCountCalls, 1);
  });
}

TEST(ModuleReferences, EveryOpenHoldsTheLibraryUntilItsClose) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    host->ternCardCount = 1;
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    // One attach for the snapshot's count, one for the opens.
    EXPECT_EQ(host->ternCard.attaches, 2);
    EXPECT_EQ(host->ternCard.detaches, 1);

    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_TRUE(ternCardLoaded());
    EXPECT_EQ(host->ternCard.detaches, 1);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_FALSE(ternCardLoaded());
    EXPECT_EQ(host->ternCard.detaches, 2);

    // A surplus close releases nothing, not even a reference held elsewhere.
    HMODULE own = LoadLibraryA("TernCard.dll");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
    EXPECT_TRUE(ternCardLoaded());
    EXPECT_TRUE(FreeLibrary(own));
    EXPECT_FALSE(ternCardLoaded());
    EXPECT_EQ(host->ternCard.detaches, 3);
  });
}

TEST(ModuleReferences, MissingLibraryCannotBeOpenedAndClosingItIsHarmless) {
  expectInFreshProcess([] {
    EXPECT_EQ(LxDevOpenDriver(kEgret), LX_OPEN_DRIVER_FAILED);
    EXPECT_EQ(LxDevCloseDriver(kEgret), LX_OK);
    LxDevProc proc = reinterpret_cast<LxDevProc>(0x1);
    EXPECT_EQ(LxDevGetFuncAddr(kEgret, "Begin", &proc, 1, 0), LX_OPEN_DRIVER_FAILED);
    EXPECT_EQ(proc, reinterpret_cast<LxDevProc>(0x1));
  });
}

template <typename Result, typename... Args>
Result call(LxDevProc proc, Args... args) {
  return reinterpret_cast<Result (*)(Args...)>(proc)(args...);
}

TEST(FunctionBinding, ThreeNameFormsResolveTheLibrarysExports) {
  expectInFreshProcess([] {
    fakeHost()->ternCardCount = 1;
    const auto untouched = reinterpret_cast<LxDevProc>(0x1);
    LxDevProc proc = untouched;
    // Counting loads and releases the library, so it is not loaded yet.
    EXPECT_EQ(cardCount(kTernCard), 1);
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, "Begin", &proc, 1, 0), LX_OPEN_DRIVER_FAILED);
    EXPECT_EQ(proc, untouched);

    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, "Begin", &proc, 1, 0), LX_OK);
    EXPECT_EQ((call<uint64_t, int32_t>(proc, 1)), 0x7E510001u);
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, "End", &proc, 1, 0), LX_OK);
    EXPECT_EQ((call<int32_t, uint64_t>(proc, 0)), 0x7E510002);
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, "Capture", &proc, 1, 1), LX_OK);
    EXPECT_EQ((call<int32_t, uint64_t>(proc, 0)), 0x7E510003);
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, "GetI2CParam", &proc, 0, 0), LX_OK);
    EXPECT_EQ((call<int32_t, uint64_t>(proc, 0)), 0x7E510004);
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, "GetI2CParam", &proc, 0, 1), LX_OK);
    EXPECT_EQ((call<int32_t, uint64_t>(proc, 0)), 0x7E510004);

    proc = untouched;
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, "Begin", &proc, 1, 1), LX_NOT_SUPPORT_INTERFACE);  // "TernCardBegin"
    EXPECT_EQ(proc, nullptr);
    proc = untouched;
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, "SetMask", &proc, 1, 1), LX_NOT_SUPPORT_INTERFACE);
    EXPECT_EQ(proc, nullptr);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
  });
}

TEST(FunctionBinding, ComposedNamesAreBoundedToNinetyNineCharacters) {
  expectInFreshProcess([] {
    fakeHost()->ternCardCount = 1;
    ASSERT_EQ(LxDevOpenDriver(kTernCard), LX_OK);
    LxDevProc proc = nullptr;
    const std::string fits(91, 'X');  // "TernCard" + 91 = 99 characters
    ASSERT_EQ(LxDevGetFuncAddr(kTernCard, fits.c_str(), &proc, 1, 1), LX_OK);
    EXPECT_EQ(call<int32_t>(proc), 0x7E510099);

    // One more character would be cut to the name above; it must not bind.
    const std::string tooLong(92, 'X');
    proc = reinterpret_cast<LxDevProc>(0x1);
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, tooLong.c_str(), &proc, 1, 1), LX_NOT_SUPPORT_INTERFACE);
    EXPECT_EQ(proc, nullptr);
    const std::string alone = "TernCard" + fits + "X";
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, alone.c_str(), &proc, 0, 0), LX_NOT_SUPPORT_INTERFACE);
    const std::string huge(4096, 'Y');
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, huge.c_str(), &proc, 1, 0), LX_NOT_SUPPORT_INTERFACE);
    EXPECT_EQ(proc, nullptr);
    EXPECT_EQ(LxDevCloseDriver(kTernCard), LX_OK);
  });
}

TEST(BadArguments, TypesOutsideTheTableAndNullPointersAreRefusedWithoutEffect) {
  expectInFreshProcess([] {
    FakeHost* host = fakeHost();
    host->ternCardCount = 2;
    LxDevProc proc = reinterpret_cast<LxDevProc>(0x1);
    int32_t count = -99;
    int32_t type = -99;
    for (int bad : {5, -1, 100, INT_MIN, INT_MAX}) {
      EXPECT_EQ(LxDevOpenDriver(bad), LX_PARAMETER_INVALID) << bad;
      EXPECT_EQ(LxDevCloseDriver(bad), LX_PARAMETER_INVALID) << bad;
      EXPECT_EQ(LxDevGetFuncAddr(bad, "Begin", &proc, 1, 0), LX_PARAMETER_INVALID) << bad;
      EXPECT_EQ(proc, reinterpret_cast<LxDevProc>(0x1));
      count = -99;
      EXPECT_EQ(LxDevGetCardNumber(bad, &count), LX_PARAMETER_INVALID) << bad;
      EXPECT_EQ(count, 0) << bad;
    }
    EXPECT_EQ(LxDevGetCardNumber(kTernCard, nullptr), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevGetTypeFromIndex(1, nullptr, &count), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevGetTypeFromIndex(1, &type, nullptr), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, nullptr, &proc, 1, 0), LX_PARAMETER_INVALID);
    EXPECT_EQ(LxDevGetFuncAddr(kTernCard, "Begin", nullptr, 1, 0), LX_PARAMETER_INVALID);

    // None of it counted cards or took the snapshot.
    EXPECT_EQ(host->ternCardCountCalls, 0);
    host->ternCardCount = 3;
    EXPECT_EQ(cardCount(kTernCard), 3);
  });
}

}  // namespace
