// Importing a settings file keeps what the file cannot carry: the extra record's reserved
// word and heater temperatures come from the board, every keyed byte from the file.
#include <gtest/gtest.h>

#include "settings/settings_json.h"
#include "settings/settings_sequences.h"

TEST(SettingsImport, BytesWithoutAFileKeyComeFromTheBoardAndKeyedBytesFromTheFile) {
  ExtraSettings board;
  for (size_t i = 0; i < board.bytes.size(); ++i) board.bytes[i] = static_cast<uint8_t>(0xA0 + i);

  // A file that sets the port and nothing else: every other keyed field is written as 0.
  ExtraSettings loaded;
  MainSettings main;
  ASSERT_EQ(kJsonOk, loadSettingsText("{\"main_setts\":{},\"mass_setts\":{\"w_port\":\"502\"}}",
                                      &main, &loaded));
  keepUnkeyedExtraBytes(board, &loaded);

  for (size_t i = 0; i < 52; ++i) EXPECT_EQ(0, loaded.bytes[i]) << "byte " << i;
  EXPECT_EQ(0xF6, loaded.bytes[52]);  // 502 little-endian
  EXPECT_EQ(0x01, loaded.bytes[53]);
  // Reserved word (54-55), heater on (56-57) and off (58-59) temperatures: the board's.
  for (size_t i = 54; i < 60; ++i) EXPECT_EQ(board.bytes[i], loaded.bytes[i]) << "byte " << i;
}
