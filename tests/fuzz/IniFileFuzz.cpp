// Fuzz target for the profile-file reader: any bytes must parse without a
// crash, and whatever was read must be written so that it reads back the same
// (writing, reading and writing again gives the same bytes). The bytes also
// go through the data-file text reader: refused or converted, never a crash,
// and a converted text comes back the same from its UTF-8 form.
#include "model/DataFileText.h"
#include "model/Error.h"
#include "model/Text.h"
#include "storage/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const std::string cp1251 = DataFileText("fuzz", std::string(text));
        if (cp1251 != text && DataFileText("fuzz", Cp1251ToUtf8(cp1251)) != cp1251)
            std::abort();
    } catch (const TError&) {
    }
    TIniFile ini;
    ini.LoadFromText(text);

    // Every name read must be found again, and every value must read the same
    // through the string and integer readers each time.
    for (const std::string& section : ini.ReadSections()) {
        if (!ini.SectionExists(section))
            std::abort();
        for (const std::string& key : ini.ReadSection(section)) {
            if (!ini.ValueExists(section, key))
                std::abort();
            std::string value = ini.ReadString(section, key, "");
            if (ini.ReadInteger(section, key, 7) != IniStrToInt(value, 7))
                std::abort();
        }
    }

    const std::string saved = ini.SaveToText();
    TIniFile again;
    again.LoadFromText(saved);
    if (again.SaveToText() != saved)
        std::abort();

    // Writing a fragment of the input as a value, section and key name must
    // never spoil the file either.
    std::string fragment(text.substr(0, 64));
    again.WriteString(fragment, "Key", fragment);
    TIniFile third;
    third.LoadFromText(again.SaveToText());
    if (!third.ValueExists(fragment, "Key") || third.ReadString(fragment, "Key", "") != again.ReadString(fragment, "Key", ""))
        std::abort();
    return 0;
}
