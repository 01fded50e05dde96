// The object-file readers against the vectors gathered from peer suites (tests/data/peer-vectors),
// read with one flash window spanning every address so that each record's own rule shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/image/readers.h"
#include "core/util/format.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

struct VectorRow {
  const char* id;
  const char* file;
  std::vector<std::pair<unsigned, int>> errors;  // (line, code) boxes in order
  bool extentSet;  // false: no line was parsed, the caller's extent stays as it was
  std::uint32_t lowest;
  std::uint32_t highest;
  std::uint32_t fileChecksum;
  std::uint32_t storedSum;  // sum of the image bytes inside `ranges` after the load
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // records' data, inclusive
};

const std::vector<VectorRow>& Rows() {
  // Expectations follow the station's reader rules: no digit validation, empty records ignored
  // whatever their type, S0/S5/S7/S8/S9 ignored, S-records read to the end of the file, data of
  // a record with a wrong checksum stored before the checksum is judged, and a record whose line
  // is shorter than its count needs stores nothing (code 4).
  static const std::vector<VectorRow> rows = {
      {"H01", "ihex_space_line.hex", {}, false, 0, 0, 0x0, 0x0, {}},
      {"H02", "ihex_colon_only.hex", {}, false, 0, 0, 0x0, 0x0, {}},
      {"H03", "ihex_odd_digits.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H04", "ihex_count_ff_short.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H05", "ihex_type_ff.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H06", "ihex_eof_bad_csum.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H07", "ihex_eof_len1.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H08", "ihex_t02_len0.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H09", "ihex_t02_addr_nonzero.hex", {{1, 3}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H10", "ihex_t04_len0.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H11", "ihex_t04_addr_nonzero.hex", {{1, 3}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H12", "ihex_t03_len0.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H13", "ihex_t03_addr_nonzero.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H14", "ihex_t05_len0.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H15", "ihex_t05_addr_nonzero.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H16", "ihex_dup_start_t03.hex", {}, true, 0x0, 0x0, 0x1, 0x1, {{0x0, 0x0}}},
      {"H17", "ihex_dup_start_t05.hex", {}, true, 0x0, 0x0, 0x1, 0x1, {{0x0, 0x0}}},
      {"H18", "ihex_overlap_same.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H19", "ihex_overlap_diff.hex", {}, true, 0x0, 0x0, 0x1, 0x1, {{0x0, 0x0}}},
      {"H20", "ihex_crlf.hex", {}, true, 0x1, 0x3, 0x3, 0x3, {{0x1, 0x3}}},
      {"H21",
       "ihex_64k_via_t04.hex",
       {},
       true,
       0x0,
       0x10000,
       0x3,
       0x3,
       {{0x0, 0x0}, {0x10000, 0x10000}}},
      {"H22", "ihex_start_t03.hex", {}, true, 0x0, 0x0, 0x1, 0x1, {{0x0, 0x0}}},
      {"H23", "ihex_start_t05.hex", {}, true, 0x0, 0x0, 0x2, 0x2, {{0x0, 0x0}}},
      {"H24", "ihex_no_colon.hex", {{1, 1}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H25", "ihex_short_9.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H26", "ihex_odd_11.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H27", "ihex_bad_char_q.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H28", "ihex_bad_char_caret.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H29", "ihex_data_bad_csum.hex", {{1, 4}}, true, 0x10, 0x1A, 0x43E, 0x43E, {{0x10, 0x1A}}},
      {"H30", "ihex_count_too_large.hex", {{1, 4}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H31", "ihex_count_zero_with_data.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H32", "ihex_type06.hex", {{1, 5}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H33", "ihex_eof_with_data.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H34", "ihex_t02_len1.hex", {{1, 4}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H35",
       "ihex_lowercase.hex",
       {},
       true,
       0xABCD0010,
       0xABCD0010,
       0x5A,
       0x0,
       {{0xABCD0010, 0xABCD0010}}},
      {"H36", "ihex_empty_data_record.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H37", "ihex_max_255.hex", {}, true, 0x10, 0x10E, 0x0, 0x0, {{0x10, 0x10E}}},
      {"H38", "ihex_too_long_522.hex", {}, true, 0x10, 0x10E, 0x0, 0x0, {{0x10, 0x10E}}},
      {"H39", "ihex_error_midfile.hex", {}, true, 0x10, 0x1A, 0x43E, 0x43E, {{0x10, 0x1A}}},
      {"H40", "ihex_no_final_newline.hex", {}, true, 0x10, 0x1A, 0x43E, 0x43E, {{0x10, 0x1A}}},
      {"H41",
       "ihex_srecord_basic.hex",
       {},
       true,
       0x0,
       0x20,
       0x791,
       0x791,
       {{0x0, 0xF}, {0x10, 0x1F}, {0x20, 0x20}}},
      {"H42",
       "ihex_segment_wrap.hex",
       {},
       true,
       0x1FFFD,
       0x2001C,
       0x540,
       0x540,
       {{0x1FFFD, 0x2001C}}},
      {"H43",
       "ihex_ancient_eof.hex",
       {},
       true,
       0x0,
       0x17FF,
       0x127E,
       0x127E,
       {{0x0, 0xF}, {0x10, 0x1F}, {0x17F0, 0x17FF}}},
      {"H44", "ihex_garbage_line.hex", {{1, 1}}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"H45",
       "ihex_s1_boundary_split.hex",
       {},
       true,
       0xFFF8,
       0x10005,
       0x473,
       0x473,
       {{0xFFF8, 0xFFFF}, {0x10000, 0x10005}}},
      {"H46", "ihex_missing_eof.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H47", "ihex_data_after_eof.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H48", "ihex_only_eof.hex", {}, false, 0, 0, 0x0, 0x0, {}},
      {"H49", "ihex_blank_lines.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H50", "ihex_trailing_space.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H51", "ihex_ctrl_z.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H52", "ihex_semicolon_comment.hex", {{1, 1}}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"H53",
       "ihex_top_of_4g.hex",
       {},
       true,
       0xFFFFFFFF,
       0xFFFFFFFF,
       0x5,
       0x0,
       {{0xFFFFFFFF, 0xFFFFFFFF}}},
      {"H54",
       "ihex_seg_above_1mib.hex",
       {},
       true,
       0x10FFEF,
       0x10FFEF,
       0x5,
       0x5,
       {{0x10FFEF, 0x10FFEF}}},
      {"H55",
       "ihex_linear_4g_wrap.hex",
       {},
       true,
       0xFFFFFFFE,
       0xFFFFFFFF,
       0x30E,
       0x0,
       {{0xFFFFFFFE, 0xFFFFFFFF}}},
      {"H56",
       "ihex_cross_64k_no_t04.hex",
       {},
       true,
       0xFFF8,
       0x10007,
       0x78,
       0x78,
       {{0xFFF8, 0x10007}}},
      {"H57", "ihex_bincopy_bad_crc.hex", {}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"H58",
       "ihex_i8hex_ffff.hex",
       {},
       true,
       0x0,
       0xFFFF,
       0x3,
       0x3,
       {{0x0, 0x0}, {0xFFFF, 0xFFFF}}},
      {"H59", "ihex_alt_eof_00FFFF01.hex", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"S01",
       "srec_basic_t0001a.s19",
       {},
       true,
       0x0,
       0x33,
       0x93B,
       0x93B,
       {{0x0, 0xF}, {0x10, 0x1F}, {0x20, 0x2F}, {0x30, 0x33}}},
      {"S02",
       "srec_all_bad_csum_t0097a.s19",
       {{2, 4}, {3, 4}},
       true,
       0x0,
       0x33,
       0x93B,
       0x93B,
       {{0x0, 0x1F}, {0x20, 0x33}}},
      {"S03", "srec_garbage_line_t0017a.s19", {{1, 1}}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S04",
       "srec_s5_4byte_t0078a.s19",
       {},
       true,
       0x11AA8,
       0x11AE7,
       0x3FC0,
       0x3FC0,
       {{0x11AA8, 0x11AC3}, {0x11AC4, 0x11ADF}, {0x11AE0, 0x11AE7}}},
      {"S05", "srec_minimal_t0018a.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S06", "srec_s5_count_wrong.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S07",
       "srec_s5_s9_middle.s19",
       {},
       true,
       0x0,
       0x103,
       0x57D,
       0x57D,
       {{0x0, 0xD}, {0x100, 0x103}}},
      {"S08", "srec_no_header.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S09", "srec_dup_header.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S10", "srec_header_addr_nonzero.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S11", "srec_count00_bincopy.s19", {{1, 4}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"S12", "srec_count_too_large.s19", {{2, 4}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"S13", "srec_count_too_small.s19", {}, true, 0x0, 0x1, 0xAD, 0xAD, {{0x0, 0x1}}},
      {"S14", "srec_odd_digits.s19", {{2, 4}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"S15", "srec_s4.s19", {{2, 2}}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S16", "srec_s6_count.s19", {{3, 2}}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S17", "srec_s2_s8_bincopy.s19", {}, true, 0x0, 0x0, 0x0, 0x0, {{0x0, 0x0}}},
      {"S18", "srec_s3_s7_t0059a.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S19", "srec_s3_count5_nodata.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S20", "srec_s1_nodata.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S21",
       "srec_lowercase.s19",
       {{1, 1}, {2, 1}, {3, 1}, {4, 1}},
       true,
       0xFFFFFFFF,
       0x0,
       0x0,
       0x0,
       {}},
      {"S22", "srec_lowercase_digits.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S23", "srec_crlf.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S24", "srec_trailing_space.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S25",
       "srec_s1_cross_64k_t0191a.s19",
       {},
       true,
       0xFFF8,
       0x10005,
       0x473,
       0x473,
       {{0xFFF8, 0x10005}}},
      {"S26",
       "srec_bad_crc_bincopy.s19",
       {{1, 4}},
       true,
       0x400264,
       0x400273,
       0x20,
       0x0,
       {{0x400264, 0x400273}}},
      {"S27", "srec_not_S.s19", {{1, 1}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"S28", "srec_bad_type_dot.s19", {{1, 2}}, true, 0xFFFFFFFF, 0x0, 0x0, 0x0, {}},
      {"S29", "srec_s9_with_data.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S30", "srec_two_s9.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S31", "srec_no_termination.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S32", "srec_blank_lines.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
      {"S33",
       "srec_out_of_order.s19",
       {},
       true,
       0x0,
       0x13,
       0x20C,
       0x20C,
       {{0x0, 0x3}, {0x10, 0x13}}},
      {"S34", "srec_ctrl_z.s19", {}, true, 0x0, 0xD, 0x473, 0x473, {{0x0, 0xD}}},
  };
  return rows;
}

TEST(PeerVectors, EveryVectorLoadsAsTheStationReads) {
  ASSERT_EQ(Rows().size(), 93u);
  ImageBuffer image;
  for (const VectorRow& row : Rows()) {
    SCOPED_TRACE(std::string(row.id) + " " + row.file);
    image.EraseAll();
    image.windows.flashStart = 0;
    image.windows.flashEnd = 0xFFFFFFFF;
    image.windows.eepStart = 1;
    image.windows.eepEnd = 0;
    testing::FakeFrontend frontend;
    std::array<std::uint8_t, 128> option{};
    const ReadTarget target{image.flash, 0, &image, option};
    ReadExtent extent{0xDEAD, 0x5A5A5A5A, 0x12345678};
    const std::string path = std::string(KORVAN_TEST_DATA_DIR "/peer-vectors/") + row.file;
    const bool hex = row.id[0] == 'H';
    const LoadResult result = hex ? LoadHexFile(path, target, frontend, extent)
                                  : LoadS19File(path, target, frontend, extent);
    EXPECT_EQ(result.status, LoadStatus::Done);
    EXPECT_EQ(result.lineErrors, static_cast<int>(row.errors.size()));
    if (!row.errors.empty()) {  // the first error, as numbers rather than the box's text
      EXPECT_EQ(result.firstErrorLine, static_cast<std::uint32_t>(row.errors.front().first));
      EXPECT_EQ(result.firstErrorCode, static_cast<int>(row.errors.front().second));
    }

    std::vector<std::string> expectedBoxes;
    for (auto [line, code] : row.errors) {
      expectedBoxes.push_back(Format("Line %u Data Error : %d.", line, code));
    }
    EXPECT_EQ(frontend.Texts(), expectedBoxes);
    for (const auto& q : frontend.questions) {
      EXPECT_EQ(q.kind, MessageKind::Error);
      EXPECT_EQ(q.buttons, Buttons::OkAbort);
    }

    EXPECT_EQ(extent.fileChecksum, row.fileChecksum);
    EXPECT_EQ(extent.lowest, row.extentSet ? row.lowest : 0x12345678u);
    EXPECT_EQ(extent.highest, row.extentSet ? row.highest : 0x5A5A5A5Au);

    // Bytes land only inside the records' ranges; everything else stays erased.
    std::uint32_t storedSum = 0;
    std::uint32_t touchedOutside = 0;
    std::vector<bool> inRange(kFlashImageSize, false);
    for (auto [first, last] : row.ranges) {
      for (std::uint64_t a = first; a <= last && a < kFlashImageSize; ++a) inRange[a] = true;
    }
    for (std::uint32_t a = 0; a < kFlashImageSize; ++a) {
      if (inRange[a]) {
        storedSum += image.flash[a];
      } else if (image.flash[a] != 0xFF) {
        ++touchedOutside;
      }
    }
    EXPECT_EQ(storedSum, row.storedSum);
    EXPECT_EQ(touchedOutside, 0u);
    EXPECT_FALSE(image.programOptionBytes);
  }
}

TEST(PeerVectors, SpotBytes) {
  struct Spot {
    const char* file;
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
  } spots[] = {
      {"ihex_crlf.hex", 0, {0xFF, 0x00, 0x01, 0x02, 0xFF}},
      {"ihex_overlap_diff.hex", 0, {0x01, 0xFF}},  // the later record wins
      {"ihex_64k_via_t04.hex", 0x10000, {0x02}},
      {"ihex_lowercase.hex", 0x10, {0xFF}},  // its data went to 0xABCD0010, beyond the image
      {"ihex_segment_wrap.hex", 0x1FFFD, {0x2A, 0x2A, 0x2A}},
      {"ihex_i8hex_ffff.hex", 0xFFFF, {0x02}},
      {"srec_out_of_order.s19", 0, {0x41, 0x41, 0x41, 0x41}},
      {"srec_out_of_order.s19", 0x10, {0x42, 0x42, 0x42, 0x42, 0xFF}},
      {"srec_count_too_small.s19", 0, {0x48, 0x65, 0xFF}},
      {"srec_s5_s9_middle.s19", 0x100, {0x41, 0x42, 0x43, 0x44}},
  };
  ImageBuffer image;
  for (const Spot& spot : spots) {
    SCOPED_TRACE(spot.file);
    image.EraseAll();
    image.windows.flashStart = 0;
    image.windows.flashEnd = 0xFFFFFFFF;
    testing::FakeFrontend frontend;
    const ReadTarget target{image.flash, 0, &image, {}};
    ReadExtent extent;
    const std::string path = std::string(KORVAN_TEST_DATA_DIR "/peer-vectors/") + spot.file;
    const std::string name = spot.file;
    if (name.ends_with(".hex")) {
      LoadHexFile(path, target, frontend, extent);
    } else {
      LoadS19File(path, target, frontend, extent);
    }
    const std::vector<std::uint8_t> got(image.flash.begin() + spot.address,
                                        image.flash.begin() + spot.address + spot.bytes.size());
    EXPECT_EQ(got, spot.bytes);
  }
}

}  // namespace
}  // namespace korvan
