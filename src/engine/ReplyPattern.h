#pragma once
// Reply patterns of a web gate: regular expressions (PCRE2, the flavour of Qt's
// QRegularExpression, with ECMAScript's \uhhhh and \xhh escapes) that classify
// the body of a 2xx reply. They match anywhere in the body, without regard to
// letter case, Cyrillic CP1251 letters included.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TStdSmsSender;

// Nothing when the pattern is empty or valid; otherwise the Russian error text
// (for the operators window, to refuse a pattern where it is entered).
std::optional<std::string> CheckReplyPattern(const std::string& pattern);

// The three patterns of one operator, compiled for one delivery.
class TReplyRules {
public:
    // Raises TError naming the operator and the pattern when one does not
    // compile, so that a bad pattern stops the delivery before anything is sent.
    explicit TReplyRules(const TStdSmsSender& sender);
    ~TReplyRules();
    TReplyRules(const TReplyRules&) = delete;
    TReplyRules& operator=(const TReplyRules&) = delete;

    // No pattern is set: every 2xx reply is a delivery, its body unread.
    bool Empty() const;

    // Judges the body (CP1251) of a 2xx reply: returns when it says delivered;
    // raises TPermanentError when it matches the permanent-failure pattern,
    // TError when it matches the temporary-failure pattern or misses the ok
    // pattern that is set (and when the matching exceeds its limits).
    void Judge(std::string_view body) const;

    // "Шлюз отклонил сообщение: " and the first non-blank line of the body, at
    // most 200 characters, control characters as blanks.
    static std::string RefusalText(std::string_view body);

private:
    class TPattern;
    std::string FSenderName;
    std::unique_ptr<TPattern> FOk, FTempFail, FPermFail;
};
