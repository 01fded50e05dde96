// korvan-cli job show: one fingerprint for the same job from any file format, another for another
// job; korvan-cli run with approved jobs from a plain file: a listed job runs and its records
// carry its fingerprint, another is refused before anything but the device search is sent.
#include "cli_fixture.h"

namespace korvan::testing::cli {
namespace {

constexpr const char* kPart = "N32G452CBL7";

class CliJob : public CliRun {
 protected:
  // A linked program (code, and data stored in flash after it) as ELF, and the HEX, S-record
  // and binary objcopy makes of it.
  void MakeFiles() {
    std::ofstream(dir / "fw.s") << "  .section .text,\"ax\"\n"
                                   "  .fill 3000, 1, 0x5A\n"
                                   "  .ascii \"code end\"\n"
                                   "  .section .data,\"aw\"\n"
                                   "  .ascii \"data stored in flash\"\n";
    std::ofstream(dir / "fw.ld") << "MEMORY { FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 128K\n"
                                    "         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 32K }\n"
                                    "SECTIONS {\n"
                                    "  .text : { *(.text*) } > FLASH\n"
                                    "  .data : { *(.data*) } > RAM AT> FLASH\n"
                                    "}\n";
    const std::string command = "cd '" + dir.string() +
                                "' && as -o fw.o fw.s && ld -T fw.ld -o fw.elf fw.o && "
                                "objcopy -O ihex fw.elf fw.hex && objcopy -O srec fw.elf fw.s19 "
                                "&& objcopy -O binary fw.elf fw.bin";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // The fingerprint `job show ARGS` prints ("" when it failed).
  std::string Shown(const std::string& args) {
    const Result r = Cli("job show --json " + args);
    EXPECT_EQ(r.status, 0) << args << '\n' << r.out << r.err;
    const auto shown = nlohmann::json::parse(r.out, nullptr, false);
    if (shown.is_discarded() || !shown.contains("fingerprint")) return "";
    EXPECT_EQ(shown["short"], shown["fingerprint"].get<std::string>().substr(0, 16));
    EXPECT_EQ(shown["covered"].size(), 13u);
    return shown["fingerprint"];
  }
};

TEST_F(CliJob, TheSameBytesFromEveryFormatGiveOneFingerprintAndAnotherJobAnother) {
  MakeFiles();
  const std::string chip = std::string("--chip ") + kPart + " ";
  const std::string hex = Shown(chip + "fw.hex");
  ASSERT_EQ(hex.size(), 64u);
  ASSERT_EQ(Cli("convert " + chip + "fw.hex fw.kvn").status, 0);
  for (const std::string input : {"fw.bin", "fw.elf", "fw.s19"}) {
    EXPECT_EQ(Shown(chip + input), hex) << input;
  }
  EXPECT_EQ(Shown("fw.kvn"), hex) << "the project";

  // Another job: option bytes programmed (a file without option bytes leaves them alone),
  // another reset, serial numbers on; the start values are per part and leave it alone.
  EXPECT_EQ(Shown(chip + "--no-program-ob fw.hex"), hex);
  const std::string optionBytes = Shown(chip + "--program-ob fw.hex");
  const std::string hiZ = Shown(chip + "--reset hi-z fw.hex");
  const std::string numbered = Shown(chip + "--serial-numbers 100 fw.hex");
  for (const std::string& other : {optionBytes, hiZ, numbered}) EXPECT_NE(other, hex);
  EXPECT_NE(optionBytes, hiZ);
  EXPECT_EQ(Shown(chip + "--serial-numbers 5000 fw.hex"), numbered);

  // The text form: the whole fingerprint, its short form and what it covers.
  const Result text = Cli("job show " + chip + "fw.bin");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("fingerprint  " + hex + "\nshort        " + hex.substr(0, 16) +
                               "\npart         " + kPart + "\ncovers:\n",
                           0),
            0u)
      << text.out;
  EXPECT_NE(text.out.find("  read_protection         level 0\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  option_bytes.programmed no\n"), std::string::npos) << text.out;

  // A job that cannot be taken says why.
  const Result missing = Cli("job show " + chip + "nothing.hex");
  EXPECT_EQ(missing.status, 3) << missing.err;
  EXPECT_EQ(Cli("job show fw.hex").status, 2);  // no part
}

TEST_F(CliJob, RunRequiringApprovedJobsRunsAListedJobAndRefusesAnother) {
  MakeFiles();
  const std::string chip = std::string("--chip ") + kPart + " ";
  const std::string job = Shown(chip + "fw.hex");
  ASSERT_EQ(job.size(), 64u);
  const std::string other = std::string(64, '0');
  Write("listed.txt", "# released jobs\n" + job + " pump 2.4.1\n");
  Write("other.txt", other + " fan\n");

  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::string run = "run --records rec --ports " + Ports(*emulator) + " " + chip;

  const Result refused =
      Cli(run + "--approved-jobs other.txt --require-approved-job --trace wire.jsonl fw.hex auto");
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("job " + job + " (" + kPart +
                             ") is not approved in the approved jobs file other.txt; approved "
                             "there: 0000000000000000 \"fan\"; no step was run"),
            std::string::npos)
      << refused.err;
  // Only the device search reached the programmers.
  int requests = 0;
  for (const auto& line : JsonLines(Slurp(dir / "wire.jsonl"))) {
    if (line.value("kind", "") != "frame" || line.value("dir", "") != "pc>prog") continue;
    ++requests;
    EXPECT_EQ(line.value("name", ""), "identity") << line.dump();
  }
  EXPECT_EQ(requests, 2);
  EXPECT_TRUE(JsonLines(Cli("records --dir rec").out).empty());

  const Result listed =
      Cli(run + "--approved-jobs listed.txt --require-approved-job --json fw.hex auto");
  ASSERT_EQ(listed.status, 0) << listed.out << listed.err;
  const auto events = JsonLines(listed.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["job_fingerprint"], job);
  const auto records = JsonLines(Cli("records --dir rec").out);
  ASSERT_EQ(records.size(), 2u);
  for (const auto& record : records) EXPECT_EQ(record["job_fingerprint"], job);
  // The day file's last column.
  for (const auto& entry : fs::directory_iterator(dir / "rec")) {
    if (entry.path().extension() != ".csv") continue;
    std::istringstream csv(Slurp(entry.path()));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line.substr(line.rfind(',') + 1), "job_fingerprint\r");
    while (std::getline(csv, line)) EXPECT_EQ(line.substr(line.rfind(',') + 1), job + "\r");
  }

  // Without --require-approved-job the list is not enforced; a list that is no list is a usage
  // error, and requiring with no list at all too.
  EXPECT_EQ(Cli(run + "--approved-jobs other.txt fw.hex auto").status, 0);
  Write("broken.txt", "not a fingerprint\n");
  EXPECT_EQ(Cli(run + "--approved-jobs broken.txt fw.hex auto").status, 2);
  EXPECT_EQ(Cli(run + "--require-approved-job fw.hex auto").status, 2);
}

}  // namespace
}  // namespace korvan::testing::cli
