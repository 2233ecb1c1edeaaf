#include "model/SmsDraft.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace {
const char* const DraftFileName = "SmsDraft.txt";
} // namespace

std::string LoadSmsDraft()
{
    const std::string path = ResolveDataFilePath(DraftFileName);
    return PathMissing(path) ? std::string() : ReadWholeFile(path);
}

void SaveSmsDraft(const std::string& text)
{
    const std::string path = ResolveDataFilePath(DraftFileName);
    if (!text.empty()) {
        SaveFileSafely(path, text, 0, false); // a draft keeps no backup generation
        return;
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (ec)
        throw TError(Cp1251("Не удалось удалить файл \"") + PathText(path) + "\":\r" + std::strerror(ec.value()));
}
