// Main-window figures on an address book of 20,000 contacts, driving the real
// window offscreen: the first fill of the panes, selecting "(Все Абоненты)"
// again, and each keystroke in the search field, each until the window has
// repainted. The target for the last two is one frame (16 ms).
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "model/Text.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int ContactCount = 20000;

double MillisecondsOf(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%-52s best %7.2f ms  median %7.2f ms  worst %7.2f ms  (%zu runs)\n", what, times.front(),
                times[times.size() / 2], times.back(), times.size());
}

std::string ContactName(std::mt19937& random, int index)
{
    static const char* const syllables[] = {"ко", "ва", "ли", "но", "ре", "ст", "ма", "са", "ту", "ры",
                                            "Бе", "де", "жу", "зо", "пе", "гу", "Ша", "чи", "фе", "ло"};
    std::string name;
    const int length = 2 + static_cast<int>(random() % 3);
    for (int i = 0; i < length; ++i)
        name += syllables[random() % 20];
    return Cp1251(name) + " " + std::to_string(index);
}

void BuildBook()
{
    TSmsManager& manager = SmsManager();
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    manager.AddSmsSender(sender);
    std::mt19937 random(20000);
    for (int i = 0; i < ContactCount; ++i) {
        auto* contact = new TContact;
        contact->SetName(ContactName(random, i));
        contact->PhoneNumber = "+7916" + std::to_string(1000000 + static_cast<int>(random() % 9000000));
        contact->SmsSender = sender;
        manager.AddContact(contact);
    }
    for (int g = 0; g < 20; ++g) {
        auto* group = new TGroup(false);
        group->SetName("Group " + std::to_string(g));
        manager.AddGroup(group);
        for (int i = g; i < ContactCount; i += 400)
            manager.AddContactToGroup(manager.Contacts()[i], group);
    }
}

void Type(QWidget* edit, QChar ch)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
}

void Backspace(QWidget* edit)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    SetDataDir(folder.path().toStdString());
    BuildBook();

    TMainForm form;
    form.show();
    QApplication::processEvents();
    auto* groups = form.findChild<QTreeView*>("GroupsListView");
    auto* contacts = form.findChild<QTreeView*>("ContactsListView");
    auto* search = form.findChild<QLineEdit*>("SearchEdit");
    auto repaint = [&] {
        QApplication::processEvents();
        form.repaint();
    };
    auto selectGroup = [&](int row) {
        groups->selectionModel()->setCurrentIndex(groups->model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };

    std::printf("%d contacts; rows sorted with the Russian collator\n", ContactCount);
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) { // the figures grow with the machine's load
        char text[64] = {};
        if (std::fgets(text, sizeof text, load))
            std::printf("load average: %s", text);
        std::fclose(load);
    }
    Report("first fill of the panes (collation keys computed)", {MillisecondsOf([&] {
                                                                     form.FillGroups();
                                                                     repaint();
                                                                 })});
    if (contacts->model()->rowCount() != ContactCount)
        std::printf("unexpected: %d contact rows\n", contacts->model()->rowCount());

    std::vector<double> selectAll;
    for (int run = 0; run < 15; ++run) {
        selectGroup(2 + run % 20); // an ordinary group of 50 members
        repaint();
        selectAll.push_back(MillisecondsOf([&] {
            selectGroup(0);
            repaint();
        }));
    }
    Report("select \"(Все Абоненты)\" (20,000 rows) + repaint", selectAll);

    // Keystrokes: "к" (a broad match), then narrowing; "(" matches every contact.
    std::vector<double> narrowing, everything, deleting;
    const QString words[] = {QStringLiteral("кова"), QStringLiteral("ре 1"), QStringLiteral("+7916")};
    for (int run = 0; run < 5; ++run) {
        for (const QString& word : words) {
            search->clear();
            repaint();
            for (QChar ch : word)
                narrowing.push_back(MillisecondsOf([&] {
                    Type(search, ch);
                    repaint();
                }));
            for (int i = 0; i < word.size(); ++i)
                deleting.push_back(MillisecondsOf([&] {
                    Backspace(search);
                    repaint();
                }));
        }
        everything.push_back(MillisecondsOf([&] {
            Type(search, QLatin1Char('('));
            repaint();
        }));
        Backspace(search);
    }
    // Where the worst keystroke goes: the manager's search, the refill of the
    // contacts pane, the repaint.
    std::vector<double> searchOnly, fillOnly, repaintOnly;
    for (int run = 0; run < 10; ++run) {
        searchOnly.push_back(MillisecondsOf([&] { SmsManager().SearchContacts("("); }));
        fillOnly.push_back(MillisecondsOf([&] { form.FillContacts(); }));
        repaintOnly.push_back(MillisecondsOf(repaint));
    }
    Report("keystroke in the search field + repaint", narrowing);
    Report("backspace in the search field + repaint", deleting);
    Report("keystroke matching all 20,000 contacts + repaint", everything);
    Report("  of which the manager's search", searchOnly);
    Report("  of which FillContacts (20,000 rows)", fillOnly);
    Report("  of which the repaint", repaintOnly);
    return 0;
}
