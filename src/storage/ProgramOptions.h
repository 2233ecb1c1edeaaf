#pragma once
// What the program must know before it opens any data file: the names of the
// six data files, the placement of its four lasting windows, and whether this
// is the user's first start. Kept in the per-user settings store, an INI file
// $XDG_CONFIG_HOME/Velotext/Velotext.ini (~/.config/... by default): group
// "Directories" for the file names, groups "Windows/<window name>" for the
// placement; every value is text.
#include <string>

// A window as the placement code sees it; the windows implement it, tests fake it.
class TPlacedWindow {
public:
    virtual ~TPlacedWindow() = default;
    // The window's own name ("MainForm", "SmsQueueForm", ...).
    virtual std::string WindowName() const = 0;
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetLeft(int left) = 0;
    virtual void SetTop(int top) = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    // False for a fixed border: the stored size is then not applied.
    virtual bool SizeableBorder() const = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
};

class TProgramOptions {
public:
    std::string AddressBookFileName = "SmsAddressBook.ini";
    std::string OptionsFileName = "SmsOptions.ini";
    std::string HistoryFileName = "SmsHistory.txt";
    std::string TemplatesFileName = "SmsTemplates.txt";
    std::string SmsGatesFileName = "SmsGates.ini";
    std::string TranslitFileName = "SmsTranslit.txt";
    // True when the settings store held no key of the program at Load; Load
    // then stores the file names, so the next start is not a first one.
    bool FirstRun = false;

    static constexpr const char* ProductKeyName = "Velotext";

    // Sets FirstRun and reads the six file names (a missing value leaves its
    // field as it is). Raises TError when the store cannot be read or written.
    void Load();
    // Writes the six file names. Raises TError when the store cannot be written.
    void Save() const;
    // Centres the window on the screen, then applies its stored position, its
    // stored size (sizeable border only) and its stored visibility.
    void RestoreWindow(TPlacedWindow& window) const;
    // Stores Top, Left, Width, Height and Visible of the window.
    void SaveWindow(const TPlacedWindow& window) const;
};

// The one program-options object of the process, created with the defaults on first use.
TProgramOptions& ProgramOptions();
// Tests: puts the one object back to its defaults.
void ResetProgramOptionsForTests();

// The folder that holds the settings file; an empty text restores the default
// ($XDG_CONFIG_HOME/Velotext, or ~/.config/Velotext). For tests and portable use.
void SetProgramSettingsFolder(const std::string& folder);
// Full path of the settings file in use.
std::string ProgramSettingsFile();
