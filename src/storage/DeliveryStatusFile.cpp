#include "storage/DeliveryStatusFile.h"

#include "model/DataFileText.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"

std::string DeliveryStatusFileName(const std::string& historyFileName)
{
    const size_t slash = historyFileName.rfind('/');
    const size_t dot = historyFileName.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? historyFileName.substr(0, dot) : historyFileName) + ".delivery";
}

void LoadDeliveryBook(TDeliveryBook& book, const std::string& fileName)
{
    const std::string path = ResolveDataFilePath(fileName);
    if (PathMissing(path)) {
        book = TDeliveryBook();
        return;
    }
    const std::string text = ReadDataFileText(path);
    try {
        book.Parse(text);
    } catch (const TError& e) {
        RefuseDataFile(path, e.what());
    }
}

void SaveDeliveryBook(const TDeliveryBook& book, const std::string& fileName)
{
    SaveDeliveryText(book.Serialize(), fileName);
}

void SaveDeliveryText(const std::string& bytes, const std::string& fileName)
{
    SaveFileSafely(ResolveDataFilePath(fileName), bytes, 0600);
}
