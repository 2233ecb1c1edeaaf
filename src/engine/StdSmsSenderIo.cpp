#include "engine/StdSmsSenderIo.h"

#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "storage/IniFile.h"
#include "storage/SmsIo.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The reply-pattern and status keys and the fields they hold, each written only when set.
template <typename TSender>
auto ReplyPatternKeys(TSender& sender)
{
    return std::array {std::pair {"ReplyOkPattern", &sender.ReplyOkPattern},
                       std::pair {"ReplyTempFailPattern", &sender.ReplyTempFailPattern},
                       std::pair {"ReplyPermFailPattern", &sender.ReplyPermFailPattern},
                       std::pair {"StatusIdPattern", &sender.StatusIdPattern},
                       std::pair {"StatusUrl", &sender.StatusUrl},
                       std::pair {"StatusDeliveredPattern", &sender.StatusDeliveredPattern},
                       std::pair {"StatusFailedPattern", &sender.StatusFailedPattern},
                       std::pair {"StatusPendingPattern", &sender.StatusPendingPattern}};
}

} // namespace

void WriteStdSmsSender(TIniFile& ini, const TIoObject& object, const std::string& prefix)
{
    const auto* sender = dynamic_cast<const TStdSmsSender*>(object.SmsSender());
    if (!sender)
        throw SystemError(WrongObjectTypeFault());
    WriteSmsSender(ini, object, prefix);
    const std::string section = IoSectionName(prefix, sender->ClassName(), sender->Name());
    ini.WriteString(section, "WebGate", sender->WebGate);
    ini.WriteString(section, "EmailGate", sender->EmailGate);
    ini.WriteString(section, "EmailSubj", sender->EmailSubj);
    ini.WriteString(section, "EmailBody", sender->EmailBody);
    ini.WriteInteger(section, "GateType", sender->GateType);
    ini.WriteString(section, "Notes", EncodeNotes(sender->Notes));
    if (sender->DlrMask != 0) // Kannel's delivery reports
        ini.WriteInteger(section, "DlrMask", sender->DlrMask);
    // Written only when set, so files that never used them stay as they were.
    for (const auto& [key, value] : ReplyPatternKeys(*sender))
        if (!value->empty())
            ini.WriteString(section, key, *value);
    if (sender->TimeoutSeconds > 0)
        ini.WriteInteger(section, "Timeout", sender->TimeoutSeconds);
}

void ReadStdSmsSender(const TIniFile& ini, TIoObject& object, const std::string& section)
{
    if (!object.Empty() && !dynamic_cast<TStdSmsSender*>(object.SmsSender()))
        throw SystemError(WrongObjectTypeFault());
    if (section.empty())
        throw SystemError(EmptySectionNameFault());
    if (object.Empty())
        object.Adopt(std::unique_ptr<TSmsSender>(std::make_unique<TStdSmsSender>()));
    auto* sender = static_cast<TStdSmsSender*>(object.SmsSender());
    ReadSmsSender(ini, object, section);
    sender->WebGate = ini.ReadString(section, "WebGate", sender->WebGate);
    sender->EmailGate = ini.ReadString(section, "EmailGate", sender->EmailGate);
    sender->EmailSubj = ini.ReadString(section, "EmailSubj", sender->EmailSubj);
    sender->EmailBody = ini.ReadString(section, "EmailBody", sender->EmailBody);
    sender->GateType = ini.ReadInteger(section, "GateType", sender->GateType);
    if (ini.ValueExists(section, "Notes")) // a missing key leaves the notes as they are
        sender->Notes = DecodeNotes(ini.ReadString(section, "Notes", ""));
    sender->DlrMask = ini.ReadInteger(section, "DlrMask", sender->DlrMask);
    for (const auto& [key, value] : ReplyPatternKeys(*sender))
        *value = ini.ReadString(section, key, *value);
    sender->TimeoutSeconds = std::max(0, ini.ReadInteger(section, "Timeout", sender->TimeoutSeconds));
}

void RegisterIoClasses()
{
    RegisterStorageIoClasses();
    if (!IoRegistry().Find("TStdSmsSender"))
        IoRegistry().Register("TStdSmsSender", WriteStdSmsSender, ReadStdSmsSender);
}
