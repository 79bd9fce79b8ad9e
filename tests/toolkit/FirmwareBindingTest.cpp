// FirmwareBindingTest.cpp -- firmware symbols, the model data file, receiver
// time and uptime, against the simulator.
#include <clocale>
#include <iomanip>
#include <cstring>
#include <string>
#include <vector>

#include "../../tools/FirmwareDat.h"
#include "FirmwareBinding.h"
#include "SimFixture.h"

namespace {

constexpr const char *kSettingsDat = "/mnt/hd/ProgramFiles/Settings/FirmwareModel.dat";
constexpr const char *kProgramFilesDat = "/mnt/hd/ProgramFiles/FirmwareModel.dat";
constexpr dword kPacked = 0xE0201505;  // MJD 57376 (2015-12-20), 21:05

std::string Bytes(const std::vector<uint8_t> &v) { return std::string(v.begin(), v.end()); }

class FirmwareBindingTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
  }
  void TearDown() override
  {
    // the model data lives in the live receiver's heap
    ReleaseFirmwareDat();
    FIS_ResetCache();
    SimTest::TearDown();
  }
};

TEST_F(FirmwareBindingTest, NowPacksTheReceiversLocalTime)
{
  byte sec = 0;
  EXPECT_EQ(Now(&sec), kPacked);
  EXPECT_EQ(sec, 9);
  EXPECT_EQ(Now(nullptr), kPacked);
}

TEST(TimeDiff, CountsMinutesAcrossHoursAndDays)
{
  struct Case {
    dword from, to;
    int minutes;
    // clang-format off
  } cases[] = {
      {0xE0201732, 0xE021000A, 20},    // 23:50 to 00:10 the next day
      {0xE021000A, 0xE0201732, -20},   // the same, swapped
      {0xE0201505, 0xE0201505, 0},     // equal
      {0xE0201532, 0xE0201605, 15},    // 21:50 to 22:05: a borrowed hour
      {0xE0200000, 0xE0230000, 4320},  // three days
      {0xE0201505, 0xE0221506, 2881},  // two days and a minute
  };
  // clang-format on
  for (const Case &c : cases) EXPECT_EQ(TimeDiff(c.from, c.to), c.minutes) << std::hex << c.from << " -> " << c.to;
}

TEST_F(FirmwareBindingTest, TimeFormatWritesEveryFormat)
{
  const char *expected[] = {
      "", "21:05", "21:05:09", "2015-12-20", "2015-12-20 21:05", "2015-12-20 21:05:09", "20151220_2105", "", ""};
  char dest[TIMEFORMAT_SIZE];
  for (int format = 0; format <= 8; format++)
    EXPECT_STREQ(TimeFormat(kPacked, 9, format, dest), expected[format]) << "format " << format;
  EXPECT_STREQ(TimeFormat(kPacked, 9, -1, dest), "");
  EXPECT_EQ(TimeFormat(kPacked, 9, 5, nullptr), nullptr);
}

TEST_F(FirmwareBindingTest, TimeFormatOfDateZeroAndGarbledTimes)
{
  char dest[TIMEFORMAT_SIZE];
  EXPECT_STREQ(TimeFormat(0x00001505, 9, 5, dest), "0000-00-00 21:05:09");
  EXPECT_STREQ(TimeFormat(0x00001505, 9, 3, dest), "00-00-00");

  // hour and minute 255: cut at the documented size, nothing behind it touched
  char guarded[TIMEFORMAT_SIZE + 8];
  memset(guarded, 'X', sizeof(guarded));
  TimeFormat(0xE020FFFF, 255, 5, guarded);
  EXPECT_EQ(strlen(guarded), size_t(TIMEFORMAT_SIZE - 1));
  EXPECT_EQ(guarded[TIMEFORMAT_SIZE], 'X');
}

TEST_F(FirmwareBindingTest, TryResolveFindsFirmwareSymbolsOnly)
{
  EXPECT_NE(TryResolve("_tapTask"), nullptr);
  EXPECT_NE(TryResolve("_Z22ApplHdd_SaveWorkFolderv"), nullptr);
  EXPECT_EQ(TryResolve("NoSuchFirmwareSymbol"), nullptr);
  EXPECT_EQ(TryResolve(""), nullptr);
  EXPECT_EQ(TryResolve(nullptr), nullptr);

  // the current-task variable names the host task's slot in the table
  const dword *cur = static_cast<const dword *>(FIS_vCurTapTask());
  ASSERT_NE(cur, nullptr);
  EXPECT_EQ(int(*cur), hostSlot);
  EXPECT_EQ(FIS_vTAPTable(), TryResolve("_tapTask"));
  EXPECT_NE(PvrTimeToLinux(kPacked), 0xFE00u);
}

class WideSystemIdTest : public FirmwareBindingTest {
 protected:
  void Configure(sim::Config &config) override { config.systemId = 0x000255FA; }
};

TEST_F(WideSystemIdTest, GetSysIDKeepsTheLow16Bits) { EXPECT_EQ(GetSysID(), 0x55FA); }

class MissingSymbolsTest : public FirmwareBindingTest {
 protected:
  void Configure(sim::Config &config) override
  {
    config.missingSymbols = {"PvrTimeToLinux", "_Z16Appl_ExecProgramPc", "_tapTask", "_Z20ApplHdd_SelectFolderPvPKc"};
  }
};

TEST_F(MissingSymbolsTest, LookupsAreNullAndWrappersReturnZero)
{
  EXPECT_EQ(FIS_fwTimeToLinux(), nullptr);
  EXPECT_EQ(FIS_fwAppl_ExecProgram(), nullptr);
  EXPECT_EQ(FIS_vTAPTable(), nullptr);
  EXPECT_EQ(PvrTimeToLinux(kPacked), 0xFE00u);
  char name[] = "Ferrox.tap";
  EXPECT_EQ(Appl_ExecProgram(name), 0u);
  FwWorkFolderRecord record = {FW_WORKFOLDER_MAGIC, {0, 0, 0}};
  EXPECT_EQ(ApplHdd_SelectFolder(&record, "/ProgramFiles"), 0u);
  // what this firmware does have is still found
  EXPECT_NE(FIS_vCurTapTask(), nullptr);
  EXPECT_NE(FIS_fwApplHdd_SaveWorkFolder(), nullptr);
}

class NoExecFirmwareTest : public FirmwareBindingTest {
 protected:
  void Configure(sim::Config &config) override { config.firmwareModule = "noexec"; }
};

TEST_F(NoExecFirmwareTest, ProgramStarterIsMissing)
{
  EXPECT_EQ(FIS_fwAppl_ExecProgram(), nullptr);
  char name[] = "Ferrox.tap";
  EXPECT_EQ(Appl_ExecProgram(name), 0u);
  EXPECT_NE(FIS_fwApplHdd_SetWorkFolder(), nullptr);
}

// ---- receiver-model data ----

TEST_F(FirmwareBindingTest, ModelDataIsFoundAndMatchedBySystemId)
{
  std::vector<uint8_t> rest = {0xAA, 0xBB};
  WriteFile(kSettingsDat, Bytes(firmwaredat::Build({{1234, 3, 2}, {word(Rx().config().systemId), 7, 4}}, rest)));

  FirmwareDatHeader *header = nullptr;
  FirmwareDatModel *models = nullptr;
  byte *behind = nullptr;
  ASSERT_TRUE(LoadFirmwareDat(&header, &models, &behind));
  ASSERT_EQ(header->NrOfModels, 2u);
  const FirmwareDatModel *match = nullptr;
  for (dword i = 0; i < header->NrOfModels; i++)
    if (models[i].SysID == GetSysID()) match = &models[i];
  ASSERT_NE(match, nullptr);
  EXPECT_EQ(match->MaxRecStreams, 4u);
  EXPECT_EQ(match->RemoteType, 7u);
  EXPECT_EQ(behind[0], 0xAA);
  EXPECT_EQ(behind[1], 0xBB);

  // read once and kept: the file may go away
  fs::remove(Host(kSettingsDat));
  EXPECT_TRUE(LoadFirmwareDat(nullptr, nullptr, nullptr));
}

TEST_F(FirmwareBindingTest, SettingsCopyWinsOverProgramFiles)
{
  WriteFile(kProgramFilesDat, Bytes(firmwaredat::Build({{1111, 0, 2}})));
  FirmwareDatModel *models = nullptr;
  ASSERT_TRUE(LoadFirmwareDat(nullptr, &models, nullptr));
  EXPECT_EQ(models[0].SysID, 1111);

  ReleaseFirmwareDat();
  WriteFile(kSettingsDat, Bytes(firmwaredat::Build({{2222, 0, 2}})));
  ASSERT_TRUE(LoadFirmwareDat(nullptr, &models, nullptr));
  EXPECT_EQ(models[0].SysID, 2222);
}

TEST_F(FirmwareBindingTest, BadModelDataIsRejectedEveryTimeAndReadAgain)
{
  auto good = firmwaredat::Build({{22010, 1, 4}});
  auto wrongMagic = good;
  wrongMagic[0] ^= 0xFF;
  auto nonZero = good;
  nonZero[8] = 1;
  auto tooManyModels = good;
  tooManyModels[12] = 2;  // announces a record that is not there
  auto hugeCount = good;
  hugeCount[15] = 0xFF;  // a count whose byte size would wrap 32 bits
  std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 10);

  struct Case {
    const char *what;
    std::vector<uint8_t> bytes;
  } cases[] = {{"wrong magic", wrongMagic},
               {"word 8 not zero", nonZero},
               {"count beyond the data", tooManyModels},
               {"huge count", hugeCount},
               {"shorter than the header", shortHeader},
               {"empty", {}}};
  for (const Case &c : cases) {
    WriteFile(kSettingsDat, Bytes(c.bytes));
    FirmwareDatHeader *header = reinterpret_cast<FirmwareDatHeader *>(1);
    EXPECT_FALSE(LoadFirmwareDat(&header, nullptr, nullptr)) << c.what;
    EXPECT_EQ(header, nullptr) << c.what;
    EXPECT_FALSE(LoadFirmwareDat(nullptr, nullptr, nullptr)) << c.what << ", second time";
  }
  // the mended file is read on the next call
  WriteFile(kSettingsDat, Bytes(good));
  EXPECT_TRUE(LoadFirmwareDat(nullptr, nullptr, nullptr));
}

TEST_F(FirmwareBindingTest, NoModelDataFile)
{
  FirmwareDatModel *models = reinterpret_cast<FirmwareDatModel *>(1);
  EXPECT_FALSE(LoadFirmwareDat(nullptr, &models, nullptr));
  EXPECT_EQ(models, nullptr);
  // a folder of that name is found but holds no data
  MakeDir(kSettingsDat);
  EXPECT_FALSE(LoadFirmwareDat(nullptr, &models, nullptr));
  EXPECT_EQ(models, nullptr);
}

TEST(FirmwareDatTool, ParsesModelArguments)
{
  struct Case {
    const char *text;
    bool ok;
    firmwaredat::Model model;
    // clang-format off
  } cases[] = {
      {"22010", true, {22010, 0, 2}},       {"0x55FA:1:4", true, {0x55FA, 1, 4}},
      {"7:3", true, {7, 3, 2}},             {"65536", false, {}},
      {"1:2:3:4", false, {}},               {"abc", false, {}},
      {"", false, {}},                      {"-1", false, {}},
      {"1::4", false, {}},
  };
  // clang-format on
  for (const Case &c : cases) {
    firmwaredat::Model m;
    ASSERT_EQ(firmwaredat::ParseModel(c.text, m), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(m.sysId, c.model.sysId) << c.text;
    EXPECT_EQ(m.remoteType, c.model.remoteType) << c.text;
    EXPECT_EQ(m.recStreams, c.model.recStreams) << c.text;
  }
}

// ---- uptime ----

TEST(Uptime, NoUptimeFileGivesZero)
{
  ASSERT_EQ(sim::Receiver::Live(), nullptr);
  EXPECT_EQ(GetUptime(), 0u) << "no receiver: \"/proc/uptime\" cannot be opened";
}

struct UptimeCase {
  const char *name;
  double seconds;  // what "/proc/uptime" shows first
  dword ticks;
};

// What the test list shows for a case.
void PrintTo(const UptimeCase &c, std::ostream *os) { *os << "uptime " << std::setprecision(12) << c.seconds << " s"; }

class UptimeTest : public FirmwareBindingTest, public ::testing::WithParamInterface<UptimeCase> {
 protected:
  void Configure(sim::Config &config) override { config.uptimeAtStart = GetParam().seconds; }
};

TEST_P(UptimeTest, UptimeIsIn10msUnits)
{
  // read the same under a locale whose decimal mark is a comma, and the
  // locale is left alone
  const char *before = setlocale(LC_NUMERIC, nullptr);
  const std::string localeBefore = before ? before : "C";
  const bool comma = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  const std::string during = setlocale(LC_NUMERIC, nullptr);
  EXPECT_EQ(GetUptime(), GetParam().ticks) << (comma ? "under de_DE" : "");
  EXPECT_EQ(during, std::string(setlocale(LC_NUMERIC, nullptr)));
  setlocale(LC_NUMERIC, localeBefore.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Values, UptimeTest,
    ::testing::Values(UptimeCase{"Hundredths", 12345.67, 1234567}, UptimeCase{"WholeSeconds", 300.0, 30000},
                      UptimeCase{"TopBitOf32", 30000000.5, 3000000050u},
                      // past 2^32 ticks (about 497 days) the count wraps as the counter would
                      UptimeCase{"WrapsPast32Bits", 50000000.0, 705032704u}, UptimeCase{"NegativeIsNoUptime", -5.0, 0},
                      // the hundredths as the kernel writes them, not as a double times 100 gives them
                      UptimeCase{"HundredthsExact", 0.29, 29}, UptimeCase{"LargeHundredths", 1234567.89, 123456789}),
    [](const ::testing::TestParamInfo<UptimeCase> &info) { return std::string(info.param.name); });

}  // namespace
