#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace korvan {
namespace {

struct CliRun {
  std::string out;
  int status;
};

// Runs korvan-cli with `arguments` (stderr discarded) and returns its output and exit status;
// with `stderrOnly` its stderr instead (stdout discarded).
CliRun Cli(const std::string& arguments, bool stderrOnly = false) {
  const std::string command = std::string(KORVAN_BINARY_DIR "/src/cli/korvan-cli ") + arguments +
                              (stderrOnly ? " 2>&1 >/dev/null" : " 2>/dev/null");
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  CliRun run{"", 0};
  char buffer[512];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

TEST(KorvanCliChip, PrintsTheRecordOfAListedPart) {
  const CliRun run = Cli("chip N32G452CBL7");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "chipName=N32G452CBL7\n"
            "familyCode=0x00\n"
            "partIndex=0\n"
            "flashSizeKB=128\n"
            "flashStart=0x08000000\n"
            "flashEnd=0x0801FFFF\n"
            "eepStart=0x08080000\n"
            "eepEnd=0x08080FFF\n"
            "optionByteLength=20\n"
            "editorLayout=0x14\n"
            "editor=general\n"
            "checkCtrl=0x00\n"
            "familyCtrl=0x00\n"
            "isM0Family=0\n"
            "isG43xOrL4Family=0\n"
            "isN32G020=0\n"
            "isN32G430G401=0\n"
            "optionSum=0x0DF2\n"
            "optionSumInv=0xF20D\n"
            "Option Byte Setting: A5 FF FF FF FF FF FF FF FF \n"
            "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 \n");
}

TEST(KorvanCliChip, SeriesAndTypedNames) {
  struct Row {
    const char* arguments;
    std::vector<const char*> lines;
  } rows[] = {
      {"chip N32G003F5Q7",
       {"familyCode=0x20\n", "flashSizeKB=30\n", "flashEnd=0x080077FF\n", "editor=m0\n",
        "checkCtrl=0x06\n", "isM0Family=1\n", "optionSum=0x0EF1\n", "optionSumInv=0xF10E\n",
        "Option Byte Buffer: A5 5A F7 08 FF 00 FF 00 \n"}},
      {"chip N32G020G7xx",
       {"partIndex=128\n", "flashStart=0x00030000\n", "flashEnd=0x0004FFFF\n", "editor=none\n",
        "familyCtrl=0x01\n", "isN32G020=1\n"}},
      {"chip N32G401C8Q7",
       {"familyCode=0x30\n", "partIndex=14\n", "optionByteLength=16\n", "editorLayout=0x20\n",
        "editor=g430\n", "familyCtrl=0x04\n", "isG43xOrL4Family=1\n", "isN32G430G401=1\n"}},
      {"chip N32WB031KEQ6 --series 0",
       {"familyCode=0x80\n", "flashSizeKB=512\n", "flashStart=0x01000000\n",
        "flashEnd=0x0107FFFF\n", "optionByteLength=0\n", "editorLayout=0x14\n", "editor=none\n",
        "Option Byte Buffer: \n"}},
      {"chip N32G031K8L7 --series 4",  // not in that list: typed, position 0
       {"familyCode=0x40\n", "partIndex=0\n", "flashSizeKB=64\n", "editor=general\n"}},
      {"chip N32G4", {"chipName=N32G4\n", "familyCode=0x00\n", "flashSizeKB=1024\n"}},
  };
  for (const auto& row : rows) {
    const CliRun run = Cli(row.arguments);
    EXPECT_EQ(run.status, 0) << row.arguments;
    for (const char* line : row.lines) {
      EXPECT_NE(run.out.find(line), std::string::npos) << row.arguments << ": " << line;
    }
  }
}

// A typed name is still shown, but stderr says it is not the catalogue's.
TEST(KorvanCliChip, ANameOutsideTheCatalogueIsSaidOnStderr) {
  struct Row {
    const char* arguments;
    const char* says;  // "" when nothing is said
  } rows[] = {
      {"chip N32G452CBL7", ""},
      {"chip N32G031K8L7 --series 2", ""},
      {"chip N32G4", "chip: unknown part 'N32G4' (not in the catalogue); nearest: "},
      {"chip n32g452cbl7",
       "chip: 'n32g452cbl7' is not spelt as the catalogue spells it ('N32G452CBL7')"},
      {"chip N32G031K8L7 --series 4", "chip: unknown part 'N32G031K8L7'"},
  };
  for (const auto& row : rows) {
    const CliRun run = Cli(row.arguments, true);
    EXPECT_EQ(run.status, 0) << row.arguments;
    EXPECT_EQ(run.out.substr(0, std::string(row.says).size()), row.says) << row.arguments;
    if (*row.says == '\0') {
      EXPECT_EQ(run.out, "") << row.arguments;
    }
  }
}

TEST(KorvanCliChip, ListsTheCatalogue) {
  const CliRun all = Cli("chip --list");
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 144);
  EXPECT_EQ(all.out.substr(0, all.out.find('\n')), "0\tN32G45xxx\t0\tN32G452CBL7");
  const CliRun one = Cli("chip --list --series 8 --json");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(
      one.out,
      "{\"series\":8,\"series_name\":\"Else Chips\",\"position\":0,\"part\":\"NSS32LOCK-1\"}\n");
  EXPECT_EQ(Cli("chip --list N32G452CBL7").status, 2);
  EXPECT_EQ(Cli("chip N32G452CBL7 --json").status, 2);
}

TEST(KorvanCliChip, BadCommandLinesAreUsageErrors) {
  EXPECT_EQ(Cli("chip").status, 2);
  EXPECT_EQ(Cli("chip N32G452CBL7 --series 9").status, 2);
  EXPECT_EQ(Cli("chip N32G452CBL7 --series -1").status, 2);
  EXPECT_EQ(Cli("chip N32G452CBL7 --series x").status, 2);
}

}  // namespace
}  // namespace korvan
