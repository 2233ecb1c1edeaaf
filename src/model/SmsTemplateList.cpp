#include "model/SmsTemplateList.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <filesystem>
#include <system_error>

namespace {

std::string OneLine(const std::string& text)
{
    if (text.find_first_of("\r\n") == std::string::npos)
        return text;
    std::string r;
    r.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            r += ' ';
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            r += text[i];
        }
    }
    return r;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < n && text[pos] == '\n')
            ++pos;
    }
    return lines;
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
    FLines = SplitLines(ReadWholeFile(path));
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
