#pragma once
// Edits reach the disk shortly after they are made: a change marks its file,
// and one single-shot timer saves every marked file at once, so that a burst
// of changes (typing in a field, several commands in a row) costs one save of
// each file. The main window owns the one scheduler of the program and does
// the saving; the other windows report their changes through MarkDataChanged.
#include <QObject>

#include <functional>

class QTimer;

// The files saved as they change (flags, combined with |).
enum TDataFile : unsigned {
    DataAddressBook = 1,
    DataOperators = 2,
    DataDraft = 4, // the composer's unsent text
};

class TSaveSoon : public QObject {
    Q_OBJECT
public:
    // `save` writes the files it is given and returns those it could not
    // write; they stay marked (the next change or SaveNow tries them again).
    using TSaver = std::function<unsigned(unsigned files)>;
    static constexpr int DelayMs = 1000;

    TSaveSoon(TSaver save, QObject* parent);
    ~TSaveSoon() override;

    // Marks the files changed; they are saved at most DelayMs later.
    void MarkChanged(unsigned files);
    // Saves what is marked now (exit, a signal, the session's end).
    void SaveNow();
    unsigned Pending() const { return FPending; }

    // The program's scheduler (the main window's), or nullptr.
    static TSaveSoon* Current();

private:
    TSaver FSave;
    QTimer* FTimer;
    unsigned FPending = 0;
};

// Reports a change to the program's scheduler; nothing happens without one.
void MarkDataChanged(unsigned files);
