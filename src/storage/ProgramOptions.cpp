#include "storage/ProgramOptions.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "storage/IniFile.h"

#include <QFile>
#include <QSettings>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <sys/stat.h>

namespace {

std::mutex gFolderMutex;
std::string gFolder; // empty: the default folder

QString ToQString(const std::string& cp1251)
{
    return QString::fromStdU16String(Cp1251ToUtf16(cp1251));
}

std::string FromQString(const QString& text) { return Utf16ToCp1251(text.toStdU16String()); }

std::string DefaultFolder()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/Velotext";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/Velotext";
}

std::string SettingsPath()
{
    std::lock_guard lock(gFolderMutex);
    return (gFolder.empty() ? DefaultFolder() : gFolder) + "/" + TProgramOptions::ProductKeyName + ".ini";
}

// One open settings store for the length of one operation.
class TStore {
public:
    TStore() : Path(SettingsPath()), Settings(QFile::decodeName(QByteArray::fromStdString(Path)), QSettings::IniFormat)
    {
        CheckRead();
    }

    bool Empty() const { return Settings.allKeys().isEmpty(); }
    // Sets `text` to the stored value; false (text untouched) when it is missing.
    bool Read(const QString& key, std::string& text) const
    {
        if (!Settings.contains(key))
            return false;
        QVariant v = Settings.value(key);
        // The INI form reads an unquoted value holding commas as a list.
        if (v.typeId() == QMetaType::QStringList)
            text = FromQString(v.toStringList().join(QStringLiteral(", ")));
        else
            text = FromQString(v.toString());
        return true;
    }

    int ReadInt(const QString& key, int def) const
    {
        std::string text;
        return Read(key, text) ? IniStrToInt(Trim(text), def) : def;
    }

    void Write(const QString& key, const std::string& text) { Settings.setValue(key, ToQString(text)); }

    // A malformed store (QSettings::FormatError) is not an error: what could be
    // parsed counts, the rest gives defaults, and the next write leaves a sound
    // file. A store that cannot be read or written at all is.
    void Commit()
    {
        // Private like the data files: a new store and its folder are the user's alone.
        const bool fresh = PathMissing(Path);
        if (fresh)
            CreatePrivateFolders(std::filesystem::path(Path).parent_path().string());
        Settings.sync();
        if (fresh)
            ::chmod(Path.c_str(), 0600);
        if (Settings.status() == QSettings::AccessError)
            throw TError(Cp1251("Не удалось записать настройки программы в файл \"") + PathText(Path) + "\".");
    }

private:
    void CheckRead()
    {
        if (Settings.status() == QSettings::AccessError)
            throw TError(Cp1251("Не удалось прочитать настройки программы из файла \"") + PathText(Path) + "\".");
    }

    std::string Path;
    QSettings Settings;
};

// The six file names in the order they are read and written, with their values.
struct TFileKey {
    const char* Name;
    std::string TProgramOptions::*Field;
};
const TFileKey FileKeys[] = {
    {"AddressBookFileName", &TProgramOptions::AddressBookFileName},
    {"OptionsFileName", &TProgramOptions::OptionsFileName},
    {"HistoryFileName", &TProgramOptions::HistoryFileName},
    {"TemplatesFileName", &TProgramOptions::TemplatesFileName},
    {"TranslitFileName", &TProgramOptions::TranslitFileName},
    {"SmsGatesFileName", &TProgramOptions::SmsGatesFileName},
};

QString DirectoriesKey(const char* name) { return QStringLiteral("Directories/") + QLatin1String(name); }

QString WindowKey(const TPlacedWindow& window, const char* value)
{
    return QStringLiteral("Windows/") + ToQString(window.WindowName()) + QLatin1Char('/') + QLatin1String(value);
}

} // namespace

void TProgramOptions::Load()
{
    TStore store;
    FirstRun = store.Empty();
    for (const auto& key : FileKeys)
        store.Read(DirectoriesKey(key.Name), this->*key.Field);
    if (FirstRun) {
        // Leave a mark, so that only this start counts as the first one.
        for (const auto& key : FileKeys)
            store.Write(DirectoriesKey(key.Name), this->*key.Field);
        store.Commit();
    }
}

void TProgramOptions::Save() const
{
    TStore store;
    for (const auto& key : FileKeys)
        store.Write(DirectoriesKey(key.Name), this->*key.Field);
    store.Commit();
}

void TProgramOptions::RestoreWindow(TPlacedWindow& window) const
{
    int screenWidth = window.ScreenWidth(), screenHeight = window.ScreenHeight();
    int width = window.Width(), height = window.Height();
    int left = width > screenWidth ? 0 : (screenWidth - width) / 2;
    int top = height > screenHeight ? 0 : (screenHeight - height) / 2;
    window.SetLeft(left);
    window.SetTop(top);

    TStore store;
    window.SetTop(store.ReadInt(WindowKey(window, "Top"), top));
    window.SetLeft(store.ReadInt(WindowKey(window, "Left"), left));
    if (window.SizeableBorder()) {
        window.SetWidth(store.ReadInt(WindowKey(window, "Width"), window.Width()));
        window.SetHeight(store.ReadInt(WindowKey(window, "Height"), window.Height()));
    }
    window.SetVisible(store.ReadInt(WindowKey(window, "Visible"), window.Visible() ? 1 : 0) != 0);
}

void TProgramOptions::SaveWindow(const TPlacedWindow& window) const
{
    TStore store;
    store.Write(WindowKey(window, "Top"), IntToStr(window.Top()));
    store.Write(WindowKey(window, "Left"), IntToStr(window.Left()));
    store.Write(WindowKey(window, "Width"), IntToStr(window.Width()));
    store.Write(WindowKey(window, "Height"), IntToStr(window.Height()));
    store.Write(WindowKey(window, "Visible"), window.Visible() ? "1" : "0");
    store.Commit();
}

namespace {
TProgramOptions& Instance()
{
    static TProgramOptions options;
    return options;
}
} // namespace

TProgramOptions& ProgramOptions() { return Instance(); }

void ResetProgramOptionsForTests() { Instance() = TProgramOptions(); }

void SetProgramSettingsFolder(const std::string& folder)
{
    std::lock_guard lock(gFolderMutex);
    gFolder = folder;
    while (gFolder.size() > 1 && gFolder.back() == '/')
        gFolder.pop_back();
}

std::string ProgramSettingsFile() { return SettingsPath(); }
