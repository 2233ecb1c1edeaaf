#include "engine/ReplyPattern.h"

#include "engine/GateTrace.h"
#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "model/Text.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

// Limits of one match: the number of backtracking steps and the memory for
// them. A 64 KB body against a pattern like "(a|b)*c" needs about 25 MB.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kHeapLimitKb = 64 * 1024;

// Most characters of the reply that go into an error text.
constexpr size_t kRefusalTextLimit = 200;

// PCRE2's own tables fold the case of ASCII letters only; the Cyrillic letters
// of CP1251 are folded beforehand, in the pattern and in the body alike.
std::string FoldCyrillic(std::string_view text)
{
    std::string out(text);
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) >= 128)
            ch = static_cast<char>(UpperCaseChar(static_cast<unsigned char>(ch)));
    return out;
}

// The reason a pattern does not compile: in Russian for the usual slips,
// otherwise PCRE2's own (English) text.
std::string CompileErrorText(int code)
{
    switch (code) {
    case PCRE2_ERROR_END_BACKSLASH:
        return Cp1251("\\ в конце выражения");
    case PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER:
        return Cp1251("числа в {} идут не по порядку");
    case PCRE2_ERROR_QUANTIFIER_TOO_BIG:
        return Cp1251("слишком большое число в {}");
    case PCRE2_ERROR_MISSING_SQUARE_BRACKET:
        return Cp1251("нет закрывающей ]");
    case PCRE2_ERROR_CLASS_RANGE_ORDER:
        return Cp1251("диапазон в [] идёт не по порядку");
    case PCRE2_ERROR_QUANTIFIER_INVALID:
        return Cp1251("повторять нечего (*, +, ? или { стоит не после символа или группы)");
    case PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS:
        return Cp1251("нет закрывающей )");
    case PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS:
        return Cp1251("лишняя )");
    case PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP:
    case PCRE2_ERROR_PATTERN_TOO_LARGE:
        return Cp1251("выражение слишком сложное");
    }
    PCRE2_UCHAR text[256];
    if (pcre2_get_error_message(code, text, sizeof text) < 0)
        return IntToStr(code);
    return reinterpret_cast<const char*>(text);
}

struct TCodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
using TCode = std::unique_ptr<pcre2_code, TCodeDeleter>;

// Compiles a non-empty pattern; on failure returns nothing and the Russian error.
TCode Compile(const std::string& pattern, std::string& error)
{
    const std::string folded = FoldCyrillic(pattern);
    int code = 0;
    PCRE2_SIZE offset = 0;
    const uint32_t options = PCRE2_CASELESS | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF |
                             PCRE2_NEVER_UCP | PCRE2_NEVER_BACKSLASH_C;
    TCode compiled(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(folded.data()), folded.size(), options, &code,
                                 &offset, nullptr));
    if (!compiled)
        error = Cp1251("Ошибка в регулярном выражении (позиция ") + IntToStr(static_cast<long long>(offset) + 1) +
                "): " + CompileErrorText(code) + ".";
    return compiled;
}

} // namespace

class TReplyRules::TPattern {
public:
    explicit TPattern(TCode code) : FCode(std::move(code)) {}

    bool Matches(const std::string& foldedBody, const std::string& senderName) const
    {
        std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
            pcre2_match_data_create(1, nullptr), pcre2_match_data_free);
        std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context(
            pcre2_match_context_create(nullptr), pcre2_match_context_free);
        if (!data || !context)
            throw TError(Cp1251("Недостаточно памяти для проверки ответа шлюза."));
        pcre2_set_match_limit(context.get(), kMatchLimit);
        pcre2_set_heap_limit(context.get(), kHeapLimitKb);
        int rc = pcre2_match(FCode.get(), reinterpret_cast<PCRE2_SPTR>(foldedBody.data()), foldedBody.size(), 0, 0,
                             data.get(), context.get());
        if (rc >= 0) // 0: matched, with more groups than the match data holds
            return true;
        if (rc == PCRE2_ERROR_NOMATCH)
            return false;
        throw TError(Cp1251("Не удалось проверить ответ шлюза по шаблону оператора \"") + senderName +
                     Cp1251("\": шаблон слишком сложен для такого ответа."));
    }

private:
    TCode FCode;
};

std::optional<std::string> CheckReplyPattern(const std::string& pattern)
{
    if (pattern.empty())
        return std::nullopt;
    std::string error;
    if (Compile(pattern, error))
        return std::nullopt;
    return error;
}

TReplyRules::TReplyRules(const TStdSmsSender& sender) : FSenderName(sender.Name())
{
    auto compile = [&](const std::string& pattern, const char* caption) -> std::unique_ptr<TPattern> {
        if (pattern.empty())
            return nullptr;
        std::string error;
        TCode code = Compile(pattern, error);
        if (!code)
            throw TError(Cp1251("Неверный шаблон ответа у оператора \"") + FSenderName + "\" (" + Cp1251(caption) +
                         "). " + error);
        return std::make_unique<TPattern>(std::move(code));
    };
    FOk = compile(sender.ReplyOkPattern, "шаблон успешного ответа");
    FTempFail = compile(sender.ReplyTempFailPattern, "шаблон временной ошибки");
    FPermFail = compile(sender.ReplyPermFailPattern, "шаблон постоянной ошибки");
}

TReplyRules::~TReplyRules() = default;

bool TReplyRules::Empty() const { return !FOk && !FTempFail && !FPermFail; }

void TReplyRules::Judge(std::string_view body) const
{
    if (Empty())
        return;
    const std::string folded = FoldCyrillic(body);
    auto verdict = [](const char* text) { ReportGateStep(TGateStep::Verdict, [text] { return Cp1251(text); }); };
    if (FPermFail && FPermFail->Matches(folded, FSenderName)) {
        verdict("Совпал шаблон постоянной ошибки: отказ навсегда, без повторов.");
        throw TPermanentError(RefusalText(body));
    }
    if (FTempFail && FTempFail->Matches(folded, FSenderName)) {
        verdict("Совпал шаблон временной ошибки: сообщение будет отправлено повторно.");
        throw TError(RefusalText(body));
    }
    if (FOk && !FOk->Matches(folded, FSenderName)) {
        verdict("Шаблон успешного ответа не совпал: сообщение будет отправлено повторно.");
        throw TError(RefusalText(body));
    }
    verdict(FOk ? "Совпал шаблон успешного ответа: доставлено."
                : "Шаблоны ошибок не совпали: доставлено.");
}

std::string TReplyRules::RefusalText(std::string_view body)
{
    std::string line;
    size_t pos = 0;
    while (pos < body.size() && line.empty()) {
        size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = body.size();
        line = Trim(ControlCharsToSpaces(body.substr(pos, end - pos)));
        pos = end + 1;
    }
    if (line.size() > kRefusalTextLimit)
        line.resize(kRefusalTextLimit);
    return Cp1251("Шлюз отклонил сообщение: ") + line;
}

struct TCompiledPattern::TCodeHolder {
    TCode Code;
};

TCompiledPattern::TCompiledPattern(const std::string& pattern)
{
    if (pattern.empty())
        return;
    std::string error;
    TCode code = Compile(pattern, error);
    if (!code)
        throw TError(error);
    FCode = std::make_unique<TCodeHolder>(TCodeHolder {std::move(code)});
}

TCompiledPattern::~TCompiledPattern() = default;

bool TCompiledPattern::Matches(std::string_view body) const { return Capture(body).has_value(); }

std::optional<std::string> TCompiledPattern::Capture(std::string_view body) const
{
    if (!FCode)
        return std::nullopt;
    const std::string folded = FoldCyrillic(body); // byte for byte: offsets stay those of the body
    std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create_from_pattern(FCode->Code.get(), nullptr), pcre2_match_data_free);
    std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context(
        pcre2_match_context_create(nullptr), pcre2_match_context_free);
    if (!data || !context)
        throw TError(Cp1251("Недостаточно памяти для проверки ответа шлюза."));
    pcre2_set_match_limit(context.get(), kMatchLimit);
    pcre2_set_heap_limit(context.get(), kHeapLimitKb);
    const int rc = pcre2_match(FCode->Code.get(), reinterpret_cast<PCRE2_SPTR>(folded.data()), folded.size(), 0, 0,
                               data.get(), context.get());
    if (rc == PCRE2_ERROR_NOMATCH)
        return std::nullopt;
    if (rc < 0)
        throw TError(Cp1251("Не удалось проверить ответ шлюза: шаблон слишком сложен для такого ответа."));
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    const int pairs = rc == 0 ? static_cast<int>(pcre2_get_ovector_count(data.get())) : rc;
    for (int group = 1; group < pairs; ++group)
        if (ovector[2 * group] != PCRE2_UNSET)
            return std::string(body.substr(ovector[2 * group], ovector[2 * group + 1] - ovector[2 * group]));
    return std::string(body.substr(ovector[0], ovector[1] - ovector[0]));
}
