#include "model/SmsDraft.h"

#include "model/DataFileText.h"
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
    if (PathMissing(path))
        return {};
    // The size is looked at before anything is read: a huge file is not a
    // message, and reading it would hold the window.
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > SmsDraftSizeLimit)
        RefuseDataFile(path, Cp1251("он слишком велик для черновика сообщения (") +
                                 IntToStr(static_cast<long long>(size / 1024)) + Cp1251(" КБ, не больше ") +
                                 IntToStr(static_cast<long long>(SmsDraftSizeLimit / 1024)) + Cp1251(" КБ)"));
    return ReadDataFileText(path);
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
