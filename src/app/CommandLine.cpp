#include "app/CommandLine.h"

#include "model/MessageText.h"
#include "ui/UiText.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

const QString DataDirOption = QStringLiteral("data-dir");

// QCommandLineParser's own refusals, in Russian.
QString RussianParserError(const QString& english)
{
    static const struct {
        const char* Pattern;
        const char* Russian;
    } known[] = {
        {"^Unknown options?:? '?(.*?)'?\\.$", "Неизвестный параметр: %1."},
        {"^Missing value after '(.*)'\\.$", "Не указано значение параметра %1."},
        {"^Unexpected value after '(.*)'\\.$", "Параметр %1 не принимает значения."},
    };
    for (const auto& k : known) {
        const QRegularExpressionMatch m = QRegularExpression(QString::fromLatin1(k.Pattern)).match(english);
        if (m.hasMatch())
            return QString::fromUtf8(k.Russian).arg(m.captured(1));
    }
    return english;
}

TCommandLine Refused(const QString& text)
{
    TCommandLine c;
    c.Kind = TCommandLine::TKind::Error;
    c.Error = text;
    return c;
}

} // namespace

QString HelpText()
{
    return QStringLiteral(
        "Использование:\n"
        "  velotext [--data-dir ПАПКА] [sms:НОМЕР[,НОМЕР...][?body=ТЕКСТ]]\n"
        "  velotext [--data-dir ПАПКА] send (--to ИМЯ|ТЕЛЕФОН)... (--group ГРУППА)...\n"
        "           [--operator ОПЕРАТОР] [--later \"дд.мм.гггг чч:мм\"] [--allow-replace]\n"
        "           (--text ТЕКСТ | --text-file ФАЙЛ | -)\n"
        "  velotext [--data-dir ПАПКА] queue\n"
        "  velotext [--data-dir ПАПКА] history [--since ДАТА] [--failed] [--csv]\n"
        "\n"
        "Без команды открывается окно программы; ссылка sms: открывает сообщение этому адресату.\n"
        "\n"
        "Команды:\n"
        "  send      поставить сообщение в очередь. Если программа запущена с этой папкой данных,\n"
        "            сообщение уходит в её очередь; иначе оно отправляется сразу, без окна.\n"
        "  queue     показать очередь сообщений.\n"
        "  history   показать историю отправленных сообщений.\n"
        "\n"
        "Параметры:\n"
        "  --data-dir ПАПКА      папка данных программы.\n"
        "  --to ИМЯ|ТЕЛЕФОН      абонент по имени (регистр букв не важен) или номер телефона;\n"
        "                        можно указать несколько раз.\n"
        "  --group ГРУППА        все абоненты группы; можно указать несколько раз.\n"
        "  --operator ОПЕРАТОР   оператор для номера, которого нет в адресной книге\n"
        "                        (абонент с этим номером добавляется в адресную книгу).\n"
        "  --later ВРЕМЯ         отправить не раньше \"дд.мм.гггг чч:мм\"; без запущенной программы\n"
        "                        сообщение только встаёт в очередь и уйдёт после её запуска.\n"
        "  --text ТЕКСТ          текст сообщения.\n"
        "  --text-file ФАЙЛ      текст сообщения из файла (UTF-8); \"-\" вместо параметра:\n"
        "                        со стандартного ввода.\n"
        "  --wait[=СЕКУНДЫ]      без запущенной программы: дождаться, что шлюз скажет о доставке\n"
        "                        (не дольше указанного или времени ожидания из настроек);\n"
        "                        код 0 - доставлено, 1 - не доставлено или не отправлено,\n"
        "                        3 - состояние неизвестно.\n"
        "  --allow-replace       отправить текст, даже если в нём есть символы, которых нет\n"
        "                        в кодировке CP1251 (они уйдут как \"?\"); без него такой\n"
        "                        текст не принимается.\n"
        "  --since ДАТА          история начиная с даты \"дд.мм.гггг\" или \"дд.мм.гггг чч:мм\".\n"
        "  --failed              только неотправленные сообщения.\n"
        "  --csv                 история в формате CSV.\n"
        "  -h, --help            эта справка.\n"
        "\n"
        "Коды завершения: 0 - успешно, 1 - сообщение не удалось отправить или данные не\n"
        "загрузились, 2 - неверные параметры или неизвестное имя, 3 - с --wait: состояние\n"
        "доставки неизвестно.\n");
}

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList {QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption dataDir(DataDirOption, QString(), QStringLiteral("dir"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("to"));
    const QCommandLineOption group(QStringLiteral("group"), QString(), QStringLiteral("group"));
    const QCommandLineOption oper(QStringLiteral("operator"), QString(), QStringLiteral("operator"));
    const QCommandLineOption text(QStringLiteral("text"), QString(), QStringLiteral("text"));
    const QCommandLineOption later(QStringLiteral("later"), QString(), QStringLiteral("time"));
    const QCommandLineOption textFile(QStringLiteral("text-file"), QString(), QStringLiteral("file"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("date"));
    const QCommandLineOption failed(QStringLiteral("failed"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption allowReplace(QStringLiteral("allow-replace"));
    const QCommandLineOption wait(QStringLiteral("wait"), QString(), QStringLiteral("seconds"));
    parser.addOptions({help, dataDir, to, group, oper, text, textFile, later, since, failed, csv, allowReplace, wait});
    // "--wait" alone waits as long as the options say: the parser wants a value.
    QStringList given = arguments;
    for (QString& word : given)
        if (word == QLatin1String("--wait") || word == QLatin1String("-wait"))
            word = QStringLiteral("--wait=0");
    if (!parser.parse(QStringList {QStringLiteral("velotext")} + given))
        return Refused(RussianParserError(parser.errorText()));

    TCommandLine c;
    if (parser.isSet(help)) {
        c.Kind = TCommandLine::TKind::Help;
        return c;
    }
    const QStringList dirs = parser.values(dataDir);
    if (!dirs.isEmpty())
        c.DataDir = dirs.last();
    QStringList words = parser.positionalArguments();
    const QString command = words.isEmpty() ? QString() : words.first();
    const auto onlyFor = [&](const QCommandLineOption& option, const char* commands) {
        return parser.isSet(option) ? QStringLiteral("Параметр --%1 допустим только с командой %2.")
                                          .arg(option.names().constFirst(), QString::fromUtf8(commands))
                                    : QString();
    };
    // A word that is neither a command nor a link is named first: the options
    // after a mistyped command would only be reported as out of place.
    if (!command.isEmpty() && command != QLatin1String("send") && command != QLatin1String("queue") &&
        command != QLatin1String("history") && !command.startsWith(QLatin1String("sms:"), Qt::CaseInsensitive))
        return Refused(QStringLiteral("Неизвестная команда: %1. Справка: velotext --help").arg(command));
    QString misplaced;
    for (const auto* option : {&to, &group, &oper, &text, &textFile, &later, &allowReplace, &wait})
        if (misplaced.isEmpty() && command != QLatin1String("send"))
            misplaced = onlyFor(*option, "send");
    for (const auto* option : {&since, &failed, &csv})
        if (misplaced.isEmpty() && command != QLatin1String("history"))
            misplaced = onlyFor(*option, "history");
    if (!misplaced.isEmpty())
        return Refused(misplaced);

    if (command == QLatin1String("send")) {
        c.Kind = TCommandLine::TKind::Send;
        c.To = parser.values(to);
        c.Groups = parser.values(group);
        const QStringList operators = parser.values(oper);
        c.Operator = operators.isEmpty() ? QString() : operators.last();
        c.Later = parser.value(later);
        c.AllowReplace = parser.isSet(allowReplace);
        if (parser.isSet(wait)) {
            bool number = false;
            c.WaitSeconds = parser.value(wait).toLongLong(&number);
            if (!number || c.WaitSeconds < 0)
                return Refused(QStringLiteral("Время --wait указано неверно: %1 (нужно число секунд).").arg(parser.value(wait)));
            if (parser.isSet(later))
                return Refused(QStringLiteral("Параметры --wait и --later несовместимы."));
        }
        if (parser.isSet(later) &&
            !QDateTime::fromString(c.Later, QStringLiteral("dd.MM.yyyy HH:mm")).isValid())
            return Refused(QStringLiteral("Время --later указано неверно: %1 (нужно \"дд.мм.гггг чч:мм\").").arg(c.Later));
        c.TextFromStdin = words.size() == 2 && words[1] == QLatin1String("-");
        if (words.size() > (c.TextFromStdin ? 2 : 1))
            return Refused(QStringLiteral("Лишний параметр команды send: %1.").arg(words.last()));
        const int sources = int(parser.isSet(text)) + int(parser.isSet(textFile)) + int(c.TextFromStdin);
        if (sources != 1)
            return Refused(sources == 0 ? QStringLiteral("Не указан текст сообщения (--text, --text-file или -).")
                                        : QStringLiteral("Текст сообщения указан больше одного раза."));
        if (parser.values(text).size() > 1 || parser.values(textFile).size() > 1)
            return Refused(QStringLiteral("Текст сообщения указан больше одного раза."));
        c.Text = parser.value(text);
        c.TextFile = parser.value(textFile);
        if (c.To.isEmpty() && c.Groups.isEmpty())
            return Refused(QStringLiteral("Не указан ни один адресат (--to или --group)."));
        return c;
    }
    if (command == QLatin1String("queue") || command == QLatin1String("history")) {
        if (words.size() > 1)
            return Refused(QStringLiteral("Лишний параметр команды %1: %2.").arg(command, words[1]));
        c.Kind = command == QLatin1String("queue") ? TCommandLine::TKind::Queue : TCommandLine::TKind::History;
        c.Since = parser.value(since);
        c.FailedOnly = parser.isSet(failed);
        c.Csv = parser.isSet(csv);
        return c;
    }
    for (const QString& word : words) {
        if (!word.startsWith(QLatin1String("sms:"), Qt::CaseInsensitive))
            return Refused(QStringLiteral("Неизвестная команда: %1. Справка: velotext --help").arg(word));
        c.Links << word;
    }
    return c;
}

bool TCommandLine::ReadText()
{
    QFile file;
    const QString source = TextFromStdin ? QStringLiteral("стандартного ввода") : TextFile;
    if (TextFromStdin ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(TextFile), file.open(QIODevice::ReadOnly))) {
        // Enough to tell a text that is too long: a device or a huge file is not read to its end.
        constexpr qint64 cap = 4 << 20;
        QByteArray bytes = file.read(cap + 1);
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        std::string problem = MessageBytesProblem(std::string_view(bytes.constData(), size_t(bytes.size())));
        if (problem.empty() && bytes.size() > cap)
            problem = FromQt(QStringLiteral("он длиннее %1 символов").arg(MaxMessageLength));
        if (problem.empty()) {
            Text = QString::fromUtf8(bytes);
            TextFile.clear();
            TextFromStdin = false;
            return true;
        }
        Kind = TKind::Error;
        Error = QStringLiteral("Текст сообщения из %1 не принят: %2.").arg(source, ToQt(problem));
        return false;
    }
    Kind = TKind::Error;
    Error = QStringLiteral("Не удалось прочитать текст сообщения из %1: %2.").arg(source, file.errorString());
    return false;
}

QStringList TCommandLine::ForHandOver() const
{
    QStringList out;
    if (!DataDir.isEmpty())
        out << QStringLiteral("--data-dir") << DataDir;
    switch (Kind) {
    case TKind::Send:
        out << QStringLiteral("send");
        for (const QString& name : To)
            out << QStringLiteral("--to") << name;
        for (const QString& name : Groups)
            out << QStringLiteral("--group") << name;
        if (!Operator.isEmpty())
            out << QStringLiteral("--operator") << Operator;
        if (!Later.isEmpty())
            out << QStringLiteral("--later") << Later;
        if (AllowReplace)
            out << QStringLiteral("--allow-replace");
        out << QStringLiteral("--text") << Text;
        break;
    case TKind::Queue:
        out << QStringLiteral("queue");
        break;
    case TKind::History:
        out << QStringLiteral("history");
        if (!Since.isEmpty())
            out << QStringLiteral("--since") << Since;
        if (FailedOnly)
            out << QStringLiteral("--failed");
        if (Csv)
            out << QStringLiteral("--csv");
        break;
    default:
        out << Links;
        break;
    }
    return out;
}

void PrintToTerminal(FILE* stream, const QString& text)
{
    if (text.isEmpty())
        return;
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fputs(lines.toLocal8Bit().constData(), stream);
    if (!lines.endsWith(QLatin1Char('\n')))
        std::fputs("\n", stream);
    std::fflush(stream);
}
