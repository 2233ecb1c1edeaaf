#pragma once
// Message templates: an ordered list of one-line texts kept in a text file
// (CP1251, one template per line, every line ended by CR LF), and the hook
// that hands a chosen template to the composer.
#include <functional>
#include <string>
#include <vector>

class TSmsTemplateList {
public:
    using TInsertHandler = std::function<void(const std::string&)>;

    // Binds the file name and the handler; the file is not touched.
    explicit TSmsTemplateList(std::string fileName, TInsertHandler onInsert = {});

    // The file name as given (a bare name lives in the program's folder).
    std::string FileName;
    TInsertHandler OnInsertTemplate;

    int Count() const { return static_cast<int>(FLines.size()); }
    const std::vector<std::string>& Lines() const { return FLines; }
    // Positions outside the list raise TError and change nothing. A template
    // is one line: a line break in a text becomes one blank (CR LF, CR or LF).
    const std::string& Get(int index) const;
    void Put(int index, const std::string& text);
    int Add(const std::string& text);
    void Insert(int index, const std::string& text);
    void Delete(int index);
    void Clear() { FLines.clear(); }

    // A non-empty name becomes FileName. A missing file is created empty;
    // then the list becomes the file's lines (a line ends at CR, LF or CR LF;
    // a final line break adds no empty template), read as DataFileText reads
    // (a file that is not text is refused, UTF-8 is converted). On a failure
    // the list is unchanged and TError names the file.
    void LoadFromFile(const std::string& fileName = {});
    // A non-empty name becomes FileName. Writes every template followed by
    // CR LF, safely: a failure leaves the old file whole and raises TError.
    void SaveToFile(const std::string& fileName = {});

    // Calls the handler with the template at the position when one is bound;
    // otherwise does nothing.
    void InsertTemplate(int index) const;

private:
    void CheckIndex(int index, bool endAllowed = false) const;
    std::vector<std::string> FLines;
};
