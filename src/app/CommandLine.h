#pragma once
// The program's command line: the window (with "sms:" links to open), or one
// of the commands "send", "queue" and "history", read with QCommandLineParser.
// The help and every refusal are Russian.
#include <QString>
#include <QStringList>

#include <cstdio>

struct TCommandLine {
    enum class TKind { Window, Help, Send, Queue, History, Error };
    TKind Kind = TKind::Window;
    QString DataDir;   // --data-dir; empty: the usual folder
    QStringList Links; // "sms:" links the window opens

    // send: the addressees in their order, the operator of bare phone numbers
    // and the text (from --text, --text-file or "-" on standard input).
    QStringList To;
    QStringList Groups;
    QString Operator;
    QString Text;
    QString TextFile;     // read by ReadText()
    bool TextFromStdin = false;
    bool AllowReplace = false; // --allow-replace: characters CP1251 lacks go as "?"
    QString Later; // --later "дд.мм.гггг чч:мм": the messages wait for that moment
    // --wait[=SECONDS]: wait for the delivery states of the messages sent
    // (-1: no wait; 0: up to the options' waiting time).
    long long WaitSeconds = -1;

    // history
    QString Since;
    bool FailedOnly = false;
    bool Csv = false;

    QString Error; // Kind == Error: why the command line was refused

    bool IsCommand() const { return Kind == TKind::Send || Kind == TKind::Queue || Kind == TKind::History; }
    // Reads the text from --text-file or standard input into Text; false with
    // Error set when it does not read.
    bool ReadText();
    // The command line for the running program: the text itself in place of a
    // file or standard input, which only this start can read.
    QStringList ForHandOver() const;
};

// The arguments without the program's name.
TCommandLine ParseCommandLine(const QStringList& arguments);
// "velotext --help".
QString HelpText();
// Prints a text and a final line feed when it has none; a carriage return
// of the program's texts (its line breaks) becomes a line feed, so that no
// part of the text overwrites another on a terminal.
void PrintToTerminal(FILE* stream, const QString& text);
// Exit codes of the commands.
constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;   // a message finally failed, or the data did not load
constexpr int ExitBadUsage = 2; // bad arguments or an unknown name
constexpr int ExitStillUnknown = 3; // send --wait: a delivery state still unknown at the deadline
