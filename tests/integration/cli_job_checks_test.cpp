// korvan-cli run refuses a job that would program bad parts, before a programmer is asked
// anything: no record is written and the exit status and first message line say why.
#include "core/records/record_log.h"
#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// The stderr line of korvan-cli itself (the station's own boxes come before it); the first line
// when none is (the option parser's own messages).
std::string CliLine(const std::string& err) {
  std::size_t from = 0;
  while (from < err.size()) {
    const std::size_t end = err.find('\n', from);
    const std::string line = err.substr(from, end - from);
    if (line.rfind("korvan-cli: ", 0) == 0 || line.rfind("run: ", 0) == 0) return line;
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return FirstLine(err);
}

TEST_F(CliRun, BadJobsAreRefusedBeforeAnyPartIsProgrammed) {
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::string ports = " --ports " + Ports(*emulator) + " --records rec ";
  fs::create_directory(dir / "rec");
  Write("empty.hex", "");
  Write("endonly.hex", ":00000001FF\n");
  Write("fw.bin", std::string(3000, '\x5A'));
  Write("big.bin", std::string(129 * 1024, '\x5A'));  // 128 KiB part
  Write("fw.hex", MakeFirmware(0x08000000, 4096, 128).hex);
  Write("long.hex", MakeFirmware(0x08000000, 130 * 1024, 256).hex);

  struct Case {
    std::string args;
    int status;
    std::string says;  // the start of korvan-cli's own line
  } cases[] = {
      // Nothing to program.
      {"--chip N32G452CBL7 empty.hex auto", 1, "korvan-cli: empty.hex holds no data"},
      {"--chip N32G452CBL7 endonly.hex auto", 1, "korvan-cli: endonly.hex holds no data"},
      // No byte in the part's flash: a binary placed at 0, a HEX linked for another part.
      {"--chip N32G452CBL7 --offset 0 fw.bin auto", 1,
       "korvan-cli: fw.bin: data at 0x00000000..0x00000BB7, not one byte inside the flash "
       "(N32G452CBL7 flash 0x08000000..0x0801FFFF, 128 KiB)"},
      // Near the top of the address space it does not wrap round into the flash.
      {"--chip N32G452CBL7 --offset 0xFFFFF800 fw.bin auto", 1,
       "korvan-cli: fw.bin: data at 0xFFFFF800..0x1000003B7, not one byte inside the flash"},
      {"--chip N32WB031KEQ6 fw.hex auto", 1,
       "korvan-cli: fw.hex: data at 0x08000000..0x08000FFF, not one byte inside the flash "
       "(N32WB031KEQ6 flash 0x01000000..0x0107FFFF"},
      // More than the part holds.
      {"--chip N32G452CBL7 big.bin auto", 1,
       "korvan-cli: big.bin is 132096 bytes, larger than the flash"},
      {"--chip N32G452CBL7 --offset 0x0801F800 fw.bin auto", 1,
       "korvan-cli: fw.bin: data at "
       "0x0801F800..0x080203B7, partly "
       "outside the flash"},
      // A HEX past the end of the part stops at its first line error (Abort).
      {"--chip N32G452CBL7 long.hex auto", 1,
       "korvan-cli: long.hex: 1 line error(s), the first: Line 8196 Data Error : 16. (data "
       "outside the part's memory)"},
      {"--chip N32G452CBL7 --ignore-line-errors long.hex auto", 1,
       "korvan-cli: long.hex: data at 0x08000000..0x080207FF, partly outside the flash"},
      {"--chip N32G452CBL7 missing.hex auto", 3,
       "korvan-cli: cannot read missing.hex: No such file or directory"},
      // Part names.
      {"--chip FOO123 fw.hex auto", 2,
       "run: unknown part 'FOO123' (not in the catalogue); "
       "nearest: "},
      {"--chip '' fw.hex auto", 2, "run: --chip: an empty part name"},
      {"--chip N32G452ZZL7 fw.hex auto", 2,
       "run: unknown part 'N32G452ZZL7' (not in the "
       "catalogue); nearest: N32G452CBL7"},
      // Numbers beyond what the fields hold.
      {"--chip N32G452CBL7 --serial-numbers 4294967296 fw.hex auto", 2,
       "run: --serial-numbers: 4294967296 is out of range (0..0xFFFFFFFF)"},
      {"--chip N32G452CBL7 --serial-numbers 1,-1 fw.hex auto", 2,
       "run: --serial-numbers: -1 is out of range"},
      {"--chip N32G452CBL7 --serial-numbers 1 --sn-gain 0x10000 fw.hex auto", 2,
       "run: --sn-gain: 0x10000 is out of range (0..0xFFFF)"},
      {"--chip N32G452CBL7 --serial-numbers 1 --sn-address 0x1FFFFFFFF fw.hex auto", 2,
       "run: --sn-address: 0x1FFFFFFFF is out of range"},
      {"--chip N32G452CBL7 --offset 0x100000000 fw.bin auto", 2,
       "run: --offset: 0x100000000 is out of range"},
      {"--chip N32G452CBL7 fw.hex read-address=0x100000000,16", 2,
       "run: read-address=ADDR,LEN: ADDR must be 0..0xFFFFFFFF"},
      {"--chip N32G452CBL7 --watch-timeout inf fw.hex watch=1", 2, "--watch-timeout: Value inf"},
      {"--chip N32G452CBL7 --watch-timeout nan fw.hex watch=1", 2, "run: --watch-timeout"},
      {"--chip N32G452CBL7 fw.hex atuo", 2, "run: unknown step 'atuo' (nearest: auto)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Cli("run" + ports + c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(CliLine(r.err).substr(0, c.says.size()), c.says) << r.err;
    EXPECT_EQ(r.out.find("[auto]"), std::string::npos) << r.out;
    // A file that could not be read was never "loaded".
    if (c.status == 3) {
      EXPECT_EQ(r.out.find("has been loaded!"), std::string::npos) << r.out;
    }
  }
  EXPECT_TRUE(korvan::ReadRecords(dir / "rec").entries.empty());

  // What the checks refuse runs when asked for, as the window lets it.
  const Result outside =
      Cli("run" + ports + "--chip N32G452CBL7 --allow-outside --offset 0x0801F800 fw.bin auto");
  EXPECT_EQ(outside.status, 0) << outside.out << outside.err;
  EXPECT_NE(outside.err.find("文件数据超出芯片范围，请确认！"), std::string::npos);
  // A catalogue name in any letter case is the catalogue's part; a typed one only when asked.
  const Result lower = Cli("run" + ports + "--chip n32g452cbl7 fw.hex auto");
  EXPECT_EQ(lower.status, 0) << lower.err;
  EXPECT_EQ(korvan::ReadRecords(dir / "rec").entries.back().record.chip, "N32G452CBL7");
  const Result typed = Cli("run" + ports + "--chip N32G452ZZL7 --typed-name fw.hex auto");
  EXPECT_EQ(typed.status, 0) << typed.err;
  EXPECT_EQ(FirstLine(typed.err),
            "korvan-cli: typed part 'N32G452ZZL7' taken as the chip dialog derives it: 1024 KiB "
            "flash at 0x08000000..0x080FFFFF, family 0x00");
}

}  // namespace
