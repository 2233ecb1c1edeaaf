// Charset lookup, MIME names and conversion from CP1251. The full tables and
// the UTF-7 form are also checked against Python's codecs, an independent
// implementation.
#include "engine/Charset.h"

#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

std::string AllHighBytes()
{
    std::string s;
    for (int b = 128; b < 256; ++b)
        s.push_back(static_cast<char>(b));
    return s;
}

std::string AllBytes()
{
    std::string s;
    for (int b = 0; b < 256; ++b)
        s.push_back(static_cast<char>(b));
    return s;
}

// Runs a Python expression over the input bytes ("data") and returns the bytes it evaluates to.
std::string Python(const std::string& expression, const std::string& input)
{
    TTempDir dir;
    dir.write("in", input);
    dir.write("script.py", "import sys\n"
                           "data = open(sys.argv[1], 'rb').read()\n"
                           "out = " + expression + "\n"
                           "open(sys.argv[2], 'wb').write(out)\n");
    std::string cmd = "/usr/bin/python3 " + dir.file("script.py") + " " + dir.file("in") + " " + dir.file("out");
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << "python failed: " << cmd;
    return rc == 0 ? dir.read("out") : std::string();
}

} // namespace

TEST(CharsetLookup, ExactNamesOnlyOtherwiseWindows1251)
{
    EXPECT_EQ(CharsetFromName("CP1251"), TCharset::Windows1251);
    EXPECT_EQ(CharsetFromName("KOI8-R"), TCharset::Koi8R);
    EXPECT_EQ(CharsetFromName("KOI8-U"), TCharset::Koi8U);
    EXPECT_EQ(CharsetFromName("UTF-8"), TCharset::Utf8);
    EXPECT_EQ(CharsetFromName("UTF-7"), TCharset::Utf7);
    for (const char* other : {"koi8-r", " UTF-8", "UTF-8 ", "KOI8R", "utf-7", "", "CP866", "UTF8"})
        EXPECT_EQ(CharsetFromName(other), TCharset::Windows1251) << other;
}

TEST(CharsetLookup, MimeNames)
{
    EXPECT_EQ(CharsetMimeName(TCharset::Windows1251), "WINDOWS-1251");
    EXPECT_EQ(CharsetMimeName(TCharset::Koi8R), "KOI8-R");
    EXPECT_EQ(CharsetMimeName(TCharset::Koi8U), "KOI8-U");
    EXPECT_EQ(CharsetMimeName(TCharset::Utf8), "UTF-8");
    EXPECT_EQ(CharsetMimeName(TCharset::Utf7), "UNICODE-1-1-UTF-7");
    EXPECT_EQ(CharsetMimeName(CharsetFromName("koi8-r")), "WINDOWS-1251");
}

TEST(CharsetConversion, Windows1251AndUnknownNamesLeaveEveryByte)
{
    EXPECT_EQ(ConvertFromCp1251(AllBytes(), TCharset::Windows1251), AllBytes());
    EXPECT_EQ(ConvertFromCp1251(U("Привет"), CharsetFromName("koi8-r")), Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}));
}

TEST(CharsetConversion, EmptyAndAsciiTexts)
{
    for (auto cs : {TCharset::Windows1251, TCharset::Koi8R, TCharset::Koi8U, TCharset::Utf8, TCharset::Utf7})
        EXPECT_EQ(ConvertFromCp1251("", cs), "");
    std::string ascii;
    for (int b = 0; b < 128; ++b)
        if (b != '+')
            ascii.push_back(static_cast<char>(b));
    for (auto cs : {TCharset::Windows1251, TCharset::Koi8R, TCharset::Koi8U, TCharset::Utf8}) {
        EXPECT_EQ(ConvertFromCp1251(ascii, cs), ascii);
        EXPECT_EQ(ConvertFromCp1251("1+1", cs), "1+1");
    }
    // UTF-7 writes control characters, "~" and "\" as themselves; only "+" changes.
    EXPECT_EQ(ConvertFromCp1251(ascii, TCharset::Utf7), ascii);
    EXPECT_EQ(ConvertFromCp1251("a+b++", TCharset::Utf7), "a+-b+-+-");
}

TEST(CharsetConversion, Koi8Letters)
{
    EXPECT_EQ(ConvertFromCp1251(U("Привет"), TCharset::Koi8R), Bytes({0xF0, 0xD2, 0xC9, 0xD7, 0xC5, 0xD4}));
    EXPECT_EQ(ConvertFromCp1251(U("Ёё"), TCharset::Koi8R), Bytes({0xB3, 0xA3}));
    // Characters that KOI8-R lacks become "_"; the text around them survives.
    EXPECT_EQ(ConvertFromCp1251(U("a№«»€b"), TCharset::Koi8R), "a____b");
    // Ukrainian letters: kept by KOI8-U, lost in KOI8-R.
    const std::string ukr = U("ЄІЇҐєіїґ");
    EXPECT_EQ(ConvertFromCp1251(ukr, TCharset::Koi8U), Bytes({0xB4, 0xB6, 0xB7, 0xBD, 0xA4, 0xA6, 0xA7, 0xAD}));
    EXPECT_EQ(ConvertFromCp1251(ukr, TCharset::Koi8R), "________");
}

TEST(CharsetConversion, Utf8AndTheUnassignedByte)
{
    EXPECT_EQ(ConvertFromCp1251(U("Ґ€№"), TCharset::Utf8), Bytes({0xD2, 0x90, 0xE2, 0x82, 0xAC, 0xE2, 0x84, 0x96}));
    EXPECT_EQ(ConvertFromCp1251(Bytes({'x', 152, 'y'}), TCharset::Utf8), Bytes({'x', 0xEF, 0xBF, 0xBD, 'y'}));
    EXPECT_EQ(ConvertFromCp1251(Bytes({152}), TCharset::Koi8R), "_");
    EXPECT_EQ(ConvertFromCp1251(Bytes({152}), TCharset::Koi8U), "_");
    EXPECT_EQ(ConvertFromCp1251(U("Привет, мир!"), TCharset::Utf8), "Привет, мир!");
}

TEST(CharsetConversion, FullTablesAgreeWithPythonCodecs)
{
    // Python's cp1251 leaves byte 152 undefined: "replace" gives U+FFFD, which
    // is exactly what that byte stands for here; "?" marks a missing character.
    const std::string high = AllHighBytes();
    std::string koi8r = Python("data.decode('cp1251', 'replace').encode('koi8_r', 'replace').replace(b'?', b'_')", high);
    std::string koi8u = Python("data.decode('cp1251', 'replace').encode('koi8_u', 'replace').replace(b'?', b'_')", high);
    std::string utf8 = Python("data.decode('cp1251', 'replace').encode('utf-8')", high);
    EXPECT_EQ(ConvertFromCp1251(high, TCharset::Koi8R), koi8r);
    EXPECT_EQ(ConvertFromCp1251(high, TCharset::Koi8U), koi8u);
    EXPECT_EQ(ConvertFromCp1251(high, TCharset::Utf8), utf8);
    // Each output byte corresponds to one input character in KOI8.
    EXPECT_EQ(ConvertFromCp1251(high, TCharset::Koi8R).size(), 128u);
}

TEST(CharsetUtf7, ExactForm)
{
    EXPECT_EQ(ConvertFromCp1251(U("Привет, мир! 1+1"), TCharset::Utf7), "+BB8EQAQ4BDIENQRC-, +BDwEOARA-! 1+-1");
    // The closing "-" is written also before characters outside the base64 alphabet and at the end.
    EXPECT_EQ(ConvertFromCp1251(U("Я"), TCharset::Utf7), "+BC8-");
    EXPECT_EQ(ConvertFromCp1251(U("Я."), TCharset::Utf7), "+BC8-.");
    EXPECT_EQ(ConvertFromCp1251(U("Я-"), TCharset::Utf7), "+BC8--");
    EXPECT_EQ(ConvertFromCp1251(U("ЯЯ"), TCharset::Utf7), "+BC8ELw-");
    EXPECT_EQ(ConvertFromCp1251(U("ЯЯЯ"), TCharset::Utf7), "+BC8ELwQv-");
    EXPECT_EQ(ConvertFromCp1251(U("Я+"), TCharset::Utf7), "+BC8-+-");
    EXPECT_EQ(ConvertFromCp1251(Bytes({152}), TCharset::Utf7), "+//0-");
}

TEST(CharsetUtf7, DecodesBackWithPythonCodec)
{
    const std::vector<std::string> samples = {
        U("Привет, мир! 1+1"),
        AllBytes(),
        U("Я"), U("ЯЮ"), U("ЯЮЭ"), U("ЯЮЭЬ"),      // every base64 padding length
        U("a+-b~\\c\"d Ёж №5 € «цитата»"),
        U("+++ЖЖ---\t\r\nконец"),
        U("ЯA") + "\x01" + U("Б"),
    };
    for (const auto& text : samples) {
        std::string encoded = ConvertFromCp1251(text, TCharset::Utf7);
        std::string decoded = Python("data.decode('utf-7').encode('utf-8')", encoded);
        std::string expected = Python("data.decode('cp1251', 'replace').encode('utf-8')", text);
        EXPECT_EQ(decoded, expected) << encoded;
        // Only 7-bit bytes go out.
        for (char c : encoded)
            EXPECT_LT(static_cast<unsigned char>(c), 128u) << encoded;
    }
}

TEST(CharsetConversion, RepliesComeBackToCp1251)
{
    const std::string text = U("Ошибка: ЁёЄіЇґ №5, 1+1 ~ok~");
    EXPECT_EQ(ConvertToCp1251(ConvertFromCp1251(text, TCharset::Utf8), TCharset::Utf8), text);
    EXPECT_EQ(ConvertToCp1251(ConvertFromCp1251(text, TCharset::Utf7), TCharset::Utf7), text);
    EXPECT_EQ(ConvertToCp1251(ConvertFromCp1251(text, TCharset::Koi8U), TCharset::Koi8U), U("Ошибка: ЁёЄіЇґ _5, 1+1 ~ok~"));
    EXPECT_EQ(ConvertToCp1251(ConvertFromCp1251(U("Привет"), TCharset::Koi8R), TCharset::Koi8R), U("Привет"));
    // What CP1251 lacks or cannot be read becomes "?": a KOI8 box line, CJK
    // characters, a broken UTF-8 sequence.
    EXPECT_EQ(ConvertToCp1251(Bytes({'a', 0x80, 'b'}), TCharset::Koi8R), "a?b");
    EXPECT_EQ(ConvertToCp1251("a\xE4\xB8\xAD" "b\xD0", TCharset::Utf8), "a?b?");
    EXPECT_EQ(ConvertToCp1251("+ZeVnLIqe-", TCharset::Utf7), "???");
    EXPECT_EQ(ConvertToCp1251(AllBytes(), TCharset::Windows1251), AllBytes());
}
