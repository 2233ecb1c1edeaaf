// Fuzz target for the transliteration file reader: any bytes must parse
// without a crash, and a table that has been saved and loaded once is a fixed
// point: saving and loading it again changes nothing.
#include "model/Translit.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {
TTranslitTable Loaded(std::string_view text)
{
    TTranslitTable table = DefaultTranslitTable();
    ParseTranslitText(table, text);
    return table;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TTranslitTable table = Loaded(std::string_view(reinterpret_cast<const char*>(data), size));
    TTranslitTable once = Loaded(FormatTranslitText(table));
    const std::string saved = FormatTranslitText(once);
    TTranslitTable twice = Loaded(saved);
    if (twice != once)
        std::abort();
    return 0;
}
