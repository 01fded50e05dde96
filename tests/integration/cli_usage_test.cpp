// korvan-cli run: command lines it refuses, before any port is touched.
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
