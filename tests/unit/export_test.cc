#include <gtest/gtest.h>

#include <string>

#include "dmidec/dmidec.h"
#include "nvram/export.h"

namespace nvram {
namespace {

constexpr char kVersion[] = "XB0A12\n";

TEST(StampedHead, WorkedExample) {
  std::string exported =
      "// Script File Name : temp.txt\n"
      "// Setup questions of this machine follow\n"
      "(further lines)\n";
  std::string head = stamped_head(std::string_view(exported).substr(0, 64), "settings.txt", kVersion);
  EXPECT_EQ(head + exported.substr(64),
            "// Script File Name : settings.txt\n"
            "// BIOS_VERSION = XB0A12\n"
            "// Setup questions of this machine follow\n"
            "(further lines)\n");
}

TEST(StampedHead, CarriageReturnIsDroppedAndItsLineFeedStays) {
  std::string block = "// Script File Name : temp.txt\r\n// next line\r\n";
  EXPECT_EQ(stamped_head(block, "out.txt", kVersion),
            "// Script File Name : out.txt\n// BIOS_VERSION = XB0A12\n\n// next line\r\n");
}

TEST(StampedHead, EarlierTempWinsAndNameAfterItStays) {
  std::string block = "// template: temp.txt\n";
  EXPECT_EQ(stamped_head(block, "o", kVersion), "// o\n// BIOS_VERSION = XB0A12\n temp.txt\n");
}

TEST(StampedHead, DirectoryPartIsWrittenAsTyped) {
  EXPECT_EQ(stamped_head("X temp.txt\n", "../saved/a b.txt", kVersion),
            "X ../saved/a b.txt\n// BIOS_VERSION = XB0A12\n");
}

TEST(StampedHead, NoTempInBoundsGivesStampLineThenWholeBlock) {
  std::string late(56, '-');
  late += "temp.txt";
  EXPECT_EQ(stamped_head(late, "o", kVersion), "// BIOS_VERSION = XB0A12\n" + late);
  EXPECT_EQ(stamped_head("no name here\n", "o", kVersion), "// BIOS_VERSION = XB0A12\nno name here\n");
  // "temp" at 55 is the last position that still fits the block.
  std::string edge(55, '-');
  edge += "temp.txt\n";  // a full 64-byte block
  EXPECT_EQ(stamped_head(edge, "o", kVersion), std::string(55, '-') + "o\n// BIOS_VERSION = XB0A12\n");
}

TEST(StampedHead, TempAfterNulByteIsNotFound) {
  std::string block("ab\0temp.txt\n", 12);
  EXPECT_EQ(stamped_head(block, "o", kVersion), "// BIOS_VERSION = XB0A12\n" + block);
}

TEST(StampedHead, ShortExportWritesOnlyBytesRead) {
  EXPECT_EQ(stamped_head("temp.tx", "o", kVersion), "o\n// BIOS_VERSION = XB0A12\n");
  EXPECT_EQ(stamped_head("temp.txt\nZ", "o", kVersion), "o\n// BIOS_VERSION = XB0A12\nZ");
}

TEST(StampedHead, VersionWithoutLineFeedStillEndsTheStampLine) {
  EXPECT_EQ(stamped_head("temp.txt\n", "o", "XB0123456789ABC"), "o\n// BIOS_VERSION = XB0123456789ABC\n");
}

std::string field_of(std::string_view output) {
  char field[kVersionFieldSize] = {};
  version_field_from_output(output, field);
  return field;
}

TEST(VersionField, TakesTheBeginningOfTheFirstLine) {
  EXPECT_EQ(field_of("XB1.05\n"), "XB1.05\n");
  EXPECT_EQ(field_of("XB0A12\nsecond line\n"), "XB0A12\n");
  EXPECT_EQ(field_of("12345678901234\n"), "12345678901234\n");
  EXPECT_EQ(field_of("123456789012345\n"), "123456789012345");
  EXPECT_EQ(field_of("XB345678901234567890\n"), "XB3456789012345");
  EXPECT_EQ(field_of("XB7"), "XB7");
  EXPECT_EQ(field_of(""), "");
  EXPECT_EQ(field_of(std::string_view("X\0B\n", 4)), "X");
}

}  // namespace
}  // namespace nvram
