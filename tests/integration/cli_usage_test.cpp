// korvan-cli run: command lines it refuses, before any port is touched.
#include "cli/command.h"
#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

TEST_F(CliRun, BadCommandLinesAreUsageErrors) {
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);
  struct Case {
    const char* args;
    const char* says;
  } cases[] = {
      {"run --chip N32G452CBL7 app.hex", "no STEP given"},
      {"run app.hex auto", "--chip is required"},
      {"run --chip N32G452CBL7 app.hex auto app.hex", "an input after the steps"},
      {"run --chip N32G452CBL7 app.hex read-address=0x08000000,20", "LEN must be"},
      {"run --chip N32G452CBL7 app.hex read-memory=out.txt", "OUT must end in"},
      {"run --chip N32G452CBL7 app.hex watch=0", "N must be"},
      {"run --chip N32G452CBL7 app.txt auto", "an input must end in"},
      {"run --chip N32G452CBL7 --serial-numbers 12,zz app.hex auto", "'zz' is not a valid"},
      {"run --chip N32G452CBL7 --reset sideways app.hex auto", "--reset"},
  };
  for (const Case& c : cases) {
    const Result r = Cli(c.args);
    EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
  }
}

}  // namespace

namespace {

using namespace korvan::testing::cli;

// Every program answers --help and --version and ends with 0; nonsense is refused with a reason.
// korvan-cli sets up only the sub-command a run names: each must be registered under the name
// its Setup gives it, or naming it would set up the others instead.
TEST(CliCommands, EachIsRegisteredUnderTheNameItIsSetUpWith) {
  for (const korvan::cli::RegisteredCommand& c : korvan::cli::RegisteredCommands()) {
    CLI::App app;
    const auto command = c.make();
    EXPECT_EQ(command->Setup(app)->get_name(), c.name);
  }
  EXPECT_GE(korvan::cli::RegisteredCommands().size(), 7u);
}

TEST_F(CliRun, TheOtherProgramsAnswerHelpAndVersionAndRefuseNonsense) {
  const std::string sim = KORVAN_SIM_PATH;
  const std::string kfw = KORVAN_BINARY_DIR "/tools/kfw/korvan-kfw";
  const std::string nat = KORVAN_BINARY_DIR "/src/gui/korvan-nat";
  Write("empty.bin", "");
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);
  struct Case {
    std::string program;
    std::string args;
    int status;
    std::string says;  // the start of stdout (status 0) or of stderr
  } cases[] = {
      {sim, "--version", 0, "korvan-sim V"},
      {sim, "--help", 0, "Emulated Korvan200NAT programmers"},
      {sim, "--count 2 --fault silent@3", 2,
       "korvan-sim: silent@3: there is no channel 3 with --count 2"},
      {sim, "--count 4 --chip-state protected@5", 2,
       "korvan-sim: protected@5: there is no channel 5 with --count 4"},
      {kfw, "--version", 0, "korvan-kfw V"},
      {kfw, "--help", 0, "Makes and inspects Korvan200NAT programmer firmware images"},
      {kfw, "pack --help", 0, "Pack raw firmware into a firmware image"},
      {kfw, "", 2, "A subcommand is required"},
      {KORVAN_CLI_PATH, "--version", 0, "korvan-cli V"},
      {KORVAN_CLI_PATH, "--help", 0, "Korvan200NAT programmer station, command line."},
      {kfw, "pack --version V3.0 empty.bin out.kfw", 1,
       "korvan-kfw: empty.bin is empty: no firmware to pack"},
      {nat, "--version", 0, "korvan-nat V"},
      {nat, "--help", 0, "Usage: korvan-nat"},
      {KORVAN_CLI_PATH, "convert --chip N32G452CBL7 app.hex app.hex", 2,
       "convert: the output app.hex is also an input"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + c.args);
    if (c.program.empty() || !fs::exists(c.program)) continue;  // not built here
    const std::string command = "cd '" + dir.string() + "' && '" + c.program + "' " + c.args +
                                " >stdout.txt 2>stderr.txt </dev/null";
    const int raw = std::system(command.c_str());
    const std::string out = Slurp(dir / "stdout.txt"), err = Slurp(dir / "stderr.txt");
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << out << err;
    EXPECT_EQ((c.status == 0 ? out : err).substr(0, c.says.size()), c.says) << out << err;
  }
  EXPECT_FALSE(fs::exists(dir / "out.kfw"));
  EXPECT_EQ(Slurp(dir / "app.hex"), MakeFirmware(0x08000000, 64, 128).hex);
}

}  // namespace
