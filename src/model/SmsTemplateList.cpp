#include "model/SmsTemplateList.h"

#include "model/DataFileText.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <filesystem>
#include <system_error>

namespace {
std::string OneLine(const std::string& text)
{
    return HasLineBreak(text) ? LineBreaksToBlanks(text) : text;
}
} // namespace

TSmsTemplateList::TSmsTemplateList(std::string fileName, TInsertHandler onInsert)
    : FileName(std::move(fileName)), OnInsertTemplate(std::move(onInsert))
{
}

void TSmsTemplateList::CheckIndex(int index, bool endAllowed) const
{
    if (index < 0 || index > Count() || (index == Count() && !endAllowed))
        throw SystemError(Cp1251("Номер шаблона вне списка: ") + IntToStr(index));
}

const std::string& TSmsTemplateList::Get(int index) const
{
    CheckIndex(index);
    return FLines[static_cast<size_t>(index)];
}

void TSmsTemplateList::Put(int index, const std::string& text)
{
    CheckIndex(index);
    FLines[static_cast<size_t>(index)] = OneLine(text);
}

int TSmsTemplateList::Add(const std::string& text)
{
    FLines.push_back(OneLine(text));
    return Count() - 1;
}

void TSmsTemplateList::Insert(int index, const std::string& text)
{
    CheckIndex(index, true);
    FLines.insert(FLines.begin() + index, OneLine(text));
}

void TSmsTemplateList::Delete(int index)
{
    CheckIndex(index);
    FLines.erase(FLines.begin() + index);
}

void TSmsTemplateList::LoadFromFile(const std::string& fileName)
{
    if (!fileName.empty())
        FileName = fileName;
    const std::string path = ResolveDataFilePath(FileName);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        SaveFileSafely(path, std::string());
    FLines = SplitLines(ReadDataFileText(path));
}

void TSmsTemplateList::SaveToFile(const std::string& fileName)
{
    if (!fileName.empty())
        FileName = fileName;
    std::string bytes;
    for (const std::string& line : FLines) {
        bytes += line;
        bytes += "\r\n";
    }
    SaveFileSafely(ResolveDataFilePath(FileName), bytes);
}

void TSmsTemplateList::InsertTemplate(int index) const
{
    if (OnInsertTemplate)
        OnInsertTemplate(Get(index));
}
