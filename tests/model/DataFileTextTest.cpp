// Telling CP1251 from UTF-8 and refusing what is not text: the one reader of
// every data file's bytes.
#include "model/DataFileText.h"
#include "model/Error.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string Decode(const std::string& bytes, const TOpaqueLine& opaque = {})
{
    return DataFileText("/data/f.ini", bytes, opaque);
}

std::string Refusal(const std::string& bytes, const TOpaqueLine& opaque = {})
{
    return ErrorOf([&] { Decode(bytes, opaque); });
}

std::string GoldenBook()
{
    std::ifstream in(std::string(VELOTEXT_TEST_DATA_DIR) + "/golden/SmsAddressBook.ini", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

TEST(DataFileText, Cp1251TextIsNeverTakenForUtf8)
{
    const std::string golden = GoldenBook();
    ASSERT_GT(golden.size(), 40000u);
    EXPECT_TRUE(Decode(golden) == golden);
    // Words with Ё, guillemets, the numero sign, Ukrainian letters; every
    // byte but NUL.
    for (const char* text : {"Ёлкин «ёж» №5 — привет, Юля!", "ЁЖИК", "Її Єє Іі Ґґ Ўў", "Щётка\tЪЫЬ"})
        EXPECT_EQ(Decode(U(text)), U(text)) << text;
    std::string every;
    for (int c = 1; c < 256; ++c)
        every += static_cast<char>(c);
    EXPECT_EQ(Decode(every), every);
    EXPECT_EQ(Decode("[SMS]\r\nPrefix=ascii\r\n"), "[SMS]\r\nPrefix=ascii\r\n");
}

TEST(DataFileText, Utf8WithOrWithoutTheMarkIsConverted)
{
    const std::string text = U("[Contact:TContact:Ёлкин]\r\nName=Ёлкин «ёж» №5\r\n");
    EXPECT_EQ(Decode(Cp1251ToUtf8(text)), text);
    EXPECT_EQ(Decode("\xEF\xBB\xBF" + Cp1251ToUtf8(text)), text);
    // A mark before plain ASCII is dropped all the same.
    EXPECT_EQ(Decode("\xEF\xBB\xBF[SMS]\r\n"), "[SMS]\r\n");
    EXPECT_EQ(Decode("\xEF\xBB\xBF"), "");
}

TEST(DataFileText, RefusalsNameTheFileAndTheLine)
{
    const std::string nul = Refusal(std::string("[SMS]\r\n\0x", 9));
    EXPECT_NE(nul.find("/data/f.ini"), std::string::npos) << nul;
    EXPECT_NE(nul.find(U("нулевые байты")), std::string::npos) << nul;
    EXPECT_NE(nul.find(U("Файл оставлен без изменений")), std::string::npos) << nul;
    // Lines end at CR LF, CR or LF.
    const std::string emoji = Refusal(Cp1251ToUtf8(U("а\r\nб\rв\nг\r\n\r\nд ")) + "\xF0\x9F\x98\x80\r\n");
    EXPECT_NE(emoji.find(U("в строке 6 есть символ U+1F600")), std::string::npos) << emoji;
    EXPECT_NE(Refusal("\xEF\xBB\xBFok\n" + U("ошибка")).find(U("строка 2 не в кодировке UTF-8")), std::string::npos);
    EXPECT_NE(Refusal("\xE4\xB8\xAD").find("U+4E2D"), std::string::npos); // a Chinese character alone
}

TEST(DataFileText, OpaqueLinesNeitherDecideNorBreakTheConversion)
{
    const auto passwords = [](std::string_view line) { return line.starts_with("Password="); };
    // Bytes that happen to be valid UTF-8, in a file with no other
    // multi-byte character: the file is CP1251 and the line stays.
    const std::string scrambled = "[SMTP]\r\nPassword=\xCE\x9E\xCD\x9D\r\nHost=x\r\n";
    EXPECT_EQ(Decode(scrambled, passwords), scrambled);
    EXPECT_NE(Refusal(scrambled), ""); // as plain text it would be Greek and refused
    // In a UTF-8 file an opaque line converts when it converts whole, and
    // stays as it is otherwise.
    const std::string prefix = Cp1251ToUtf8(U("Prefix=Привет\r\n"));
    EXPECT_EQ(Decode(prefix + "Password=\xCE\x9E\n", passwords), U("Prefix=Привет\r\n") + "Password=\xCE\x9E\n");
    EXPECT_EQ(Decode(prefix + "Password=" + Cp1251ToUtf8("\xCE\x9E"), passwords),
              U("Prefix=Привет\r\n") + "Password=\xCE\x9E");
}
